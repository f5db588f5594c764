#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "FlashHost.h"
#include "Frames.h"
#include "RunResult.h"

class TSerialPortDriver;

// How long a reply or an echo may take, and how finely a wait is cut to let the window
// work in between.
struct LinkBounds {
    uint32_t replyMs = 5000;
    uint32_t eraseMs = 60000;  // a flash erase takes far longer than any other step
    uint32_t sliceMs = 20;
    // The waits that have no time limit of their own (the server's greeting, the probes of
    // the via-server entry): with a bound, they end after it as STOP ends them.
    uint32_t unboundedWaitMs = UINT32_MAX;
};

// A wait with no time limit (ends on STOP or on the port closing).
constexpr uint32_t kNoTimeLimit = UINT32_MAX;

struct Reply {
    WaitEnd end = WaitEnd::Expired;
    Byte value = 0;

    bool Got() const { return end == WaitEnd::Byte; }
    bool Ok() const { return Got() && value == kReplyOk; }
};

// What a run works with, taken from the window once, when START begins the run: whatever the
// user picks on the other pages meanwhile, the run goes on with these.
struct RunSelection {
    std::string portBox;         // text of the port box
    std::string baseDirectory;   // the program's base directory
    std::string firmwareFolder;  // `FirmwareFolder` as its name on disk
    std::string firmware;        // the selected firmware list entry
};

// The conversation with a boot loader over the window's driver `dane`. Frames go out one
// byte per write. A wait for a reply or an echo sleeps in the operating system in short
// slices; between slices it lets the window process its messages, so STOP and repainting
// work. Every pass the link makes inside a wait or a pause holds the driver's poll, so the
// awaited byte stays in the input queue: the hosts' passes only process events.
class BootLink {
  public:
    explicit BootLink(FlashHost& host, LinkBounds bounds = {});

    FlashHost& Host() { return host_; }
    TSerialPortDriver& Dane() { return host_.Dane(); }
    const LinkBounds& Bounds() const { return bounds_; }
    // Reads the run's selection from the host; the entries and sequences use only this copy.
    // Also begins the run's result.
    void TakeSelection();
    const RunSelection& Selection() const { return selection_; }

    // The result of the run, filled in as its steps end.
    RunResult& Result() { return result_; }
    const RunResult& Result() const { return result_; }
    // The run has reached `step`.
    void Step(RunStep step) { result_.step = step; }
    // The current step ended on `reply` (a wait without its byte, or a code that is not
    // success): after the flash was touched the device is left damaged; before, a code is
    // `onCode` (a refusal, or an entry the device did not allow), a STOP is a stop and
    // anything else ended the run untouched.
    void EndStep(const Reply& reply, RunEnd onCode = RunEnd::Refused);
    // The port is open: the result keeps which device and adapter it is (for the journal;
    // an adapter pulled later can no longer be asked).
    void NotePortOpened();
    // The current step ended the run with `end`.
    void EndRun(RunEnd end) { result_.end = end; }
    // The run only asks the device for its firmware number (no question, no programming).
    void SetIdentifyOnly(bool only) { identifyOnly_ = only; }
    bool IdentifyOnly() const { return identifyOnly_; }

    void Log(const std::string& line) { host_.LogAppend(line); }
    // One pass of the window's message processing at a designed point between steps: the
    // driver's poll may run and drop what waits in the input queue.
    void ProcessMessages();
    // One pass of the window's message processing inside a wait, with the driver's poll held:
    // STOP acts and the window repaints, and the awaited byte stays in the input queue.
    void WaitPass();
    // Sleeps in the operating system until a byte is waiting, for at most one slice or
    // `leftMs` when that is shorter; true when a byte is waiting.
    bool WaitSliceForInput(uint32_t leftMs = kNoTimeLimit);
    // A pause of `ms`. One longer than a slice is slept in slices with the paint-only pass
    // before each, keeping its length; it ends at once when the window is closing.
    void Sleep(uint32_t ms);

    // A wait that has no time limit of its own (the server's greeting, the probes of the
    // via-server entry), begun when it is made. With LinkBounds::unboundedWaitMs it ends after
    // that bound as STOP would end it.
    class OpenWait {
      public:
        explicit OpenWait(BootLink& link);
        // False while the bound has not passed. Once it has: the step ends as expired, the run
        // as STOP ends it (StopRequested set) and the port is released; true.
        bool EndIfOverBound();

      private:
        BootLink& link_;
        uint32_t startMs_;
    };

    void SendFrame(std::span<const Byte> frame);
    // One byte from the device within boundMs (the reply bound when 0).
    Reply AwaitReply(uint32_t boundMs = 0);
    // Reads and drops n echoes; the first wait that fails ends it and is returned.
    Reply SkipEchoes(size_t n);
    // The driver's ReadByte (one byte within its input time-out), with the paint-only pass
    // while nothing is waiting.
    bool ReadByte(Byte& value);
    // Each byte followed by the read of its echo (the echoing link).
    Reply SendFrameEchoed(std::span<const Byte> frame);
    // Drops stale input: one read with the driver's input time-out, then whatever waits.
    // Ends when the port is closed, and after the reply bound against a device that never
    // stops sending.
    void DrainInput();
    // Closes the port if open; logs "SerialPort wolny..." in any case.
    void ReleasePort();
    // A reset pulse on RTS (100 ms, then a 100 ms pause), then ReleasePort.
    void ResetAndReleasePort();

    // The one line for a wait that ended without its byte.
    void LogWaitFailure(const Reply& reply);
    // How a wait ends on a port that is not open: lost under it, or closed.
    WaitEnd EndOfClosedPort();

  private:
    // The host's paint-only pass with the driver's poll held; the next one falls due a slice
    // after the last pass of either kind.
    void PaintOnlyPass();
    void PaintIfDue();

    FlashHost& host_;
    LinkBounds bounds_;
    RunSelection selection_;
    RunResult result_;
    bool identifyOnly_ = false;
    uint32_t lastPass_ = 0;
};

// Log texts of the waits that end without their byte.
inline constexpr const char* kLineNoAnswer = "Błąd : brak odpowiedzi urządzenia";
inline constexpr const char* kLineStopped = "Błąd : przerwano przez użytkownika";
inline constexpr const char* kLinePortClosed = "Błąd : SerialPort zamknięty";
inline constexpr const char* kLinePortLost = "Błąd : utracono połączenie z portem szeregowym";
inline constexpr const char* kLinePortFree = "SerialPort wolny...";
