#pragma once

#include <cstdint>
#include <vector>

#include "BootLoader.h"

// Transport-independent device models: bytes and line events go in with the tick at which
// they happen, answers come out as bytes due at a tick. An adapter binds a model to the
// simulated serial backend; another can bind it to a pseudo-terminal.

// Line settings as the device sees them (codes of the serial line-settings record).
struct LineConfig {
    uint32_t baudRate = 0;
    uint8_t byteSize = 8;
    uint8_t parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint8_t stopBits = 0;  // 0 one, 1 one and a half, 2 two

    bool operator==(const LineConfig&) const = default;
};

// What a device does at a step of its own (its greeting, the via-server probe) instead of
// going through it.
enum class LineFault : uint8_t {
    None,
    Silent,  // nothing, and nothing more from the device
    Drop,    // the line drops (cable pulled)
};

// The device's side of the line.
class DeviceLine {
  public:
    virtual ~DeviceLine() = default;
    // A byte that reaches the host at the given tick.
    virtual void Send(uint8_t byte, uint32_t atTick) = 0;
    // The device holds the line low (a break) at the given tick.
    virtual void Break(uint32_t atTick) = 0;
    // The device drops off the line (cable pulled) at the given tick.
    virtual void Drop(uint32_t atTick) = 0;
};

// One received byte with the tick and the line settings in force when it arrived.
struct ReceivedByte {
    uint8_t byte;
    uint32_t tick;
    LineConfig line;
};

class DeviceCore {
  public:
    virtual ~DeviceCore() = default;

    void Attach(DeviceLine* line) { line_ = line; }

    // The host opened / closed the port (for a device powered from the line: power on / off).
    virtual void PowerOn(uint32_t now) { (void)now; }
    virtual void PowerOff(uint32_t now) { (void)now; }
    // RTS went up / down. The devices reset on the falling edge of a pulse.
    virtual void RtsChanged(bool high, uint32_t now) { (void)high, (void)now; }
    // The device was plugged in again after its line dropped: it works again, and the faults
    // it was given are spent (its flash stays as it was).
    virtual void Replugged() {}
    void LineChanged(const LineConfig& line) { lineConfig_ = line; }
    // A byte from the host.
    void Receive(uint8_t byte, uint32_t now) {
        received_.push_back({byte, now, lineConfig_});
        OnByte(byte, now);
    }

    const LineConfig& Line() const { return lineConfig_; }
    const std::vector<ReceivedByte>& Received() const { return received_; }
    std::vector<uint8_t> ReceivedBytes() const;

  protected:
    virtual void OnByte(uint8_t byte, uint32_t now) = 0;
    void Emit(uint8_t byte, uint32_t atTick) {
        if (line_) line_->Send(byte, atTick);
    }
    void DropLine(uint32_t atTick) {
        if (line_) line_->Drop(atTick);
    }
    void EmitBreak(uint32_t atTick) {
        if (line_) line_->Break(atTick);
    }
    // Carries out what the boot loader made of a byte: its answer goes out when due, or the
    // line drops. False when the line was dropped.
    bool Carry(const BootLoader::Outcome& out, uint32_t now) {
        if (out.kind == BootLoader::Outcome::Drop) {
            DropLine(now);
            return false;
        }
        if (out.kind == BootLoader::Outcome::Answer) {
            for (uint8_t b : out.reply) Emit(b, now + out.delayMs);
        }
        return true;
    }
    DeviceLine* AttachedLine() const { return line_; }

  private:
    DeviceLine* line_ = nullptr;
    LineConfig lineConfig_;
    std::vector<ReceivedByte> received_;
};
