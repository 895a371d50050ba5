#include "downloads/download_manager.h"

#include <shlobj.h>

#include <algorithm>

#include "base/window_messages.h"
#include "base/worker_thread.h"
#include "downloads/download_directory.h"
#include "downloads/download_job.h"
#include "downloads/file_naming.h"
#include "downloads/file_verification.h"

namespace {

bool isFinished(uint32_t state) {
    return state == Failed || state == Cancelled || state == Installed || installable(state);
}

// A failed or cancelled task's partial file goes when the task leaves the list: now, or, while its job
// still holds it open, when the job lets go (DownloadJob::finish).
void discardPartialFile(Task& task) {
    const uint32_t state = task.state.load();
    if (state != Failed && state != Cancelled) return;
    task.cleared.store(true);
    ::DeleteFileW(task.partialPath().c_str());
}

}  // namespace

DownloadManager& DownloadManager::instance() {
    // Never destroyed: job threads may still use it while the process exits.
    static DownloadManager* const manager = new DownloadManager();
    return *manager;
}

void DownloadManager::post(UINT message, WPARAM wParam) {
    if (HWND window = mainWindow.load()) ::PostMessageW(window, message, wParam, 0);
}

void DownloadManager::notifyChanged() { post(WM_QB_REFRESH, 0); }

void DownloadManager::fail(Task& task, TaskState from, const DownloadError& error) {
    const DownloadFault fault = error.fault;
    const bool fileSound = fault == DownloadFault::ServiceTrouble || fault == DownloadFault::CannotOpen ||
                           fault == DownloadFault::CannotWrite || fault == DownloadFault::NoSpace;
    bool kept = false;
    // Only while the job held the file: one it could not open again (its folder gone) keeps nothing.
    if (from == Downloading && fileSound && task.partFile) {
        std::lock_guard<std::mutex> lock(task.segmentsMutex);
        kept = writtenBytes(task.segments) > 0;
    }
    task.bytesKept.store(kept);  // before the state: whoever sees it failed sees whether its bytes count
    if (!task.advance(from, Failed)) return;
    task.setError(error);
    recordProgressOf(task, true);
    notifyChanged();
    if (error.fault == DownloadFault::ServiceTrouble)
        post(WM_QB_DOWNLOAD_FAILED, packIdAndGeneration(task.appId, task.generation));
}

std::shared_ptr<Task> DownloadManager::find(int32_t appId) {
    std::lock_guard<std::mutex> lock(tasksMutex);
    const auto it = tasks.find(appId);
    return it == tasks.end() ? nullptr : it->second;
}

void DownloadManager::startDownload(int32_t appId, const DownloadIdentity& package) {
    std::shared_ptr<Task> previous;
    bool paused = false;
    {
        std::lock_guard<std::mutex> lock(tasksMutex);
        const auto it = tasks.find(appId);
        if (it != tasks.end()) {
            const uint32_t state = it->second->state.load();
            if (state < Completed || state == InstallQueued) return;
            // The same package as the download that failed with its bytes kept goes on from them too, when
            // its digests will tell bytes of another package apart.
            const DownloadIdentity& failed = it->second->identity;
            paused = state == Paused || (state == Failed && it->second->bytesKept.load() && package.verifiable() &&
                                         failed.md5 == package.md5 && failed.sha256 == package.sha256 &&
                                         failed.version == package.version);
            if (!paused) {
                previous = std::move(it->second);
                tasks.erase(it);
            }
        }
    }
    // A paused download goes on from its bytes on disk (so does a failed one that kept them); a second one
    // would compete for its file.
    if (paused) return resume(appId, package.url, package.mirrors);

    auto task = std::make_shared<Task>(appId, package);
    {
        std::lock_guard<std::mutex> lock(tasksMutex);
        task->generation = ++lastGeneration;
    }
    // The row shows a name at once; the folder's files are looked at by the task's worker.
    names.claim(task, shownDownloadDirectory(), titleFileName(package.name), false);
    {
        std::lock_guard<std::mutex> lock(tasksMutex);
        tasks[appId] = task;
    }
    notifyChanged();

    // The new download starts from nothing, and a finished predecessor gives its file names back
    // before the new task is named in the folder. That is disk work, so the worker does it, and it
    // alone holds the predecessor then.
    auto predecessor = std::make_shared<std::shared_ptr<Task>>(std::move(previous));
    task->thread = qb::startWaitableWorker([this, task, predecessor] {
        if (std::shared_ptr<Task> finished = std::move(*predecessor)) discardPartialFile(*finished);
        names.claimIn(task, downloadDirectory());
        DownloadJob(*this, task).run();
    });
    if (!task->thread) {
        if (*predecessor) discardPartialFile(**predecessor);
        fail(*task, Downloading, {DownloadFault::ServiceTrouble});
    }
}

