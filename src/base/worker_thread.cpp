#include "base/worker_thread.h"

#include <windows.h>

#include <memory>

namespace qb {
namespace {

DWORD WINAPI workerMain(LPVOID parameter) {
    const std::unique_ptr<std::function<void()>> job(static_cast<std::function<void()>*>(parameter));
    // Nothing escapes a thread procedure.
    try {
        (*job)();
    } catch (...) {
    }
    return 0;
}

}  // namespace

UniqueHandle startWaitableWorker(std::function<void()> job) {
    auto owned = std::make_unique<std::function<void()>>(std::move(job));
    UniqueHandle thread(::CreateThread(nullptr, 0, workerMain, owned.get(), 0, nullptr));
    if (thread) owned.release();  // the worker frees it
    return thread;
}

bool startWorker(std::function<void()> job) { return static_cast<bool>(startWaitableWorker(std::move(job))); }

}  // namespace qb
