#pragma once
// The download speed cap: one token bucket shared by every connection of every download, filled at
// the cap's rate and holding at most a quarter of a second's worth, so a pause never turns into a
// burst. A read that finds the bucket short waits until it has paid its bytes back.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

// The bookkeeping alone, on a clock the caller gives: pure logic.
class TokenBucket {
public:
    // Bytes a second; 0 lifts the cap. The bucket starts full at the new rate.
    void setRate(int64_t bytesPerSecond, int64_t nowUs);
    int64_t rate() const { return rate_; }
    // Charges `bytes` read at `nowUs` and answers how long, in microseconds, the reader waits before
    // it reads on: 0 while the bucket covers them. One read may take the bucket below empty; the wait
    // pays that debt back.
    int64_t take(int64_t bytes, int64_t nowUs);

private:
    int64_t rate_ = 0;
    int64_t tokens_ = 0;  // bytes; below zero while a reader waits
    int64_t lastUs_ = 0;
};

class SpeedLimit {
public:
    using Clock = std::function<int64_t()>;  // microseconds from any start
    SpeedLimit();
    explicit SpeedLimit(Clock clock) : clock_(std::move(clock)) {}

    // In bytes a second, 0 for none. Readers waiting under the old cap go on at once under the new one.
    void setBytesPerSecond(int64_t rate);
    // Charges `bytes` and waits for them under the cap; false, at once, once `stop` says so (asked at
    // least every 100 ms).
    bool admit(int64_t bytes, const std::function<bool()>& stop);

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    Clock clock_;
    TokenBucket bucket_;
    uint64_t generation_ = 0;  // counts changes of the cap
};
