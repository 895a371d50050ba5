#pragma once
// The process-wide registry of download tasks and the job each task runs on its own thread.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "config/config.h"
#include "downloads/connection_slots.h"
#include "downloads/speed_limit.h"
#include "downloads/segment_plan.h"
#include "downloads/download_journal.h"
#include "downloads/download_sources.h"
#include "downloads/file_name_claims.h"
#include "downloads/installer_queue.h"
#include "downloads/live_progress.h"
#include "downloads/task.h"
#include "install/installer_monitor.h"

// Where an installer run leaves its task: a package whose signature broke has failed, one that
// registered nothing is still only downloaded.
TaskState stateAfterInstall(InstallVerdict verdict);
// Whether a task in this state holds a verified package whose installer may be started again.
bool installable(uint32_t state);

// Why a job waits: between failed probes, or before retrying a transfer.
enum class WaitReason { Probe, Retry };
// Waits, or stops early once the task is cancelled or its waits are ended (Task::waitsEnd). Tests
// replace it to record the schedule.
using WaitFunction = std::function<void(Task& task, WaitReason reason, uint32_t milliseconds)>;

// What the manager asks of the shell. Empty members mean the real thing (Explorer with the file
// selected, the installer monitor's thread); tests replace them so that no window or installer opens.
struct ShellActions {
    std::function<void(const std::wstring& path)> showInFolder;
    std::function<bool(const std::shared_ptr<Task>& task)> startInstaller;
    std::function<void(const std::wstring& path, const std::wstring& sourceUrl)> markDownloaded;
};

class DownloadManager {
public:
    static DownloadManager& instance();

    std::atomic<HWND> mainWindow{nullptr};

    // `package`: the name, URL, digests and size (0: unknown) the catalogue gives; the paths are chosen here.
    void startDownload(int32_t appId, const DownloadIdentity& package);
    void cancel(int32_t appId);
    // Pause stops a downloading task and keeps its ".part" file and segments (state Paused); resume
    // goes on from them as a new task of the same app.
    void pause(int32_t appId);
    // `url` and `mirrors`, when a URL is given, are where the bytes come from now: the catalogue's
    // addresses for the app, never ones a journal on disk named.
    void resume(int32_t appId, const std::string& url = std::string(),
                const std::vector<std::string>& mirrors = std::vector<std::string>());
    // Pauses every transfer and waits, at most the given time, for their jobs to record their last
    // counts in the journal: a closing program leaves exact progress behind. The partial files of
    // failed and cancelled downloads, which no journal knows, are deleted as "清除已完成" would.
    // True when all ended.
    bool pauseAll(DWORD milliseconds);
    // Lists the unfinished downloads of the journal as Paused tasks; called once at start. Another
    // running instance keeps the journal to itself, and a journal that cannot be read stays as it is:
    // then nothing is listed and nothing recorded.
    void restoreJournal();
    // Connections one download may use at once (1 to 8); 1 downloads as a single transfer.
    void setConnectionsPerDownload(int count);
    // Caps all downloads together at `kbPerSecond` KB (of 1 024 bytes) a second; 0 lifts the cap. Running
    // downloads follow at once.
    void setSpeedLimit(int kbPerSecond);
    void clearFinished();
    void openInFolder(int32_t appId);
    // Installers run one at a time (two at once fail: Windows Installer allows one installation).
    // True when the package was accepted: its installer's monitor runs (Installing until its
    // verdict), or it waits as InstallQueued and starts when the installers before it have ended.
    bool install(int32_t appId, const InstallRequest& request = InstallRequest{});
    // Takes a waiting installer out of the queue: the task is Completed again. False when it was not waiting.
    bool withdrawInstall(int32_t appId);
    // The end of a task's installer run with its verdict: the task takes its state, the window hears
    // of it, and the next waiting installer starts. Called once per run, on the monitor's thread (or
    // by a test's stand-in for startInstaller).
    void finishInstall(const std::shared_ptr<Task>& task, InstallVerdict verdict, bool exitedCleanly = true);
    void finishInstall(const std::shared_ptr<Task>& task, const InstallerResult& result);
    void updateSpeeds();
    std::map<int32_t, TaskSnapshot> snapshot();

