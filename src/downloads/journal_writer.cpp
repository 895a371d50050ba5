#include "downloads/journal_writer.h"

#include "base/worker_thread.h"

JournalWriter::~JournalWriter() { flush(); }

void JournalWriter::hand(const std::wstring& path, std::string text) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        waiting_ = Text{path, std::move(text)};
        if (running_) return;
        running_ = true;
    }
    if (qb::startWorker([this] {
            std::unique_lock<std::mutex> lock(mutex_);
            drain(lock);
        }))
        return;
    // No thread: the text waits for the next hand-over or flush.
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = false;
    idle_.notify_all();
}

bool JournalWriter::flush() {
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [this] { return !running_; });
    running_ = true;
    return drain(lock);
}

bool JournalWriter::drain(std::unique_lock<std::mutex>& lock) {
    bool written = true;
    while (waiting_) {
        Text text = std::move(*waiting_);
        waiting_.reset();
        lock.unlock();
        written = writeFile(text.path, text.bytes) == ERROR_SUCCESS;
        lock.lock();
        if (!written && !waiting_) {
            waiting_ = std::move(text);
            break;
        }
    }
    running_ = false;
    idle_.notify_all();
    return written;
}
