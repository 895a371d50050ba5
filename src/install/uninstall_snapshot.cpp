#include "install/uninstall_snapshot.h"

#include <algorithm>
#include <cwchar>

#include "base/win_handles.h"

namespace {

constexpr DWORD kKeyNameChars = 256;
constexpr DWORD kDisplayNameBytes = 512;
// A display name may carry up to this many extra characters (edition, bitness, year) and still match.
constexpr size_t kNameSuffixMargin = 16;

constexpr wchar_t kNativeUninstall[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr wchar_t kWow64Uninstall[] = L"SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// Any failure only means this registration contributes no display name.
bool readShortText(HKEY key, const wchar_t* name, std::wstring& out) {
    wchar_t buffer[kDisplayNameBytes / sizeof(wchar_t)] = {};
    DWORD type = 0;
    DWORD size = kDisplayNameBytes;
    if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    out.assign(buffer, ::wcsnlen(buffer, size / sizeof(wchar_t)));
    return true;
}

void readDisplayName(HKEY key, UninstallSnapshot& snapshot) {
    std::wstring name, version;
    if (!key || !readShortText(key, L"DisplayName", name)) return;
    readShortText(key, L"DisplayVersion", version);
    snapshot.displayNames.push_back(std::move(name));
    snapshot.displayVersions.push_back(std::move(version));
}

void scanLocation(HKEY root, const wchar_t* path, const wchar_t* prefix,
                  const std::function<void(const std::wstring&, HKEY)>& visit) {
    qb::UniqueRegKey location;
    if (::RegOpenKeyExW(root, path, 0, KEY_READ, location.put()) != ERROR_SUCCESS) return;
    for (DWORD index = 0;; ++index) {
        wchar_t name[kKeyNameChars];
        DWORD length = kKeyNameChars;
        if (::RegEnumKeyExW(location.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        qb::UniqueRegKey entry;
        const bool opened = ::RegOpenKeyExW(location.get(), name, 0, KEY_READ, entry.put()) == ERROR_SUCCESS;
        visit(prefix + std::wstring(name, length), opened ? entry.get() : nullptr);
    }
}

}  // namespace

void forEachUninstallEntry(const UninstallRoots& roots, const std::function<void(const std::wstring&, HKEY)>& visit) {
    scanLocation(roots.machine, kNativeUninstall, L"LM64\\", visit);
    scanLocation(roots.machine, kWow64Uninstall, L"LM32\\", visit);
    scanLocation(roots.user, kNativeUninstall, L"CU\\", visit);
}

UninstallSnapshot takeUninstallSnapshotUnder(const UninstallRoots& roots) {
    UninstallSnapshot snapshot;
    forEachUninstallEntry(roots, [&snapshot](const std::wstring& key, HKEY entry) {
        snapshot.keys.insert(key);
        readDisplayName(entry, snapshot);
    });
    return snapshot;
}

UninstallSnapshot takeUninstallSnapshot() { return takeUninstallSnapshotUnder(UninstallRoots{}); }

bool hasNewUninstallKey(const UninstallSnapshot& before, const UninstallSnapshot& now) {
    for (const std::wstring& key : now.keys) {
        if (before.keys.count(key) == 0) return true;
    }
    return false;
}

bool hasNewUninstallEntry(const UninstallSnapshot& before) {
    return hasNewUninstallKey(before, takeUninstallSnapshot());
}

std::wstring normalizeAppName(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    for (wchar_t c : text) {
        if (c == L' ' || c == L'\x3000' || c == L'\t') continue;
        out.push_back(c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c);
    }
    return out;
}

bool displayNameMatches(const std::wstring& wanted, const std::wstring& displayName) {
    if (wanted.empty()) return false;
    const std::wstring listed = normalizeAppName(displayName);
    if (listed == wanted) return true;
    return listed.size() > wanted.size() && listed.size() - wanted.size() <= kNameSuffixMargin &&
           listed.compare(0, wanted.size(), wanted) == 0;
}

std::wstring listedVersions(const std::wstring& appName, const UninstallSnapshot& snapshot) {
    const std::wstring wanted = normalizeAppName(appName);
    std::vector<std::wstring> versions;
    for (size_t i = 0; i < snapshot.displayNames.size(); ++i) {
        if (!displayNameMatches(wanted, snapshot.displayNames[i])) continue;
        // "=" marks a listed app even when it gives no version.
        versions.push_back(L"=" + (i < snapshot.displayVersions.size() ? snapshot.displayVersions[i] : L""));
    }
    std::sort(versions.begin(), versions.end());
    std::wstring joined;
    for (const std::wstring& version : versions) joined += version;
    return joined;
}

bool isAppListed(const std::wstring& appName, const UninstallSnapshot& snapshot) {
    const std::wstring wanted = normalizeAppName(appName);
    for (const std::wstring& displayName : snapshot.displayNames)
        if (displayNameMatches(wanted, displayName)) return true;
    return false;
}