    // Test hooks. setWaitFunction must be called while no job runs; an empty function restores the
    // real waits (100 ms sleeps that end early on cancel).
    void setWaitFunction(WaitFunction wait);
    // The real wait: 100 ms sleeps that stop as soon as the task is cancelled or its waits are ended.
    static void sleepUnlessCancelled(Task& task, uint32_t milliseconds);
    void setShellActions(ShellActions actions);
    // When a download is split and when a range is worth taking from another connection; must be
    // called while no job runs.
    void setSegmentRules(const SegmentRules& rules);
    // How long a source may deliver no byte before it is left (kSourceStallMs).
    void setStallTimeout(uint32_t milliseconds) { stallMs.store(milliseconds); }
    void updateSpeedsAt(uint32_t tick);
    // Waits for the job thread of an app's current task; true when it has ended.
    bool waitForJob(int32_t appId, DWORD milliseconds);
    // Points the journal (and the live record beside it) at another file (empty: beside config.json) and
    // forgets the entries it held. Only while no job runs.
    void setJournalPath(const std::wstring& path);
    // Waits until the journal's file holds the entries recorded so far, as pauseAll does; a write that
    // failed is tried once more. The writes themselves happen on the journal's own thread.
    void flushJournal();

private:
    friend class DownloadJob;  // each task's job, on its own thread (download_job.h)
    DownloadManager() = default;

    // Downloading to Paused, with the transfer told to stop; false when the task was elsewhere.
    bool pauseTask(Task& task);
    // Deletes the partial file of every failed and cancelled task (or has its job delete it when done).
    void discardUnusedPartialFiles();
    void notifyChanged();
    void post(UINT message, WPARAM wParam);
    // Moves the task from `from` to Failed with the error; nothing happens when it has left `from`
    // meanwhile (a cancel came first). The window is told at once of trouble with the service.
    void fail(Task& task, TaskState from, const DownloadError& error);
    bool startInstaller(const std::shared_ptr<Task>& task);
    // Starts the installer of the task that holds the installer slot; one that cannot start goes back
    // to Completed and hands the slot on. True when the first of them started.
    bool runInstallers(std::shared_ptr<Task> task);
    // InstallerQueue::end, and the window hears of it.
    std::shared_ptr<Task> endInstall(const std::shared_ptr<Task>& task, TaskState to);
    void wait(Task& task, WaitReason reason, uint32_t milliseconds);
    // Brings the task's journal entry up to date: flushes the ".part" file, then records each segment's
    // written bytes; an entry of a task that is no longer unfinished leaves the journal. Without
    // `force`, at most once a second per task.
    void recordProgress(const std::shared_ptr<Task>& task, bool force);
    // The same for a task known by reference. It flushes the ".part" file only for an unfinished task,
    // so only the job's thread may call it then; for a finished one any thread may.
    void recordProgressOf(Task& task, bool force);
    std::shared_ptr<Task> find(int32_t appId);
    // Lists a journal's entry as a Paused task; false when its files are not in `folder` (the download
    // folder), nothing is left to go on with, or its app or names are taken.
    bool restoreEntry(JournalEntry& entry, const std::wstring& folder);

    std::mutex tasksMutex;
    std::map<int32_t, std::shared_ptr<Task>> tasks;
    uint32_t lastGeneration = 0;  // guarded by tasksMutex
    // Every request of every job (probes included) holds one of 16 slots while it runs.
    ConnectionSlots slots{16};
    SpeedLimit speedLimit;  // every byte any request reads passes it
    // A read's receive time-out: it runs only while the read waits on the network, never while the
    // speed cap holds the reader back, so a source that times out sent nothing the cap allowed.
    std::atomic<uint32_t> stallMs{kSourceStallMs};
    std::atomic<int> connectionsPerDownload{kDefaultConnections};
    SegmentRules segmentRules;
    FileNameClaims names;
    InstallerQueue installers;
    WaitFunction waitFunction;
    ShellActions shellActions;
    JournalWriter journalWriter;
    DownloadJournal journal{journalWriter};
    LiveProgress liveProgress;
};
