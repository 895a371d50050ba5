#pragma once
// Installers run one at a time (two at once fail: Windows Installer allows one installation). The task
// that holds the slot is Installing; the ones accepted meanwhile wait as InstallQueued, in order.
#include <atomic>
#include <deque>
#include <memory>
#include <mutex>

#include "downloads/task.h"

class InstallerQueue {
public:
    enum class Admission { Refused, Waiting, Running };
    // Moves the task from `from` to Installing when the slot is free (Running) or else to InstallQueued
    // (Waiting), with the request it runs by; Refused, changing nothing, when it has left `from`.
    Admission admit(const std::shared_ptr<Task>& task, TaskState from, const InstallRequest& request);
    // Takes a waiting task out of the queue: it is Completed again. False when it was not waiting.
    bool withdraw(const std::shared_ptr<Task>& task);
    // Moves the task from Installing to `to` and, if it held the slot, gives the slot to the next
    // waiting task, which is returned (already Installing); null when none takes it.
    std::shared_ptr<Task> end(const std::shared_ptr<Task>& task, TaskState to);
    // An installer has started a restart of the machine: the installers still queued wait for it.
    void holdForRestart() { restartPending_.store(true); }
    bool heldForRestart() const { return restartPending_.load(); }

private:
    std::mutex mutex_;
    std::shared_ptr<Task> running_;  // holds the slot while its state is Installing
    std::deque<std::shared_ptr<Task>> waiting_;
    std::atomic<bool> restartPending_{false};
};
