#include "downloads/speed_limit.h"

#include <algorithm>
#include <chrono>

namespace {

constexpr int64_t kMicros = 1000000;
constexpr int64_t kBurstDivisor = 4;  // the bucket holds a quarter of a second's worth
constexpr int64_t kStopCheckUs = 100000;

int64_t steadyMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

void TokenBucket::setRate(int64_t bytesPerSecond, int64_t nowUs) {
    rate_ = std::max<int64_t>(bytesPerSecond, 0);
    tokens_ = rate_ / kBurstDivisor;
    lastUs_ = nowUs;
}

int64_t TokenBucket::take(int64_t bytes, int64_t nowUs) {
    if (rate_ <= 0) return 0;
    const int64_t burst = std::max<int64_t>(rate_ / kBurstDivisor, 1);
    // A second fills any bucket, and counting no more keeps the product below overflow after long idling.
    const int64_t elapsed = std::clamp<int64_t>(nowUs - lastUs_, 0, kMicros);
    // Refilled in whole bytes; the microseconds that did not make a byte yet stay for the next time.
    const int64_t earned = elapsed * rate_ / kMicros;
    tokens_ = std::min(tokens_ + earned, burst);
    lastUs_ = tokens_ == burst ? nowUs : lastUs_ + earned * kMicros / rate_;
    tokens_ -= bytes;
    if (tokens_ >= 0) return 0;
    return (-tokens_ * kMicros + rate_ - 1) / rate_;
}

SpeedLimit::SpeedLimit() : clock_(steadyMicros) {}

void SpeedLimit::setBytesPerSecond(int64_t rate) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (rate == bucket_.rate()) return;
        bucket_.setRate(rate, clock_());
        ++generation_;
    }
    changed_.notify_all();
}

bool SpeedLimit::admit(int64_t bytes, const std::function<bool()>& stop) {
    std::unique_lock<std::mutex> lock(mutex_);
    const int64_t start = clock_();
    const int64_t wait = bucket_.take(bytes, start);
    const uint64_t generation = generation_;
    while (generation == generation_) {
        if (stop && stop()) return false;
        const int64_t left = wait - (clock_() - start);
        if (left <= 0) return true;
        changed_.wait_for(lock, std::chrono::microseconds(std::min(left, kStopCheckUs)));
    }
    return !(stop && stop());
}
