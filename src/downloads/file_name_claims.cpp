#include "downloads/file_name_claims.h"

#include <windows.h>

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

// Free: no other living task holds it (as its file or as its ".part"), and (when looking on disk) no
// file of that name (nor, when the partial name comes with it, of that partial name) exists unless this
// task holds that name.
bool FileNameClaims::isFree(const Task& task, const std::wstring& path, bool withPartial, bool lookOnDisk) {
    enum class Holder { Nobody, This, Other };
    const auto holderOf = [&](const std::wstring& name) {
        Holder holder = Holder::Nobody;
        const auto range = claimed_.equal_range(pathKey(name));
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
    if (!lookOnDisk) return true;
    if (final == Holder::Nobody && fileExists(path)) return false;
    return !(withPartial && partial == Holder::Nobody && fileExists(path + L".part"));
}

std::wstring FileNameClaims::reserve(const std::shared_ptr<Task>& task, const std::wstring& folder,
                                     const std::wstring& fileName, bool withPartial, bool lookOnDisk) {
    const std::wstring prefix = folder.empty() ? std::wstring() : folder + L"\\";
    std::wstring path;
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = claimed_.begin(); it != claimed_.end();)
        it = it->second.expired() ? claimed_.erase(it) : std::next(it);
    for (int number = 1; number <= kMaxNameNumber; ++number) {
        path = prefix + (number == 1 ? fileName : numberedFileName(fileName, number));
        if (isFree(*task, path, withPartial, lookOnDisk)) break;
    }
    claimed_.emplace(pathKey(path), task);
    if (withPartial) claimed_.emplace(pathKey(path + L".part"), task);
    return path;
}

void FileNameClaims::release(const Task& task, const std::wstring& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto range = claimed_.equal_range(pathKey(path));
    for (auto it = range.first; it != range.second;) {
        const std::shared_ptr<Task> owner = it->second.lock();
        it = !owner || owner.get() == &task ? claimed_.erase(it) : std::next(it);
    }
}

void FileNameClaims::claim(const std::shared_ptr<Task>& task, const std::wstring& folder,
                           const std::wstring& fileName, bool lookOnDisk) {
    const std::wstring path = reserve(task, folder, fileName, true, lookOnDisk);
    std::lock_guard<std::mutex> lock(task->pathMutex);
    task->identity.filePath = path;
    task->identity.partPath = path + L".part";
    task->identity.fileName = fileName;
}

void FileNameClaims::claimSniffed(const std::shared_ptr<Task>& task, const std::wstring& extension) {
    const DownloadIdentity current = task->currentIdentity();
    const std::wstring& path = current.filePath;
    if (path.size() > extension.size() && pathKey(path.substr(path.size() - extension.size())) == pathKey(extension))
        return;
    const std::wstring renamed = withExtension(current.fileName, extension);
    // The partial file keeps its name; only the final name follows the content.
    const std::wstring reserved = reserve(task, folderOfPath(path), renamed, false);
    std::lock_guard<std::mutex> lock(task->pathMutex);
    task->identity.filePath = reserved;
    task->identity.fileName = renamed;
}

void FileNameClaims::claimIn(const std::shared_ptr<Task>& task, const std::wstring& folder) {
    const DownloadIdentity current = task->currentIdentity();
    // Our own claims would make the taken names look free to us.
    release(*task, current.filePath);
    release(*task, current.partPath);
    claim(task, folder, current.fileName);
}

void FileNameClaims::claimAgain(const std::shared_ptr<Task>& task) {
    claimIn(task, folderOfPath(task->currentIdentity().filePath));
}

bool FileNameClaims::claimNextFinal(const std::shared_ptr<Task>& task) {
    const DownloadIdentity current = task->currentIdentity();
    release(*task, current.filePath);  // our own claim would make the taken name look free to us
    const std::wstring path = reserve(task, folderOfPath(current.filePath), current.fileName, false);
    if (pathKey(path) == pathKey(current.filePath)) return false;
    std::lock_guard<std::mutex> lock(task->pathMutex);
    task->identity.filePath = path;
    return true;
}

bool FileNameClaims::claimRecorded(const std::shared_ptr<Task>& task, const Task* predecessor) {
    const DownloadIdentity current = task->currentIdentity();
    std::lock_guard<std::mutex> lock(mutex_);
    const auto heldByAnother = [&](const std::wstring& path) {
        const auto range = claimed_.equal_range(pathKey(path));
        for (auto it = range.first; it != range.second; ++it) {
            const std::shared_ptr<Task> owner = it->second.lock();
            if (owner && owner != task && owner.get() != predecessor) return true;
        }
        return false;
    };
    if (heldByAnother(current.filePath) || heldByAnother(current.partPath)) return false;
    for (auto it = claimed_.begin(); it != claimed_.end();) {
        const std::shared_ptr<Task> owner = it->second.lock();
        it = !owner || owner.get() == predecessor ? claimed_.erase(it) : std::next(it);
    }
    claimed_.emplace(pathKey(current.filePath), task);
    claimed_.emplace(pathKey(current.partPath), task);
    return true;
}
