#include <initializer_list>
#include <iterator>

#include "downloads/download_manager.h"
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

// Free: no other living task holds it (as its file or as its ".part"), and no file of that name (nor,
// when the partial name comes with it, of that partial name) exists unless this task holds that name.
bool DownloadManager::nameIsFree(const Task& task, const std::wstring& path, bool withPartial) {
    enum class Holder { Nobody, This, Other };
    const auto holderOf = [&](const std::wstring& name) {
        Holder holder = Holder::Nobody;
        const auto range = claimedPaths.equal_range(pathKey(name));
        for (auto it = range.first; it != range.second; ++it) {
            const std::shared_ptr<Task> owner = it->second.lock();
            if (owner) holder = owner.get() == &task ? Holder::This : Holder::Other;
            if (holder == Holder::Other) break;
        }
        return holder;
    };
    const Holder final = holderOf(path);
    const Holder partial = holderOf(path + L".part");
    if (final == Holder::Other || partial == Holder::Other) return false;
    if (final == Holder::Nobody && fileExists(path)) return false;
    return !(withPartial && partial == Holder::Nobody && fileExists(path + L".part"));
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
        if (nameIsFree(*task, path, withPartial)) break;
    }
    claimedPaths.emplace(pathKey(path), task);
    if (withPartial) claimedPaths.emplace(pathKey(path + L".part"), task);
    return path;
}

void DownloadManager::releaseClaim(const Task& task, const std::wstring& path) {
    std::lock_guard<std::mutex> lock(namesMutex);
    const auto range = claimedPaths.equal_range(pathKey(path));
    for (auto it = range.first; it != range.second;) {
        const std::shared_ptr<Task> owner = it->second.lock();
        it = !owner || owner.get() == &task ? claimedPaths.erase(it) : std::next(it);
    }
}

void DownloadManager::claimFileName(const std::shared_ptr<Task>& task, const std::wstring& folder,
                                    const std::wstring& fileName) {
    const std::wstring path = reservePath(task, folder, fileName, true);
    std::lock_guard<std::mutex> lock(task->pathMutex);
    task->identity.filePath = path;
    task->identity.partPath = path + L".part";
    task->identity.fileName = fileName;
}

void DownloadManager::claimSniffedName(const std::shared_ptr<Task>& task, const std::wstring& extension) {
    std::wstring current, fileName;
    {
        std::lock_guard<std::mutex> lock(task->pathMutex);
        current = task->identity.filePath;
        fileName = task->identity.fileName;
    }
    if (current.size() > extension.size() &&
        pathKey(current.substr(current.size() - extension.size())) == pathKey(extension))
        return;
    const std::wstring renamed = withExtension(fileName, extension);
    // The partial file keeps its name; only the final name follows the content.
    const std::wstring path = reservePath(task, folderOfPath(current), renamed, false);
    std::lock_guard<std::mutex> lock(task->pathMutex);
    task->identity.filePath = path;
    task->identity.fileName = renamed;
}

void DownloadManager::claimNamesAgain(const std::shared_ptr<Task>& task) {
    std::wstring fileName, finalPath, partialPath;
    {
        std::lock_guard<std::mutex> lock(task->pathMutex);
        fileName = task->identity.fileName;
        finalPath = task->identity.filePath;
        partialPath = task->identity.partPath;
    }
    // Our own claims would make the taken names look free to us.
    releaseClaim(*task, finalPath);
    releaseClaim(*task, partialPath);
    claimFileName(task, folderOfPath(finalPath), fileName);
}

bool DownloadManager::claimNextFinalName(const std::shared_ptr<Task>& task) {
    std::wstring current, fileName;
    {
        std::lock_guard<std::mutex> lock(task->pathMutex);
        current = task->identity.filePath;
        fileName = task->identity.fileName;
    }
    releaseClaim(*task, current);  // our own claim would make the taken name look free to us
    const std::wstring path = reservePath(task, folderOfPath(current), fileName, false);
    if (pathKey(path) == pathKey(current)) return false;
    std::lock_guard<std::mutex> lock(task->pathMutex);
    task->identity.filePath = path;
    return true;
}

bool DownloadManager::claimRecordedNames(const std::shared_ptr<Task>& task, const Task* predecessor) {
    std::wstring finalPath, partialPath;
    {
        std::lock_guard<std::mutex> lock(task->pathMutex);
        finalPath = task->identity.filePath;
        partialPath = task->identity.partPath;
    }
    std::lock_guard<std::mutex> lock(namesMutex);
    const auto heldByAnother = [&](const std::wstring& path) {
        const auto range = claimedPaths.equal_range(pathKey(path));
        for (auto it = range.first; it != range.second; ++it) {
            const std::shared_ptr<Task> owner = it->second.lock();
            if (owner && owner != task && owner.get() != predecessor) return true;
        }
        return false;
    };
    if (heldByAnother(finalPath) || heldByAnother(partialPath)) return false;
    for (auto it = claimedPaths.begin(); it != claimedPaths.end();) {
        const std::shared_ptr<Task> owner = it->second.lock();
        it = !owner || owner.get() == predecessor ? claimedPaths.erase(it) : std::next(it);
    }
    claimedPaths.emplace(pathKey(finalPath), task);
    claimedPaths.emplace(pathKey(partialPath), task);
    return true;
}
