#pragma once
// The journal of unfinished downloads ("downloads.json" beside config.json): enough to list them again
// after a restart and to go on from the bytes each segment had on disk.
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "downloads/journal_writer.h"
#include "downloads/task.h"

// An unfinished download: what it is and where (its size 0 while unknown), and each segment's bytes.
struct JournalEntry : DownloadIdentity {
    int32_t appId = 0;
    std::vector<Segment> segments;
};

// At most this many entries are restored, each with at most this many segments; an entry over the
// cap is dropped alone (its ".part" file stays for a new download).
constexpr size_t kMaxJournalEntries = 1000;
constexpr size_t kMaxJournalSegments = 64;

std::string journalText(const std::vector<JournalEntry>& entries);
// The segments in file order, each finished one joined with the one that follows it without a gap
// (the bytes of both count from the first's start without a hole).
std::vector<Segment> mergedSegments(std::vector<Segment> segments);
// False when the text is no journal at all (not JSON, or not shaped as one). Otherwise `entries`
// receives the entries that keep every rule of journalEntryValid, first of each app and of each path.
bool parseJournal(const std::string& text, std::vector<JournalEntry>& entries);
// Both paths absolute and in one folder, safe file names, the ".part" name of a safe name, digests of
// the right shape, and segments inside the size that neither overlap nor claim more than their length.
bool journalEntryValid(const JournalEntry& entry);

// "…\Tidewell\downloads.json", in the folder of config.json.
std::wstring defaultJournalPath();

enum class JournalRead { Missing, Read, RenamedAside, Unreadable };
// Reads the journal file; one that is not a journal, or too large to be one, is renamed to path + ".bad"
// (replacing an older one) and gives no entries. Unreadable: it is there but cannot be read now (another
// program holds it), so it must not be written over either.
JournalRead readJournalFile(const std::wstring& path, std::vector<JournalEntry>& entries);

// The entries of the tasks that are unfinished now, kept in memory; at each change the whole text goes
// to the writer, which puts it on disk on its own thread.
class DownloadJournal {
public:
    explicit DownloadJournal(JournalWriter& writer) : writer_(writer) {}
    // Points the journal at another file (empty: the default path) and forgets what it held, once what
    // was handed to the writer is written. The journal is this instance's again.
    void setPath(const std::wstring& path);
    std::wstring path();
    // False when another running instance held the journal at start, or it could not be read: this one
    // then records nothing, so it drops no entries it does not know.
    bool owned() const { return owned_.load(); }
    void disown() { owned_.store(false); }
    // Whether a new entry for the task would be written now: always with `force`, otherwise at most
    // once a second per app. False for news of a task older than the app's latest.
    bool due(const Task& task, bool force);
    // Keeps `entry` while the task is Downloading, Verifying or Paused, removes the app's entry
    // otherwise, and hands the text to the writer. The state is read under the journal's lock, so an
    // entry can never outlive a state change whose own record came first. News of an older task than
    // the app's latest is ignored. Without `write` the change waits for saveIfUnsaved or the next write.
    void record(const Task& task, const JournalEntry& entry, bool write = true);
    // The file's entries, to be restored; a file that is not a journal is renamed aside. Until the
    // restored ones are recorded, the file holds what memory does not.
    JournalRead load(std::vector<JournalEntry>& entries);
    // Hands the text to the writer if entries were left unrestored or recorded without a write.
    void saveIfUnsaved();
    // saveIfUnsaved, then waits until the writer has written the text (a write that failed is tried
    // once more).
    void flush();

private:
    void writeLocked();

    JournalWriter& writer_;
    std::atomic<bool> owned_{true};
    std::mutex mutex_;
    std::wstring path_;
    std::map<int32_t, JournalEntry> entries_;
    std::map<int32_t, uint32_t> latestGeneration_;
    std::map<int32_t, uint32_t> lastWriteTick_;
    bool unsaved_ = false;
};
