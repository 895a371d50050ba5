#include "install/installer_monitor.h"

#include "downloads/download_manager.h"

namespace {

struct InstallerStart {
    std::shared_ptr<Task> task;
};

}  // namespace

// Stand-in until the installer monitor lands: the task simply becomes installable again.
DWORD WINAPI InstallerThread(LPVOID startRecord) {
    std::unique_ptr<InstallerStart> start(static_cast<InstallerStart*>(startRecord));
    std::shared_ptr<Task> task = std::move(start->task);
    task->state.store(Completed);
    DownloadManager::instance().notifyChanged();
    return 0;
}

bool startInstallerThread(const std::shared_ptr<Task>& task) {
    auto* start = new InstallerStart{task};
    HANDLE thread = ::CreateThread(nullptr, 0, InstallerThread, start, 0, nullptr);
    if (!thread) {
        delete start;
        return false;
    }
    ::CloseHandle(thread);
    return true;
}