void DownloadManager::setConnectionsPerDownload(int count) {
    connectionsPerDownload.store(std::min(std::max(count, 1), kMaxConnections));
}

void DownloadManager::setSpeedLimit(int kbPerSecond) {
    speedLimit.setBytesPerSecond(static_cast<int64_t>(std::max(kbPerSecond, 0)) * 1024);
}

void DownloadManager::setSegmentRules(const SegmentRules& rules) { segmentRules = rules; }

void DownloadManager::cancel(int32_t appId) {
    const std::shared_ptr<Task> task = find(appId);
    if (!task) return;
    // Only a running or paused job is cancelled; it may finish or fail meanwhile, and then that stands.
    uint32_t state = task->state.load();
    while (state == Downloading || state == Verifying || state == Paused) {
        if (task->state.compare_exchange_weak(state, Cancelled)) {
            task->cancelled.store(true);
            recordProgressOf(*task, true);
            notifyChanged();
            return;
        }
    }
}

void DownloadManager::clearFinished() {
    {
        std::lock_guard<std::mutex> lock(tasksMutex);
        for (auto it = tasks.begin(); it != tasks.end();) {
            Task& task = *it->second;
            const uint32_t state = task.state.load();
            if (!isFinished(state)) {
                ++it;
                continue;
            }
            discardPartialFile(task);
            recordProgressOf(task, true);  // its entry left at its last state change; a stray one goes now
            it = tasks.erase(it);
        }
    }
    notifyChanged();
}

void DownloadManager::discardUnusedPartialFiles() {
    std::lock_guard<std::mutex> lock(tasksMutex);
    for (const auto& entry : tasks) discardPartialFile(*entry.second);
}

void DownloadManager::openInFolder(int32_t appId) {
    const std::shared_ptr<Task> task = find(appId);
    if (!task) return;
    const std::wstring path = task->finalPath();
    if (path.empty()) return;
    if (shellActions.showInFolder) return shellActions.showInFolder(path);
    if (PIDLIST_ABSOLUTE item = ::ILCreateFromPathW(path.c_str())) {
        ::SHOpenFolderAndSelectItems(item, 0, nullptr, 0);
        ::ILFree(item);
    }
}

bool installable(uint32_t state) { return state == Completed || state == InstallCancelled || state == InstallFailed; }

bool DownloadManager::install(int32_t appId, const InstallRequest& request) {
    const std::shared_ptr<Task> task = find(appId);
    if (!task) return false;
    const uint32_t state = task->state.load();
    if (!installable(state) || task->isArchive.load() || !task->md5Ok.load() ||
        task->signature.load() == SignatureBroken ||
        task->publisherVerdict.load() == static_cast<uint32_t>(PublisherVerdict::Refused))
        return false;

    if (!isInstallerFile(task->finalPath())) {
        fail(*task, static_cast<TaskState>(state), {DownloadFault::ServiceTrouble});
        return false;
    }
    const InstallerQueue::Admission admission = installers.admit(task, static_cast<TaskState>(state), request);
    if (admission == InstallerQueue::Admission::Refused) return false;
    notifyChanged();
    return admission == InstallerQueue::Admission::Waiting || runInstallers(task);
}

