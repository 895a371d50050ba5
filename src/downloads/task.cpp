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
    return filePath;
}

std::wstring Task::partialPath() {
    std::lock_guard<std::mutex> lock(pathMutex);
    return partPath;
}
