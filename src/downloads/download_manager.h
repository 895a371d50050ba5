#pragma once
// The process-wide registry of download tasks and the job each task runs on its own thread.
#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "base/win_handles.h"
#include "downloads/file_signature.h"

enum TaskState : uint32_t {
    Downloading = 0,
    Verifying = 1,
    Completed = 2,
    Failed = 3,
    Cancelled = 4,
    Installed = 5,
    Installing = 6,
    InstallCancelled = 7,
};

extern const wchar_t ServiceTroubleMessage[];

struct Task {
    int32_t appId = 0;
    std::wstring name;
    std::string url;
    std::string md5;     // expected digests from the catalogue, lowercase hex; either may be empty
    std::string sha256;
    // Written by the job under pathMutex; other threads copy them under it (the installer reads
    // filePath once the job has finished, when nothing writes it any more).
    std::mutex pathMutex;
    std::wstring filePath;
    std::wstring partPath;
    std::wstring fileName;  // the name asked for, before a "(n)" made it free
    std::atomic<int64_t> totalBytes{0};
    std::atomic<int64_t> receivedBytes{0};
    std::atomic<int64_t> sampleBytes{0};
    std::atomic<uint32_t> sampleTick{0};
    std::atomic<uint32_t> speed{0};
    std::atomic<uint32_t> state{Downloading};
    std::atomic<bool> md5Ok{true};  // false when any digest the catalogue gave differs from the file's
    std::atomic<bool> isArchive{false};
    // The catalogue gave no digest: the file cannot be verified, so its installer never starts unasked.
    bool unverified = false;
    std::atomic<uint32_t> signature{SignatureUnchecked};
    std::mutex errorMutex;  // guards errorText and publisher
    std::wstring errorText;
    std::wstring publisher;
    std::atomic<int32_t> retryCount{0};
    std::atomic<bool> cancelled{false};
    qb::UniqueHandle thread;  // the job's worker thread; closed with the task
    std::mutex urlMutex;
    std::string resolvedUrl;
    std::set<std::string> failedUrls;
    // The ".part" file, open from its creation to its rename: nobody else may write, move or delete it
    // meanwhile. Only the job's thread uses it.
    qb::UniqueHandle partFile;

    void setError(const std::wstring& text);
    std::wstring error();
    std::wstring signer();
    std::wstring finalPath();
    std::wstring partialPath();
};

struct TaskSnapshot {
    int32_t appId = 0;
    std::wstring name;
    uint32_t state = Downloading;
    int64_t receivedBytes = 0;
    int64_t totalBytes = 0;
    uint32_t speed = 0;
    bool md5Ok = true;
    bool isArchive = false;
    bool unverified = false;
    uint32_t signature = SignatureUnchecked;
    std::wstring publisher;
    std::wstring errorText;
    int32_t retryCount = 0;
};

// A finished installer that may not be started: a digest differs, or its signature is broken.
bool installBlocked(const TaskSnapshot& task);

// Why a job waits: between failed probes, or before retrying a transfer.
enum class WaitReason { Probe, Retry };
// Waits, or stops early once the task is cancelled. Tests replace it to record the schedule.
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

    void startDownload(int32_t appId, const std::wstring& name, const std::string& url, const std::string& md5,
                       int64_t sizeHint, const std::string& sha256 = std::string());
    void cancel(int32_t appId);
    void clearFinished();
    void openInFolder(int32_t appId);
    bool install(int32_t appId);
    void updateSpeeds();
    std::map<int32_t, TaskSnapshot> snapshot();
    void notifyChanged();

    void run(std::shared_ptr<Task> task);
    bool downloadPart(Task& task, int64_t start, int64_t end, bool useRange, bool acceptFull);
    void acquireSlot();
    void releaseSlot();

    // Test hooks. setWaitFunction must be called while no job runs; an empty function restores the
    // real waits (100 ms sleeps that end early on cancel).
    void setWaitFunction(WaitFunction wait);
    // The real wait: 100 ms sleeps that stop as soon as the task is cancelled.
    static void sleepUnlessCancelled(Task& task, uint32_t milliseconds);
    void setShellActions(ShellActions actions);
    void updateSpeedsAt(uint32_t tick);
    // Waits for the job thread of an app's current task; true when it has ended.
    bool waitForJob(int32_t appId, DWORD milliseconds);

private:
    DownloadManager() = default;

    void post(UINT message, WPARAM wParam);
    void fail(Task& task, const std::wstring& text);
    void wait(Task& task, WaitReason reason, uint32_t milliseconds);
    std::shared_ptr<Task> find(int32_t appId);

    // File names: a task owns its final and partial path from the moment it is named until it is
    // gone, so two tasks never share a ".part" file or replace each other's download.
    void claimFileName(const std::shared_ptr<Task>& task, const std::wstring& folder, const std::wstring& fileName);
    // The final name follows the content: ".exe", ".msi" or the archive's extension.
    void claimSniffedName(const std::shared_ptr<Task>& task, const std::wstring& extension);
    // Reserves the names anew after the partial name was found taken on disk.
    void claimNamesAgain(const std::shared_ptr<Task>& task);
    // Takes the next free final name after `path` was found taken on disk; false when none is left.
    bool claimNextFinalName(const std::shared_ptr<Task>& task);
    // Job steps between the probe and the transfer, and after it.
    bool createPartialFile(const std::shared_ptr<Task>& task, int64_t size);
    void verifyAndSave(const std::shared_ptr<Task>& task);
    std::wstring reservePath(const std::shared_ptr<Task>& task, const std::wstring& folder,
                             const std::wstring& fileName, bool withPartial);
    bool nameIsFree(const Task& task, const std::wstring& path, bool withPartial);
    void releaseClaim(const Task& task, const std::wstring& path);

    std::mutex tasksMutex;
    std::map<int32_t, std::shared_ptr<Task>> tasks;
    std::mutex slotMutex;
    std::condition_variable slotFreed;
    int32_t activeRequests = 0;
    std::mutex namesMutex;
    std::multimap<std::wstring, std::weak_ptr<Task>> claimedPaths;  // upper-cased path -> owner
    WaitFunction waitFunction;
    ShellActions shellActions;
};
