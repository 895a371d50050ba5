#include "downloads/task.h"

void Task::setError(const std::wstring& text) {
    std::lock_guard<std::mutex> lock(errorMutex);
    errorText = text;
}

std::wstring Task::error() {
    std::lock_guard<std::mutex> lock(errorMutex);
    return errorText;
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

DownloadIdentity Task::currentIdentity() {
    DownloadIdentity current;
    {
        std::lock_guard<std::mutex> lock(pathMutex);
        current = identity;
    }
    current.size = totalBytes.load();
    return current;
}
