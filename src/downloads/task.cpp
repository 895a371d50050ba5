#include "downloads/task.h"

void Task::setError(const DownloadError& error) {
    std::lock_guard<std::mutex> lock(errorMutex);
    failure = error;
}

DownloadError Task::error() {
    std::lock_guard<std::mutex> lock(errorMutex);
    return failure;
}

std::wstring Task::signer() {
    std::lock_guard<std::mutex> lock(errorMutex);
    return publisher;
}

std::wstring Task::finalPath() {
    std::lock_guard<std::mutex> lock(pathMutex);
    return identity.filePath;
}

std::wstring Task::partialPath() {
    std::lock_guard<std::mutex> lock(pathMutex);
    return identity.partPath;
}

bool Task::goesOnFromDisk() const {
    const uint32_t now = state.load();
    return now == Paused || (now == Failed && bytesKept.load());
}

DownloadIdentity Task::currentIdentity() {
    DownloadIdentity current;
    {
        std::lock_guard<std::mutex> lock(pathMutex);
        current = identity;
    }
    current.size = totalBytes.load();
    return current;
}
