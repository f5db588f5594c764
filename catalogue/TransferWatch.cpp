#include "TransferWatch.h"

TransferWatch::TransferWatch(std::chrono::milliseconds stall, std::chrono::milliseconds window,
                             std::uint64_t minimumRate)
    : stall_(stall), window_(window), minimumRate_(minimumRate) {}

void TransferWatch::Start(Clock::time_point now) {
    started_ = true;
    lastByte_ = now;
    total_ = 0;
    samples_.assign(1, Sample{now, 0});
}

void TransferWatch::Received(Clock::time_point now, std::uint64_t count) {
    lastByte_ = now;
    total_ += count;
}

bool TransferWatch::Expired(Clock::time_point now) {
    if (!started_) return false;
    if (now - lastByte_ >= stall_) return true;
    if (now - samples_.back().at >= window_ / 32) samples_.push_back(Sample{now, total_});
    const Clock::time_point windowStart = now - window_;
    while (samples_.size() > 1 && samples_[1].at <= windowStart) samples_.pop_front();
    if (samples_.front().at > windowStart) return false;  // not a whole window yet
    const auto windowMs = static_cast<std::uint64_t>(window_.count());
    // Bytes since the oldest sample, which lies a window or a little more ago.
    return (total_ - samples_.front().total) * 1000 < minimumRate_ * windowMs;
}
