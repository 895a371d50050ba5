#include "config/local_cache.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <mutex>

#include "base/atomic_file.h"
#include "base/win_handles.h"

namespace cache {
namespace {

std::mutex folderMutex;
std::wstring overrideFolder;

std::wstring defaultFolder() {
    wchar_t buffer[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer)) || !buffer[0])
        return std::wstring();
    return std::wstring(buffer) + L"\\Tidewell\\cache";
}

// Creates every missing folder of an absolute path, parent first.
void createFolders(const std::wstring& path) {
    for (size_t cut = path.find(L'\\', 3); cut != std::wstring::npos; cut = path.find(L'\\', cut + 1))
        ::CreateDirectoryW(path.substr(0, cut).c_str(), nullptr);
    ::CreateDirectoryW(path.c_str(), nullptr);
}

bool safeChar(wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || c == L'.' ||
           c == L'_' || c == L'-';
}

std::wstring pathOf(const std::wstring& name) {
    const std::wstring root = folder();
    return root.empty() ? root : root + L"\\" + name;
}

}  // namespace

std::wstring folder() {
    std::lock_guard<std::mutex> lock(folderMutex);
    return overrideFolder.empty() ? defaultFolder() : overrideFolder;
}

void setFolder(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(folderMutex);
    overrideFolder = path;
}

bool isSafeName(const std::wstring& name) {
    if (name.empty()) return false;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find(L'\\', start);
        if (end == std::wstring::npos) end = name.size();
        const std::wstring part = name.substr(start, end - start);
        if (part.empty() || part == L"." || part == L"..") return false;
        for (wchar_t c : part)
            if (!safeChar(c)) return false;
        start = end + 1;
    }
    return true;
}

std::optional<MappedFile> map(const std::wstring& name, size_t maxBytes) {
    if (!isSafeName(name)) return std::nullopt;
    const std::wstring path = pathOf(name);
    if (path.empty()) return std::nullopt;
    qb::UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::nullopt;
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0 ||
        static_cast<unsigned long long>(size.QuadPart) > maxBytes)
        return std::nullopt;
    qb::UniqueHandle mapping(::CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mapping) return std::nullopt;
    MappedFile mapped;
    mapped.view.reset(::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));  // keeps the mapping alive
    if (!mapped.view) return std::nullopt;
    mapped.size = static_cast<size_t>(size.QuadPart);
    return mapped;
}

std::optional<std::string> read(const std::wstring& name, size_t maxBytes) {
    if (!isSafeName(name)) return std::nullopt;
    const std::wstring path = pathOf(name);
    if (path.empty()) return std::nullopt;
    qb::UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return std::nullopt;
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 ||
        static_cast<unsigned long long>(size.QuadPart) > maxBytes)
        return std::nullopt;
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        const DWORD ask = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
        if (!::ReadFile(file.get(), &bytes[done], ask, &got, nullptr) || got == 0) return std::nullopt;
        done += got;
    }
    return bytes;
}

bool write(const std::wstring& name, const std::string& bytes) {
    if (!isSafeName(name)) return false;
    const std::wstring path = pathOf(name);
    if (path.empty()) return false;
    createFolders(path.substr(0, path.find_last_of(L'\\')));
    return qb::writeFileAtomically(path, bytes) == ERROR_SUCCESS;
}

bool remove(const std::wstring& name) {
    if (!isSafeName(name)) return false;
    const std::wstring path = pathOf(name);
    if (path.empty()) return false;
    return ::DeleteFileW(path.c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND;
}

}  // namespace cache
