#include "app/sign_in_start.h"

#include <windows.h>

#include "base/win_handles.h"

namespace {

std::wstring ownPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return std::wstring();
        if (length < path.size()) return path.substr(0, length);
        path.resize(path.size() * 2);
    }
}

std::wstring runValue() {
    DWORD bytes = 0;
    if (::RegGetValueW(HKEY_CURRENT_USER, kRunKeyPath, kRunValueName, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) !=
        ERROR_SUCCESS)
        return std::wstring();
    std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
    if (::RegGetValueW(HKEY_CURRENT_USER, kRunKeyPath, kRunValueName, RRF_RT_REG_SZ, nullptr, value.data(), &bytes) !=
        ERROR_SUCCESS)
        return std::wstring();
    value.resize(bytes / sizeof(wchar_t));
    while (!value.empty() && value.back() == L'\0') value.pop_back();
    return value;
}

}  // namespace

std::wstring signInCommand(const std::wstring& exePath) { return L"\"" + exePath + L"\" --background"; }

bool startsAtSignIn() {
    const std::wstring path = ownPath();
    return !path.empty() && _wcsicmp(runValue().c_str(), signInCommand(path).c_str()) == 0;
}

bool setStartAtSignIn(bool on) {
    HKEY opened = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, kRunKeyPath, 0, nullptr, 0, KEY_SET_VALUE | KEY_QUERY_VALUE, nullptr,
                          &opened, nullptr) != ERROR_SUCCESS)
        return false;
    qb::UniqueRegKey key(opened);
    if (!on) {
        const LSTATUS removed = ::RegDeleteValueW(key.get(), kRunValueName);
        return removed == ERROR_SUCCESS || removed == ERROR_FILE_NOT_FOUND;
    }
    const std::wstring path = ownPath();
    if (path.empty()) return false;
    const std::wstring command = signInCommand(path);
    const DWORD bytes = static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t));
    return ::RegSetValueExW(key.get(), kRunValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                            bytes) == ERROR_SUCCESS;
}
