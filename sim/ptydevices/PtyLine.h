#pragma once

#include <poll.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "DeviceCore.h"

// How fast bytes cross a simulated line.
struct Pacing {
    uint32_t rate = 9600;     // bits per second; 0: bytes cross at once
    bool followLine = false;  // pace at the rate the program set on its side instead
};

// The device's own character frame. A pseudo-terminal keeps no parity setting (the kernel
// makes every pseudo-terminal 8 bits without parity), so the time a byte takes comes from
// the framing the device works with, not from the program's settings.
struct Framing {
    uint8_t dataBits = 8;
    bool parity = false;
    uint8_t stopBits = 1;

    uint32_t Bits() const { return 1u + dataBits + (parity ? 1u : 0u) + stopBits; }
};

// One device model behind a pseudo-terminal. The program opens the slave side (through a
// link in the port directory) as it would open a serial port; this class holds the master.
//
// A pseudo-terminal carries no modem lines, so the RTS pulse with which the program resets a
// device never reaches it. The opening stands in for it: once the program has set the line
// up (raw mode), the device powers on and, `resetAfterMs` later, goes through the reset the
// program's pulse would have given it. Until the line is set up nothing is read: bytes sent
// into a terminal still in its default (echoing, line-editing) mode would be mangled.
//
// A device that drops off its line is unplugged: the master closes, so the program's side
// hangs up, and the link goes away. After the re-plug time a new pseudo-terminal appears
// under the same link, with the device working again (its faults spent).
class PtyLine final : public DeviceLine {
  public:
    PtyLine(std::string name, DeviceCore& core, uint32_t resetAfterMs, Framing framing,
            Pacing pacing);
    ~PtyLine() override;
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    // Creates the pseudo-terminal and the link `dir`/Name() to its slave, replacing an entry
    // of that name. Throws std::system_error.
    void Create(const std::string& dir);
    void SetReplugAfter(uint32_t ms) { replugAfterMs_ = ms; }
    // How often the device was unplugged, and the steady-clock time of the last unplugging
    // (nanoseconds since the clock's epoch); readable from any thread.
    int Unplugs() const { return unplugs_.load(); }
    int64_t LastUnplugNs() const { return lastUnplugNs_.load(); }

    const std::string& Name() const { return name_; }
    const std::string& SlavePath() const { return slavePath_; }
    bool ProgramHolds() const { return state_ != State::Free; }
    bool LineSetUp() const { return state_ == State::Ready; }

    // Called after the program has closed the port (the device is off the line then).
    void SetOnClosed(std::function<void()> onClosed) { onClosed_ = std::move(onClosed); }

    // What the event loop waits for on this line.
    pollfd PollEntry() const;
    // Takes what the program wrote and delivers what is due at `nowUs` (a monotonic time).
    void Service(uint64_t nowUs);
    // When the line next needs Service, from `nowUs` on.
    uint64_t NextDueUs(uint64_t nowUs) const;

    // DeviceLine
    void Send(uint8_t byte, uint32_t atTick) override;
    // A pseudo-terminal carries no break: nothing reaches the program.
    void Break(uint32_t atTick) override { (void)atTick; }
    void Drop(uint32_t atTick) override;

  private:
    enum class State : uint8_t {
        Free,    // nobody holds the slave open
        Opened,  // opened, the line not set up yet
        Ready,   // set up: the device is on the line
    };
    struct Timed {
        uint64_t dueUs;
        uint8_t byte;
    };

    void Plug();
    void Unplug(uint64_t nowUs);
    bool SlaveClosed() const;
    void CheckLineSettings();
    void SetUp(uint64_t nowUs);
    void Release();
    void ResetTerminal();
    void TakeInput(uint64_t nowUs);
    void FlushOutput(uint64_t nowUs);
    uint64_t ByteTimeUs() const;

    std::string name_;
    DeviceCore& core_;
    uint32_t resetAfterMs_;
    Framing framing_;
    Pacing pacing_;
    int master_ = -1;
    std::string slavePath_;
    std::string linkPath_;
    std::string dir_;
    uint32_t replugAfterMs_ = 500;
    bool unplugPending_ = false;  // the device dropped; carried out after its call returns
    bool unplugged_ = false;
    uint64_t replugDueUs_ = 0;
    std::atomic<int> unplugs_{0};
    std::atomic<int64_t> lastUnplugNs_{0};
    std::function<void()> onClosed_;

    State state_ = State::Free;
    LineConfig line_;
    uint64_t resetDueUs_ = 0;
    bool resetPending_ = false;
    bool dropped_ = false;
    uint64_t lastInUs_ = 0;   // when the last byte from the program has fully arrived
    uint64_t lastOutUs_ = 0;  // when the last byte to the program has been sent
    std::deque<Timed> inbox_;
    std::deque<Timed> outbox_;
};