bool DownloadManager::withdrawInstall(int32_t appId) {
    const std::shared_ptr<Task> task = find(appId);
    if (!task) return false;
    if (!installers.withdraw(task)) return false;
    notifyChanged();
    return true;
}

bool DownloadManager::runInstallers(std::shared_ptr<Task> task) {
    bool first = true, firstStarted = false;
    while (task) {
        const bool started = shellActions.startInstaller ? shellActions.startInstaller(task) : startInstaller(task);
        if (first) firstStarted = started;
        first = false;
        if (started) break;
        task = endInstall(task, Completed);
    }
    return firstStarted;
}

std::shared_ptr<Task> DownloadManager::endInstall(const std::shared_ptr<Task>& task, TaskState to) {
    std::shared_ptr<Task> next = installers.end(task, to);
    notifyChanged();
    return next;
}

void DownloadManager::finishInstall(const std::shared_ptr<Task>& task, InstallVerdict verdict, bool exitedCleanly) {
    InstallerResult result;
    result.verdict = verdict;
    result.exitCode = exitedCleanly ? 0 : 1;
    finishInstall(task, result);
}

void DownloadManager::finishInstall(const std::shared_ptr<Task>& task, const InstallerResult& result) {
    if (result.verdict == InstallVerdict::SignatureBroken) task->setError({DownloadFault::SignatureBroken});
    if (result.verdict == InstallVerdict::PublisherRefused) task->setError({DownloadFault::PublisherMismatch});
    if (result.verdict == InstallVerdict::DigestMismatch) task->md5Ok.store(false);  // offered for a new download
    task->installerFailed.store(!isSuccessCode(result.exitCode));
    task->installerExitCode.store(result.exitCode);
    task->restartNeeded.store(result.restartNeeded);
    // What is still queued waits for the machine to come back.
    if (result.restartStarted) installers.holdForRestart();
    std::shared_ptr<Task> next = endInstall(task, stateAfterInstall(result.verdict));
    post(WM_QB_INSTALLER_FINISHED, packIdAndGeneration(task->appId, task->generation));
    runInstallers(std::move(next));
}

TaskState stateAfterInstall(InstallVerdict verdict) {
    switch (verdict) {
        case InstallVerdict::Installed: return Installed;
        case InstallVerdict::Cancelled: return InstallCancelled;
        case InstallVerdict::NotInstalled:
        case InstallVerdict::DigestMismatch: return Completed;
        case InstallVerdict::SignatureBroken:
        case InstallVerdict::PublisherRefused: return Failed;
        case InstallVerdict::Failed: return InstallFailed;
    }
    return Completed;
}

bool DownloadManager::startInstaller(const std::shared_ptr<Task>& task) {
    InstallerRun run;
    run.packagePath = task->finalPath();
    run.appName = task->identity.name;
    run.pinnedPublisher = task->identity.pinnedPublisher;
    const std::string md5 = task->identity.md5, sha256 = task->identity.sha256;
    if (!md5.empty() || !sha256.empty()) {
        run.sameBytes = [md5, sha256](HANDLE file) {
            FileDigests now;
            return fileDigests(file, !md5.empty(), !sha256.empty(), now) && now.md5 == md5 && now.sha256 == sha256;
        };
    }
    run.type = static_cast<InstallerType>(task->installerType.load());
    if (task->installRequest.silent) {
        wchar_t system[MAX_PATH] = {};
        ::GetSystemDirectoryW(system, MAX_PATH);
        run.silent = silentLaunchFor(run.type, run.packagePath, task->installRequest.silentArgs, system);
    }
    run.finished = [this, task](const InstallerResult& result) { finishInstall(task, result); };
    return startInstallerThread(std::move(run));
}

