#include "downloads/installer_queue.h"

#include <algorithm>

InstallerQueue::Admission InstallerQueue::admit(const std::shared_ptr<Task>& task, TaskState from,
                                                const InstallRequest& request) {
    std::lock_guard<std::mutex> lock(mutex_);
    // A task whose state left Installing without end() (a test's stand-in) frees the slot too.
    const bool waits = (running_ && running_->state.load() == Installing) || restartPending_.load();
    if (!task->advance(from, waits ? InstallQueued : Installing)) return Admission::Refused;
    task->installRequest = request;
    task->silentInstall.store(request.silent);
    if (waits) {
        waiting_.push_back(task);
        return Admission::Waiting;
    }
    running_ = task;
    return Admission::Running;
}

bool InstallerQueue::withdraw(const std::shared_ptr<Task>& task) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!task->advance(InstallQueued, Completed)) return false;
    waiting_.erase(std::remove(waiting_.begin(), waiting_.end(), task), waiting_.end());
    return true;
}

std::shared_ptr<Task> InstallerQueue::end(const std::shared_ptr<Task>& task, TaskState to) {
    std::lock_guard<std::mutex> lock(mutex_);
    task->advance(Installing, to);
    if (running_ != task) return nullptr;
    std::shared_ptr<Task> next;
    while (!next && !waiting_.empty() && !restartPending_.load()) {
        std::shared_ptr<Task> candidate = std::move(waiting_.front());
        waiting_.pop_front();
        if (candidate->advance(InstallQueued, Installing)) next = std::move(candidate);
    }
    running_ = next;
    return next;
}
