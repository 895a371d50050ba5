// Pausing and resuming downloads, and the journal that keeps unfinished ones across restarts.
#include "base/worker_thread.h"
#include "downloads/download_directory.h"
#include "downloads/download_job.h"
#include "downloads/download_manager.h"
#include "downloads/file_naming.h"

namespace {

bool isUnfinished(uint32_t state) { return state == Downloading || state == Verifying || state == Paused; }

std::vector<Segment> segmentsOf(Task& task) {
    std::lock_guard<std::mutex> lock(task.segmentsMutex);
    return task.segments;
}

JournalEntry journalEntryOf(Task& task) {
    JournalEntry entry;
    static_cast<DownloadIdentity&>(entry) = task.currentIdentity();
    entry.appId = task.appId;
    // Finished ranges side by side are written as one: a long download never writes many segments.
    entry.segments = mergedSegments(segmentsOf(task));
    return entry;
}

// A killed run may have written more than its journal had recorded: the live record of this boot says
// how much, and once the ".part" file is flushed the journal may vouch for those bytes as well.
void adoptLiveProgress(LiveProgress& live, JournalEntry& entry) {
    std::vector<Segment> segments = entry.segments;
    if (!adoptLiveCounts(segments, live.inherited(entry.partPath, entry.size))) return;
    qb::UniqueHandle file(::CreateFileW(entry.partPath.c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file && ::FlushFileBuffers(file.get())) entry.segments = std::move(segments);
}

// The journal is a file any program of the user may edit: only an entry whose files lie in the download
// folder is taken, so no entry can make a resume, a cancel or the end of the program write, rename or
// delete anything elsewhere.
bool inFolder(const JournalEntry& entry, const std::wstring& folder) {
    const std::wstring own = folderOfPath(entry.filePath);
    return !folder.empty() && ::CompareStringOrdinal(own.c_str(), static_cast<int>(own.size()), folder.c_str(),
                                                     static_cast<int>(folder.size()), TRUE) == CSTR_EQUAL;
}

// Whether the entry still has something to go on with. Its ".part" file may be gone since it was
// written: a whole one was renamed to its final name (or deleted by a failed verification) just before
// the program ended, and then there is nothing to resume; of a part, nothing on disk is vouched for
// any more, so it starts over. A folder that cannot be reached now (a drive not plugged in) proves
// nothing, and the entry stays as it is.
bool stillUnfinished(JournalEntry& entry) {
    if (::GetFileAttributesW(entry.partPath.c_str()) != INVALID_FILE_ATTRIBUTES ||
        ::GetLastError() != ERROR_FILE_NOT_FOUND)
        return true;
    if (entry.size > 0 && writtenBytes(entry.segments) == entry.size) return false;
    entry.segments.clear();
    return true;
}

// A new task of the paused one's app that goes on from its file and segments, from `url` when given.
std::shared_ptr<Task> resumedTask(Task& previous, const std::string& url, const std::vector<std::string>& mirrors) {
    DownloadIdentity identity = previous.currentIdentity();
    if (!url.empty()) {
        identity.url = url;
        identity.mirrors = mirrors;
    }
    auto task = std::make_shared<Task>(previous.appId, identity);
    task->segments = segmentsOf(previous);
    task->receivedBytes.store(writtenBytes(task->segments));
    task->resumeExisting = true;
    return task;
}

// The predecessor holds the ".part" file open until its job has ended; its last counts come then.
void takeLastCounts(Task& task, Task& previous) {
    if (previous.thread) ::WaitForSingleObject(previous.thread.get(), INFINITE);
    std::vector<Segment> segments = segmentsOf(previous);
    task.receivedBytes.store(writtenBytes(segments));
    std::lock_guard<std::mutex> lock(task.segmentsMutex);
    task.segments = std::move(segments);
}

}  // namespace

void DownloadManager::setJournalPath(const std::wstring& path) {
    journal.setPath(path);
    liveProgress.setJournalPath(path);
}

void DownloadManager::flushJournal() { journal.flush(); }

void DownloadManager::recordProgress(const std::shared_ptr<Task>& task, bool force) {
    if (task) recordProgressOf(*task, force);
}

void DownloadManager::recordProgressOf(Task& task, bool force) {
    if (!journal.owned()) return;
    const bool unfinished = isUnfinished(task.state.load());
    if (unfinished && !journal.due(task, force)) return;
    JournalEntry entry;
    if (unfinished) {
        // The counts are copied before the flush, so every byte they claim is on disk once it returns.
        entry = journalEntryOf(task);
        HANDLE file = task.partFile.get();
        if (file && !::FlushFileBuffers(file)) return;
    }
    journal.record(task, entry);
}

bool DownloadManager::pauseTask(Task& task) {
    // Only a transfer pauses; a task that verifies goes on to its end.
    if (!task.advance(Downloading, Paused)) return false;
    task.speed.store(0);
    task.cancelled.store(true);
    return true;
}

void DownloadManager::pause(int32_t appId) {
    const std::shared_ptr<Task> task = find(appId);
    if (task && pauseTask(*task)) notifyChanged();
}

bool DownloadManager::pauseAll(DWORD milliseconds) {
    std::vector<std::shared_ptr<Task>> stopping;
    {
        std::lock_guard<std::mutex> lock(tasksMutex);
        for (const auto& entry : tasks) {
            const std::shared_ptr<Task>& task = entry.second;
            // A task paused a moment ago may still be recording its last counts.
            if (task->thread && (pauseTask(*task) || task->state.load() == Paused)) stopping.push_back(task);
        }
    }
    if (!stopping.empty()) notifyChanged();
    const DWORD started = ::GetTickCount();
    bool stopped = true;
    for (const std::shared_ptr<Task>& task : stopping) {
        const DWORD spent = ::GetTickCount() - started;
        const DWORD left = spent < milliseconds ? milliseconds - spent : 0;
        stopped = ::WaitForSingleObject(task->thread.get(), left) == WAIT_OBJECT_0 && stopped;
    }
    // The program may end now: the file holds the last entries (a failed write is tried again).
    flushJournal();
    // Nothing would ever go on from these, and no later start knows of them.
    discardUnusedPartialFiles();
    return stopped;
}

void DownloadManager::resume(int32_t appId, const std::string& url, const std::vector<std::string>& mirrors) {
    std::shared_ptr<Task> previous = find(appId);
    if (!previous || !previous->goesOnFromDisk()) return;
    const std::shared_ptr<Task> task = resumedTask(*previous, url, mirrors);
    {
        std::lock_guard<std::mutex> lock(tasksMutex);
        // A second click, or a cancel that came first, finds the task replaced or no longer paused.
        const auto it = tasks.find(appId);
        if (it == tasks.end() || it->second != previous || !previous->goesOnFromDisk()) return;
        task->generation = ++lastGeneration;
        it->second = task;
    }
    names.claimRecorded(task, previous.get());
    notifyChanged();

    task->thread = qb::startWaitableWorker([this, task, previous]() mutable {
        takeLastCounts(*task, *previous);
        previous.reset();
        DownloadJob(*this, task).run();
    });
    if (!task->thread) fail(*task, Downloading, {DownloadFault::ServiceTrouble});
}

void DownloadManager::restoreJournal() {
    // The live record beside the journal is held open for the whole run: whoever holds it owns both.
    if (liveProgress.heldElsewhere()) {
        journal.disown();
        return;
    }
    std::vector<JournalEntry> entries;
    if (journal.load(entries) == JournalRead::Unreadable) {
        // Its entries are unknown, so no write of this run may replace them.
        journal.disown();
        return;
    }
    bool restored = false;
    const std::wstring folder = entries.empty() ? std::wstring() : downloadDirectory();
    for (JournalEntry& entry : entries) restored = restoreEntry(entry, folder) || restored;
    // One write for all: the file never holds some of the restored entries and not others, and the
    // entries not restored leave it.
    journal.saveIfUnsaved();
    if (restored) notifyChanged();
}

bool DownloadManager::restoreEntry(JournalEntry& entry, const std::wstring& folder) {
    if (!inFolder(entry, folder) || !stillUnfinished(entry)) return false;
    adoptLiveProgress(liveProgress, entry);
    auto task = std::make_shared<Task>(entry.appId, entry);
    task->receivedBytes.store(writtenBytes(entry.segments));
    task->segments = entry.segments;
    task->state.store(Paused);
    {
        std::lock_guard<std::mutex> lock(tasksMutex);
        if (tasks.count(entry.appId)) return false;
        task->generation = ++lastGeneration;
    }
    // The names are the ones on disk: taken exactly as recorded, or the entry is not restored.
    if (!names.claimRecorded(task, nullptr)) return false;
    {
        std::lock_guard<std::mutex> lock(tasksMutex);
        if (!tasks.emplace(entry.appId, task).second) return false;
    }
    journal.record(*task, entry, false);
    return true;
}
