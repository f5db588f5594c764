#pragma once

#include <cstdint>

// Millisecond time for every time-out and pause of the serial link.
// Tick values wrap at 2^32; elapsed times are unsigned differences of two ticks.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual uint32_t TickMs() = 0;
    virtual void SleepMs(uint32_t ms) = 0;
};

// Wall time: a monotonic tick and a sleep of the calling thread.
class SystemClock final : public Clock {
  public:
    static SystemClock& Instance();
    uint32_t TickMs() override;
    void SleepMs(uint32_t ms) override;
};

// Virtual time for simulated runs: nothing passes unless somebody sleeps or advances it,
// and a sleep returns at once after moving the tick on.
class VirtualClock final : public Clock {
  public:
    explicit VirtualClock(uint32_t start = 0) : now_(start) {}
    uint32_t TickMs() override { return now_; }
    void SleepMs(uint32_t ms) override { now_ += ms; }
    void Advance(uint32_t ms) { now_ += ms; }

  private:
    uint32_t now_;
};
