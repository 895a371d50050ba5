#include "downloads/download_manager.h"

#include <initializer_list>
#include <iterator>

#include "downloads/file_naming.h"

namespace {

constexpr int kMaxNameNumber = 9999;

// Windows compares file names without regard to case.
std::wstring pathKey(const std::wstring& path) {
    std::wstring key = path;
    if (!key.empty()) ::CharUpperBuffW(&key[0], static_cast<DWORD>(key.size()));
    return key;
}

bool fileExists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

// Free: no other living task holds it (as its file or as its ".part"), and no file of that name exists.
bool DownloadManager::nameIsFree(const Task& task, const std::wstring& path) {
    bool ownClaim = false;
    for (const std::wstring& key : {pathKey(path), pathKey(path + L".part")}) {
        const auto range = claimedPaths.equal_range(key);
        for (auto it = range.first; it != range.second; ++it) {
            const std::shared_ptr<Task> owner = it->second.lock();
            if (!owner) continue;
            if (owner.get() != &task) return false;
            ownClaim = true;
        }
    }
    return ownClaim || !fileExists(path);
}

std::wstring DownloadManager::reservePath(const std::shared_ptr<Task>& task, const std::wstring& folder,
                                          const std::wstring& fileName, bool withPartial) {
    const std::wstring prefix = folder.empty() ? std::wstring() : folder + L"\\";
    std::wstring path;
    std::lock_guard<std::mutex> lock(namesMutex);
    for (auto it = claimedPaths.begin(); it != claimedPaths.end();)
        it = it->second.expired() ? claimedPaths.erase(it) : std::next(it);
    for (int number = 1; number <= kMaxNameNumber; ++number) {
        path = prefix + (number == 1 ? fileName : numberedFileName(fileName, number));
        if (nameIsFree(*task, path)) break;
    }
    claimedPaths.emplace(pathKey(path), task);
    if (withPartial) claimedPaths.emplace(pathKey(path + L".part"), task);
    return path;
}

void DownloadManager::claimFileName(const std::shared_ptr<Task>& task, const std::wstring& folder,
                                    const std::wstring& fileName) {
    const std::wstring path = reservePath(task, folder, fileName, true);
    std::lock_guard<std::mutex> lock(task->pathMutex);
    task->filePath = path;
    task->partPath = path + L".part";
}

void DownloadManager::claimArchiveName(const std::shared_ptr<Task>& task, const std::wstring& kind) {
    const std::wstring current = task->finalPath();
    const size_t separator = current.find_last_of(L"\\/");
    const std::wstring folder = separator == std::wstring::npos ? std::wstring() : current.substr(0, separator);
    std::wstring fileName = separator == std::wstring::npos ? current : current.substr(separator + 1);
    const size_t dot = fileName.rfind(L'.');
    if (dot != std::wstring::npos) fileName.resize(dot);
    fileName += L"." + kind;
    const std::wstring path = reservePath(task, folder, fileName, false);
    // The partial file keeps its name; only the final name follows the content.
    std::lock_guard<std::mutex> lock(task->pathMutex);
    task->filePath = path;
}
