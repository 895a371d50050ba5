#pragma once
// Starts a worker thread that owns its job: the job runs once on the new thread and is freed there.
#include <functional>

#include "base/win_handles.h"

namespace qb {

// False when no thread could be made; the job is then freed here without running.
bool startWorker(std::function<void()> job);
// The same, keeping the thread's handle for whoever waits for the job to end; empty when no thread
// could be made.
UniqueHandle startWaitableWorker(std::function<void()> job);

}  // namespace qb