void DownloadManager::updateSpeeds() { updateSpeedsAt(::GetTickCount()); }

void DownloadManager::updateSpeedsAt(uint32_t tick) {
    bool changed = false;
    {
        std::lock_guard<std::mutex> lock(tasksMutex);
        for (auto& entry : tasks) {
            Task& task = *entry.second;
            if (task.state.load() != Downloading) continue;
            const int64_t received = task.receivedBytes.load();
            if (task.sampleTick.load() == 0) {
                task.sampleTick.store(tick);
                task.sampleBytes.store(received);
                continue;
            }
            // Unsigned difference: the 49.7-day wrap of the tick count does no harm.
            const double seconds = static_cast<uint32_t>(tick - task.sampleTick.load()) / 1000.0;
            if (seconds < 0.25) continue;
            task.sampleTick.store(tick);
            const int64_t difference = received - task.sampleBytes.load();
            task.sampleBytes.store(received);
            const double rate = static_cast<double>(difference) / seconds;
            task.speed.store(rate > 0 ? (rate < 4294967295.0 ? static_cast<uint32_t>(rate) : 0xFFFFFFFFu) : 0u);
            changed = true;
        }
    }
    if (changed) notifyChanged();
}

std::map<int32_t, TaskSnapshot> DownloadManager::snapshot() {
    std::map<int32_t, TaskSnapshot> copy;
    std::lock_guard<std::mutex> lock(tasksMutex);
    for (const auto& entry : tasks) {
        Task& task = *entry.second;
        TaskSnapshot& s = copy[entry.first];
        static_cast<DownloadIdentity&>(s) = task.currentIdentity();
        s.appId = task.appId;
        s.generation = task.generation;
        s.state = task.state.load();
        s.receivedBytes = task.receivedBytes.load();
        s.speed = task.speed.load();
        s.md5Ok = task.md5Ok.load();
        s.isArchive = task.isArchive.load();
        s.unverified = !s.verifiable();
        s.signature = task.signature.load();
        s.publisher = task.signer();
        s.publisherVerdict = static_cast<PublisherVerdict>(task.publisherVerdict.load());
        s.error = task.error();
        s.retryCount = task.retryCount.load();
        s.installerFailed = task.installerFailed.load();
        s.bytesKept = s.state == Failed && task.bytesKept.load();
        s.installerType = static_cast<InstallerType>(task.installerType.load());
        s.installerExitCode = task.installerExitCode.load();
        s.restartNeeded = task.restartNeeded.load();
        s.waitsForRestart = s.state == InstallQueued && installers.heldForRestart();
        s.silentInstall = task.silentInstall.load();
        std::lock_guard<std::mutex> urlLock(task.urlMutex);
        s.sourceHost = task.sourceHost;
    }
    return copy;
}

void DownloadManager::setWaitFunction(WaitFunction waitFn) { waitFunction = std::move(waitFn); }

void DownloadManager::setShellActions(ShellActions actions) { shellActions = std::move(actions); }

void DownloadManager::wait(Task& task, WaitReason reason, uint32_t milliseconds) {
    if (waitFunction) {
        waitFunction(task, reason, milliseconds);
    } else {
        sleepUnlessCancelled(task, milliseconds);
    }
}

void DownloadManager::sleepUnlessCancelled(Task& task, uint32_t milliseconds) {
    for (uint32_t waited = 0; waited < milliseconds && !task.cancelled.load() && !task.waitsEnd.load(); waited += 100)
        ::Sleep(std::min<uint32_t>(100, milliseconds - waited));
}

bool DownloadManager::waitForJob(int32_t appId, DWORD milliseconds) {
    const std::shared_ptr<Task> task = find(appId);
    if (!task || !task->thread) return true;
    return ::WaitForSingleObject(task->thread.get(), milliseconds) == WAIT_OBJECT_0;
}
