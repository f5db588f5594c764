#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

// The frame engine and flash of a simulated Quorvant II boot loader, shared by the server
// and the card models. It knows nothing of time or transport: it takes the host's bytes one
// at a time and says what to answer and how long the step takes.

enum class BootStep : uint8_t {
    CardInit,
    BitLockOn,
    BitLockOff,
    Erase,
    Write,
    ReadFirmwareNumber,
    ResetServer,
};

// A scripted misbehaviour at one step (for Write: at one record, or at every record).
struct StepFault {
    enum Kind : uint8_t {
        Answer,    // answer the step with `code` instead of doing it
        Silent,    // no answer, and nothing more from the device
        DropLine,  // the line drops after `afterBytes` bytes of the frame
    };
    // For DropLine: the line drops once the whole frame is in, instead of its answer.
    static constexpr size_t kWholeFrame = SIZE_MAX;
    BootStep step;
    Kind kind = Answer;
    uint8_t code = 0;
    int record = -1;
    size_t afterBytes = 0;
};

class BootLoader {
  public:
    static constexpr size_t kFlashSize = 220 * 69;
    static constexpr uint8_t kFreshFlashByte = 0xA5;  // the previous firmware, before an erase

    struct Options {
        bool server = false;  // takes ResetServer; a card takes CardInit
        uint8_t firmwareNumber = 0x69;
        std::vector<StepFault> faults;
        std::map<BootStep, uint32_t> stepTimeMs;  // time to answer a step; 1 ms when not set
    };

    // What a frame (or a byte of one) leads to.
    struct Outcome {
        enum Kind : uint8_t {
            Stray,    // the byte is no part of a frame; the caller may use it
            Pending,  // the frame is not complete yet
            Answer,   // send `reply` after `delayMs`
            Quiet,    // complete, nothing is answered
            Drop,     // the line drops now
            Restart,  // ResetServer taken: the device leaves its boot loader
        };
        Kind kind = Pending;
        std::vector<uint8_t> reply;
        uint32_t delayMs = 0;

        static Outcome Just(Kind kind) {
            Outcome outcome;
            outcome.kind = kind;
            return outcome;
        }
    };

    explicit BootLoader(Options options);

    Outcome Feed(uint8_t byte);
    // Power cycle or reset: a half-received frame is forgotten and BitLock falls.
    void Restart();
    // Silent or dropped by a fault: every further byte is ignored.
    bool Dead() const { return dead_; }
    // The faults are spent: the boot loader works again (a re-plugged device).
    void ClearFaults();

    const std::vector<uint8_t>& Flash() const { return flash_; }
    bool BitLock() const { return bitLock_; }
    int EraseCount() const { return eraseCount_; }
    // Every complete frame taken, in order.
    const std::vector<BootStep>& Steps() const { return steps_; }
    // Addresses of the accepted write frames, in order.
    const std::vector<uint16_t>& WriteAddresses() const { return writeAddresses_; }

  private:
    std::optional<BootStep> StepOfFrame() const;
    int RecordOfFrame() const;
    const StepFault* FaultFor(BootStep step, StepFault::Kind kind) const;
    uint32_t StepTime(BootStep step) const;
    Outcome Complete(std::optional<BootStep> step);
    Outcome Execute(BootStep step);
    Outcome Reply(BootStep step, uint8_t code) const;

    Options options_;
    std::vector<uint8_t> frame_;
    std::vector<uint8_t> flash_;
    bool bitLock_ = false;
    bool erased_ = false;
    bool dead_ = false;
    int eraseCount_ = 0;
    std::vector<BootStep> steps_;
    std::vector<uint16_t> writeAddresses_;
};
