#pragma once
// Writes the journal's text on a thread of its own, so that no state change waits for the disk. Callers
// hand over the whole text; a newer one replaces one not yet written, and a write that failed waits to
// be made good by the next hand-over or flush.
#include <windows.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "base/atomic_file.h"

class JournalWriter {
public:
    JournalWriter() = default;
    JournalWriter(const JournalWriter&) = delete;
    JournalWriter& operator=(const JournalWriter&) = delete;
    // Writes what waits, as flush does.
    ~JournalWriter();

    // Leaves the text for the writer thread, starting one when none runs.
    void hand(const std::wstring& path, std::string text);
    // Waits for the writer thread, then writes here whatever still waits (a failed write is tried once
    // more). True when the file holds the last text handed over.
    bool flush();

    // Test hook: how a text reaches its file.
    std::function<DWORD(const std::wstring& path, const std::string& bytes)> writeFile = qb::writeFileAtomically;

private:
    struct Text {
        std::wstring path;
        std::string bytes;
    };
    // Writes until nothing waits or a write fails with nothing newer waiting; called holding the lock,
    // as the one writer (running_ set), which it stops being.
    bool drain(std::unique_lock<std::mutex>& lock);

    std::mutex mutex_;
    std::condition_variable idle_;
    std::optional<Text> waiting_;
    bool running_ = false;  // a thread writes or is about to
};
