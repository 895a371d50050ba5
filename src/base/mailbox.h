#pragma once
// A worker's result waiting for the window thread: the worker posts it (and then a message), the
// window thread takes it when the message arrives. Only the newest result waits; an older one that
// arrives late never replaces a newer one when the poster says so.
#include <mutex>
#include <optional>
#include <utility>

namespace qb {

template <typename T>
class Mailbox {
public:
    // Leaves `value` for the taker, replacing whatever waits.
    void post(T value) {
        std::lock_guard<std::mutex> lock(mutex_);
        waiting_ = std::move(value);
    }

    // Leaves `value` unless `keepWaiting(waiting)` says the result already there is to stay.
    template <typename KeepWaiting>
    bool postUnless(T value, KeepWaiting keepWaiting) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (waiting_ && keepWaiting(*waiting_)) return false;
        waiting_ = std::move(value);
        return true;
    }

    // Runs `change` on what waits (empty if nothing) under the mailbox's lock, for results built up in steps.
    template <typename Change>
    auto update(Change change) {
        std::lock_guard<std::mutex> lock(mutex_);
        return change(waiting_);
    }

    // What waits, if anything; the mailbox is empty afterwards.
    std::optional<T> take() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::optional<T> taken = std::move(waiting_);
        waiting_.reset();
        return taken;
    }

private:
    std::mutex mutex_;
    std::optional<T> waiting_;
};

}  // namespace qb
