#pragma once

#include <chrono>
#include <cstdint>
#include <deque>

// Decides when a response has taken too long: no byte for the stall bound, or fewer bytes
// than `minimumRate` bytes/s averaged over the last `window`. Both count from the moment the
// request went out on its connection, so a dripping server cannot hold a request for hours and
// a slow but steady one is never cut off. Pure bookkeeping over the times it is given.
class TransferWatch {
  public:
    using Clock = std::chrono::steady_clock;

    TransferWatch(std::chrono::milliseconds stall, std::chrono::milliseconds window,
                  std::uint64_t minimumRate);

    // The request went out: both bounds start counting.
    void Start(Clock::time_point now);
    // `count` response bytes (headers or body) arrived.
    void Received(Clock::time_point now, std::uint64_t count);
    // True once a bound has passed; never before Start().
    bool Expired(Clock::time_point now);

  private:
    struct Sample {
        Clock::time_point at;
        std::uint64_t total;
    };

    std::chrono::milliseconds stall_;
    std::chrono::milliseconds window_;
    std::uint64_t minimumRate_;
    bool started_ = false;
    Clock::time_point lastByte_;
    std::uint64_t total_ = 0;
    // Totals at moments at least window/32 apart, the oldest no newer than a window ago once a
    // window has passed; so the average is taken over a window or up to 1/32 more.
    std::deque<Sample> samples_;
};
