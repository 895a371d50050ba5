#include "downloads/connection_slots.h"

#include <algorithm>
#include <chrono>

uint64_t SlotQueue::enqueue(const void* owner) {
    waiters_.push_back({nextTicket_, owner});
    return nextTicket_++;
}

int SlotQueue::heldBy(const void* owner) const {
    const auto it = held_.find(owner);
    return it == held_.end() ? 0 : it->second;
}

bool SlotQueue::mayTake(uint64_t ticket) const {
    if (inUse_ >= limit_ || waiters_.empty()) return false;
    // Waiters are in ticket order, so the first with the fewest held slots is the earliest of them.
    const Waiter* first = &waiters_.front();
    for (const Waiter& waiter : waiters_)
        if (heldBy(waiter.owner) < heldBy(first->owner)) first = &waiter;
    return first->ticket == ticket;
}

void SlotQueue::take(uint64_t ticket) {
    for (auto it = waiters_.begin(); it != waiters_.end(); ++it) {
        if (it->ticket != ticket) continue;
        ++held_[it->owner];
        ++inUse_;
        waiters_.erase(it);
        return;
    }
}

void SlotQueue::leave(uint64_t ticket) {
    for (auto it = waiters_.begin(); it != waiters_.end(); ++it) {
        if (it->ticket != ticket) continue;
        waiters_.erase(it);
        return;
    }
}

bool SlotQueue::yieldFor(const void* owner) {
    // A free slot goes to a waiter anyway; a waiter that was promised one needs no other.
    if (inUse_ < limit_ || promisedTotal_ >= static_cast<int>(waiters_.size())) return false;
    const auto promised = promised_.find(owner);
    const int keeps = heldBy(owner) - (promised == promised_.end() ? 0 : promised->second);
    int fewest = keeps;
    for (const Waiter& waiter : waiters_) fewest = std::min(fewest, heldBy(waiter.owner));
    if (fewest + 2 > keeps) return false;
    ++promised_[owner];
    ++promisedTotal_;
    return true;
}

void SlotQueue::release(const void* owner, bool yielded) {
    const auto promise = yielded ? promised_.find(owner) : promised_.end();
    if (promise != promised_.end()) {
        if (--promise->second == 0) promised_.erase(promise);
        --promisedTotal_;
    }
    const auto it = held_.find(owner);
    if (it == held_.end()) return;
    if (--it->second == 0) held_.erase(it);
    --inUse_;
}

bool ConnectionSlots::acquire(const void* owner, const std::function<bool()>& stop) {
    std::unique_lock<std::mutex> lock(mutex_);
    const uint64_t ticket = queue_.enqueue(owner);
    for (;;) {
        if (stop()) {
            queue_.leave(ticket);
            // The waiter behind this one may come first now.
            freed_.notify_all();
            return false;
        }
        if (queue_.mayTake(ticket)) break;
        freed_.wait_for(lock, std::chrono::milliseconds(100));
    }
    queue_.take(ticket);
    // Another slot may be free for the waiter that now comes first.
    freed_.notify_all();
    return true;
}

bool ConnectionSlots::yieldFor(const void* owner) {
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.yieldFor(owner);
}

void ConnectionSlots::release(const void* owner, bool yielded) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.release(owner, yielded);
    }
    freed_.notify_all();
}
