#pragma once
// Request slots shared by every download: at most `limit` requests at once, and a freed slot goes to
// the waiting download that holds the fewest slots (the earliest among equals), so a new download
// gets its first connection before any download gets another one. While every slot is in use, a
// download holding two more than a waiting one ends one of its requests early to make room.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

// The bookkeeping alone, without waiting: pure logic.
class SlotQueue {
public:
    explicit SlotQueue(int limit) : limit_(limit) {}

    // Joins the queue; the ticket names this waiter.
    uint64_t enqueue(const void* owner);
    // True when a slot is free and no other waiter comes first.
    bool mayTake(uint64_t ticket) const;
    // The waiter leaves the queue holding a slot; only after mayTake said so.
    void take(uint64_t ticket);
    // The waiter leaves the queue without a slot.
    void leave(uint64_t ticket);
    // Whether a request of `owner` should end now and queue again: every slot is in use and a waiter
    // holds at least two fewer than the owner keeps. Each true promises one slot to one waiter, and the
    // request keeps the promise by release(owner, true).
    bool yieldFor(const void* owner);
    void release(const void* owner, bool yielded = false);
    int inUse() const { return inUse_; }
    int heldBy(const void* owner) const;

private:
    struct Waiter {
        uint64_t ticket;
        const void* owner;
    };
    int limit_;
    int inUse_ = 0;
    uint64_t nextTicket_ = 1;
    std::vector<Waiter> waiters_;
    std::map<const void*, int> held_;
    std::map<const void*, int> promised_;  // slots each owner has promised to give back
    int promisedTotal_ = 0;
};

class ConnectionSlots {
public:
    explicit ConnectionSlots(int limit) : queue_(limit) {}
    // Waits for a slot; false, holding none, once `stop` says so (asked at least every 100 ms).
    bool acquire(const void* owner, const std::function<bool()>& stop);
    bool yieldFor(const void* owner);
    void release(const void* owner, bool yielded = false);

private:
    std::mutex mutex_;
    std::condition_variable freed_;
    SlotQueue queue_;
};
