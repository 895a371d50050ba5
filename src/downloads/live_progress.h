#pragma once
// What each running transfer has written so far, in a small file mapped into memory ("downloads.live"
// beside the journal). The journal is written at most once a second and counts only flushed bytes, so
// after a killed process a restart would fetch up to a second of every connection again. This record is
// updated at every write for the price of a memory store, and it outlives a killed process: the
// system's file cache holds the mapped page as it holds the written bytes. A reboot may lose both, so a
// record is believed only in the boot it was written in; otherwise the journal's counts stand.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "base/win_handles.h"
#include "downloads/task.h"

struct LiveCount {
    int64_t start = 0;    // where the segment starts in the file
    int64_t written = 0;  // bytes from there that WriteFile had put in the file, without a gap
};

// Raises each segment's written count to the record of the segment with the same start, never past
// the segment's end; records of starts no segment has any more are ignored. True when a count rose.
bool adoptLiveCounts(std::vector<Segment>& segments, const std::vector<LiveCount>& live);

// The time this boot began, in 100 ns units since 1601: stable while the machine runs, moved by a
// reboot (and, harmlessly, by a large change of the clock, which only makes a record unbelieved).
int64_t currentBootStamp();

class LiveProgress {
public:
    static constexpr int kSlots = 32;
    static constexpr int kCountsPerSlot = 30;

    LiveProgress() = default;
    LiveProgress(const LiveProgress&) = delete;
    LiveProgress& operator=(const LiveProgress&) = delete;
    // Lets the file go as it is: records still held stay for the next run to find, as after a kill.
    ~LiveProgress();

    // The journal the file stands beside (empty: the default journal); lets the current file go. Only
    // while no transfer runs.
    void setJournalPath(const std::wstring& journalPath);
    // The counts a previous run of this boot left for the ".part" file of this size; each is given
    // once. The file is opened at the first call of this or claim(): what it held then is kept for these
    // questions and cleared for this run. A file another running instance holds is not used while it
    // holds it.
    std::vector<LiveCount> inherited(const std::wstring& partPath, int64_t size);
    // Whether another running process holds the file (tried by opening it, if this one has not yet).
    bool heldElsewhere();
    // A slot for a running transfer of the ".part" file, or -1 when none is free or there is no file.
    int claim(const std::wstring& partPath, int64_t size);
    // The bytes written from `start`; the caller serialises the notes of one slot.
    void note(int slot, int64_t start, int64_t written);
    // The transfer has ended and its last counts are in the journal.
    void release(int slot);

    // Test hook: the stamp that tells this boot from another.
    std::function<int64_t()> bootStamp = currentBootStamp;

private:
    struct Slot;
    static const size_t kFileBytes;
    // Opens the file once (again after another instance refused it), then takes it over.
    bool openLocked();
    // Opens and maps the file at its size; false, leaving the handles for the caller to close, if not.
    bool mapFileLocked();
    // Keeps what a previous run of this boot left for inherited(), then clears every slot for this run.
    void takeOverLocked();
    void closeLocked();
    Slot* slotAt(int slot);

    std::mutex mutex_;
    std::wstring journalPath_;
    bool opened_ = false;  // tried since the path was set
    bool sharingRefused_ = false;  // the last try found the file open in another process
    bool whole_ = false;           // the file had this program's size when it was opened
    qb::UniqueHandle file_;
    qb::UniqueHandle mapping_;
    qb::UniqueView view_;
    std::map<uint64_t, std::pair<int64_t, std::vector<LiveCount>>> inherited_;  // by key: size, counts
};
