// A GUI-less test installer whose behaviour comes from a settings block appended to its own file:
//   <UTF-8 "key=value\n" lines> <text length, 32-bit little-endian> "QBTI-END"
// Settings: key (uninstall subkey), name (DisplayName), version, publisher,
// root = hkcu | hklm | hklm32 | none, delay (seconds after exit before registering),
// runtime (seconds to run before registering/exiting), exit (exit code).
// "/uninstall" removes the registration again; "/register-later" is the delayed helper.
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr char kMagic[] = "QBTI-END";
constexpr size_t kMagicLength = 8;
constexpr uint32_t kMaxSettings = 64 * 1024;
constexpr wchar_t kUninstallPath[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

using Settings = std::map<std::string, std::string>;

class FileHandle {
public:
    explicit FileHandle(HANDLE h) : h_(h) {}
    ~FileHandle() {
        if (valid()) CloseHandle(h_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    bool valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return h_; }

private:
    HANDLE h_;
};

class RegKey {
public:
    RegKey() = default;
    ~RegKey() {
        if (key_) RegCloseKey(key_);
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    HKEY* out() { return &key_; }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

std::wstring widen(const std::string& s) {
    if (s.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &w[0], n);
    return w;
}

std::wstring ownPath() {
    std::wstring path(32768, L'\0');
    DWORD n = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    path.resize(n);
    return path;
}

bool readAt(HANDLE file, int64_t offset, void* buffer, DWORD length) {
    LARGE_INTEGER pos;
    pos.QuadPart = offset;
    DWORD got = 0;
    return SetFilePointerEx(file, pos, nullptr, FILE_BEGIN) && ReadFile(file, buffer, length, &got, nullptr) &&
           got == length;
}

// Settings stay empty when the file carries no block; the defaults then apply.
Settings readSettings(const std::wstring& exe) {
    Settings settings;
    FileHandle file(CreateFileW(exe.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size;
    if (!file.valid() || !GetFileSizeEx(file.get(), &size) || size.QuadPart < 12) return settings;
    unsigned char tail[12];
    if (!readAt(file.get(), size.QuadPart - 12, tail, 12) || memcmp(tail + 4, kMagic, kMagicLength) != 0)
        return settings;
    uint32_t length = tail[0] | (tail[1] << 8) | (tail[2] << 16) | (static_cast<uint32_t>(tail[3]) << 24);
    if (length > kMaxSettings || length > size.QuadPart - 12) return settings;
    std::string text(length, '\0');
    if (length && !readAt(file.get(), size.QuadPart - 12 - length, &text[0], length)) return settings;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t eq = line.find('=');
        if (eq != std::string::npos) settings[line.substr(0, eq)] = line.substr(eq + 1);
        start = end + 1;
    }
    return settings;
}

std::string setting(const Settings& s, const char* name, const char* fallback) {
    auto it = s.find(name);
    return it == s.end() ? fallback : it->second;
}

struct Target {
    HKEY root;
    REGSAM view;
};

bool targetFor(const std::string& root, Target* target) {
    if (root == "hkcu") *target = {HKEY_CURRENT_USER, 0};
    else if (root == "hklm") *target = {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY};
    else if (root == "hklm32") *target = {HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY};
    else return false;
    return true;
}

bool setString(HKEY key, const wchar_t* name, const std::wstring& value) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool registerEntry(const Settings& s, const std::wstring& exe) {
    Target target;
    if (!targetFor(setting(s, "root", "hkcu"), &target)) return true;  // root=none registers nothing
    std::wstring subkey = kUninstallPath + widen(setting(s, "key", "QuillboxTestInstaller"));
    RegKey key;
    if (RegCreateKeyExW(target.root, subkey.c_str(), 0, nullptr, 0, KEY_WRITE | target.view, nullptr, key.out(),
                        nullptr) != ERROR_SUCCESS)
        return false;
    std::wstring name = widen(setting(s, "name", setting(s, "key", "Quillbox Test Installer").c_str()));
    std::wstring uninstall = L"\"" + exe + L"\" /uninstall";
    DWORD one = 1;
    bool ok = setString(key.get(), L"DisplayName", name) &&
              setString(key.get(), L"DisplayVersion", widen(setting(s, "version", "1.0"))) &&
              setString(key.get(), L"Publisher", widen(setting(s, "publisher", "Quillbox"))) &&
              setString(key.get(), L"UninstallString", uninstall) &&
              setString(key.get(), L"QuietUninstallString", uninstall);
    RegSetValueExW(key.get(), L"NoModify", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof(one));
    RegSetValueExW(key.get(), L"NoRepair", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof(one));
    return ok;
}

int unregisterEntry(const Settings& s) {
    Target target;
    if (!targetFor(setting(s, "root", "hkcu"), &target)) return 0;
    std::wstring subkey = kUninstallPath + widen(setting(s, "key", "QuillboxTestInstaller"));
    LSTATUS rc = RegDeleteKeyExW(target.root, subkey.c_str(), target.view, 0);
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND ? 0 : 1;
}

// The installer has already exited when the delayed helper registers.
bool startDelayedHelper(const std::wstring& exe) {
    std::wstring cmd = L"\"" + exe + L"\" /register-later";
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, DETACHED_PROCESS | CREATE_NO_WINDOW,
                        nullptr, nullptr, &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR cmdLine, int) {
    const std::wstring exe = ownPath();
    const Settings s = readSettings(exe);
    const std::wstring args = cmdLine ? cmdLine : L"";
    const DWORD delay = static_cast<DWORD>(std::strtoul(setting(s, "delay", "0").c_str(), nullptr, 10));
    const DWORD runtime = static_cast<DWORD>(std::strtoul(setting(s, "runtime", "0").c_str(), nullptr, 10));
    const int exitCode = std::atoi(setting(s, "exit", "0").c_str());

    if (args.find(L"/uninstall") != std::wstring::npos) return unregisterEntry(s);
    if (args.find(L"/register-later") != std::wstring::npos) {
        Sleep(delay * 1000);
        return registerEntry(s, exe) ? 0 : 1603;
    }
    Sleep(runtime * 1000);
    if (delay > 0) return startDelayedHelper(exe) ? exitCode : 1603;
    return registerEntry(s, exe) ? exitCode : 1603;
}
