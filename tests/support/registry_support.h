#pragma once
// Registry helpers for tests that write uninstall registrations, in the real views or a scratch tree.
#include <windows.h>

#include <string>

namespace qbtest {

constexpr wchar_t kUninstallPath[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr wchar_t kWow64UninstallPath[] = L"SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// A fresh key under HKCU\Software\QuillboxTest with two subtrees standing in for HKLM and HKCU;
// the whole tree is deleted when the object goes.
class ScratchRegistry {
public:
    ScratchRegistry();
    ~ScratchRegistry();
    ScratchRegistry(const ScratchRegistry&) = delete;
    ScratchRegistry& operator=(const ScratchRegistry&) = delete;

    HKEY machine() const { return machine_; }
    HKEY user() const { return user_; }

private:
    std::wstring path_;
    HKEY machine_ = nullptr;
    HKEY user_ = nullptr;
};

// Creates root\path\key (view: 0, KEY_WOW64_64KEY or KEY_WOW64_32KEY) with a "DisplayName" of the
// given registry type and raw bytes; no display name at all when type is REG_NONE.
bool writeUninstallEntry(HKEY root, const wchar_t* path, const std::wstring& key, DWORD type,
                         const std::wstring& displayName, REGSAM view = 0);
bool writeUninstallEntry(HKEY root, const wchar_t* path, const std::wstring& key, const std::wstring& displayName,
                         REGSAM view = 0);
// Deletes root\path\key and everything under it; true when it is gone (or was never there).
bool deleteUninstallEntry(HKEY root, const wchar_t* path, const std::wstring& key, REGSAM view = 0);
// The REG_SZ "DisplayName" of root\path\key, empty when the key or value is missing.
std::wstring readDisplayName(HKEY root, const wchar_t* path, const std::wstring& key, REGSAM view = 0);
bool uninstallEntryExists(HKEY root, const wchar_t* path, const std::wstring& key, REGSAM view = 0);

}  // namespace qbtest
