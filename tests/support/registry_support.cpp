#include "support/registry_support.h"

#include <atomic>

#include "base/win_handles.h"

namespace qbtest {

namespace {

constexpr wchar_t kScratchParent[] = L"Software\\QuillboxTest";

HKEY createKey(HKEY root, const std::wstring& path, REGSAM view) {
    HKEY key = nullptr;
    if (::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return nullptr;
    return key;
}

}  // namespace

ScratchRegistry::ScratchRegistry() {
    static std::atomic<int> counter{0};
    path_ = std::wstring(kScratchParent) + L"\\run-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
            std::to_wstring(counter++);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
    machine_ = createKey(HKEY_CURRENT_USER, path_ + L"\\machine", 0);
    user_ = createKey(HKEY_CURRENT_USER, path_ + L"\\user", 0);
}

ScratchRegistry::~ScratchRegistry() {
    if (machine_) ::RegCloseKey(machine_);
    if (user_) ::RegCloseKey(user_);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
    ::RegDeleteKeyW(HKEY_CURRENT_USER, kScratchParent);  // only succeeds once no other run is left
}

bool writeUninstallEntry(HKEY root, const wchar_t* path, const std::wstring& key, DWORD type,
                         const std::wstring& displayName, REGSAM view) {
    qb::UniqueRegKey entry(createKey(root, std::wstring(path) + L"\\" + key, view));
    if (!entry) return false;
    if (type == REG_NONE) return true;
    return ::RegSetValueExW(entry.get(), L"DisplayName", 0, type, reinterpret_cast<const BYTE*>(displayName.data()),
                            static_cast<DWORD>(displayName.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool writeUninstallEntry(HKEY root, const wchar_t* path, const std::wstring& key, const std::wstring& displayName,
                         REGSAM view) {
    // Stored with its terminating NUL, as installers write it.
    return writeUninstallEntry(root, path, key, REG_SZ, std::wstring(displayName.c_str(), displayName.size() + 1),
                               view);
}

bool deleteUninstallEntry(HKEY root, const wchar_t* path, const std::wstring& key, REGSAM view) {
    qb::UniqueRegKey parent;
    if (::RegOpenKeyExW(root, path, 0, KEY_ALL_ACCESS | view, parent.put()) != ERROR_SUCCESS) return true;
    const LSTATUS rc = ::RegDeleteTreeW(parent.get(), key.c_str());
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return false;
    const LSTATUS last = ::RegDeleteKeyExW(parent.get(), key.c_str(), view, 0);
    return last == ERROR_SUCCESS || last == ERROR_FILE_NOT_FOUND;
}

std::wstring readDisplayName(HKEY root, const wchar_t* path, const std::wstring& key, REGSAM view) {
    qb::UniqueRegKey entry;
    if (::RegOpenKeyExW(root, (std::wstring(path) + L"\\" + key).c_str(), 0, KEY_READ | view, entry.put()) !=
        ERROR_SUCCESS)
        return {};
    wchar_t buffer[1024] = {};
    DWORD type = 0;
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    if (::RegQueryValueExW(entry.get(), L"DisplayName", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return {};
    return buffer;
}

bool uninstallEntryExists(HKEY root, const wchar_t* path, const std::wstring& key, REGSAM view) {
    qb::UniqueRegKey entry;
    return ::RegOpenKeyExW(root, (std::wstring(path) + L"\\" + key).c_str(), 0, KEY_READ | view, entry.put()) ==
           ERROR_SUCCESS;
}

}  // namespace qbtest
