#include "downloads/download_directory.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <mutex>

namespace {

std::mutex gOverrideMutex;
std::wstring gOverride;  // guarded by gOverrideMutex: the settings window writes it while jobs read it
std::wstring gResolved;  // guarded by gOverrideMutex: the folder downloadDirectory last answered

std::wstring knownDownloadsFolder() {
    PWSTR known = nullptr;
    std::wstring folder;
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_Downloads, 0, nullptr, &known)) && known) folder = known;
    ::CoTaskMemFree(known);
    if (!folder.empty()) return folder;
    wchar_t buffer[MAX_PATH] = {};
    if (SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES_COMMONX86, nullptr, 0, buffer))) folder = buffer;
    return folder;
}

}  // namespace

void setDownloadDirOverride(const std::wstring& path) {
    std::wstring trimmed = path;
    while (!trimmed.empty() && trimmed.back() == L'\\') trimmed.pop_back();
    std::lock_guard<std::mutex> lock(gOverrideMutex);
    gOverride = trimmed;
    gResolved.clear();
}

namespace {

// The folder downloads go to; made when `make` is set (shown folders are only named: no disk work).
std::wstring resolveDownloadDirectory(const std::wstring& chosen, bool make) {
    if (!chosen.empty()) {
        if (make) ::CreateDirectoryW(chosen.c_str(), nullptr);
        return chosen;
    }
    std::wstring folder = knownDownloadsFolder();
    if (!folder.empty()) {
        folder += L"\\Quillbox";
        if (make) ::CreateDirectoryW(folder.c_str(), nullptr);
        return folder;
    }
    wchar_t module[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, module, MAX_PATH);
    const std::wstring self(module);
    const size_t cut = self.find_last_of(L"\\/");
    return cut == std::wstring::npos ? std::wstring(L".") : self.substr(0, cut);
}

}  // namespace

std::wstring downloadDirectory() {
    std::wstring chosen;
    {
        std::lock_guard<std::mutex> lock(gOverrideMutex);
        chosen = gOverride;
    }
    std::wstring folder = resolveDownloadDirectory(chosen, true);
    std::lock_guard<std::mutex> lock(gOverrideMutex);
    if (gOverride == chosen) gResolved = folder;  // unless the settings chose another meanwhile
    return folder;
}

std::wstring shownDownloadDirectory() {
    std::wstring chosen;
    {
        std::lock_guard<std::mutex> lock(gOverrideMutex);
        if (!gResolved.empty()) return gResolved;
        chosen = gOverride;
    }
    return resolveDownloadDirectory(chosen, false);
}
