#pragma once

#include <cstdint>
#include <string>

// The operating-system services a serial port driver needs, one open port per handle.
// Implementations: PosixBackend.cpp (termios), Win32Backend.cpp (Windows) and, for the tests, sim/serial/SimulatedBackend.cpp
// (in-process device models in virtual time). Every call reports failure through its result;
// none throws.

// DTR line control of a line-settings record.
enum class DtrControl : uint8_t {
    Disable,    // DTR low while open
    Enable,     // DTR raised while open
    Handshake,  // input flow control on DTR
};

// RTS line control of a line-settings record.
enum class RtsControl : uint8_t {
    Disable,    // RTS low while open
    Enable,     // RTS raised while open
    Handshake,  // input flow control on RTS
    Toggle,     // raised while sending
};

// Line-settings record (a device control block): everything written into the port at once.
// A value-initialised record is all zero.
struct LineSettings {
    uint32_t length = 0;    // the record's size as the driver states it (28); a backend may check it
    uint32_t baudRate = 0;  // bit/s, any value
    bool binary = false;
    bool parityCheck = false;  // check received parity (the driver leaves it off)
    bool ignoreBreak = false;  // a line held low (break) delivers no byte
    bool outxCtsFlow = false;  // output paused while CTS is low
    DtrControl dtrControl = DtrControl::Disable;
    RtsControl rtsControl = RtsControl::Disable;
    bool outX = false;  // XON/XOFF on output
    bool inX = false;   // XON/XOFF on input
    uint16_t xonLim = 0;
    uint16_t xoffLim = 0;
    uint8_t byteSize = 0;  // data bits, 5 to 8
    uint8_t parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint8_t stopBits = 0;  // 0 one, 1 one and a half, 2 two
    uint8_t xonChar = 0;
    uint8_t xoffChar = 0;
    uint8_t errorChar = 0;
    uint8_t eofChar = 0;
    uint8_t evtChar = 0;

    bool operator==(const LineSettings&) const = default;
};

// Modem input lines, one bit each in one byte.
using ModemLines = uint8_t;
constexpr ModemLines mlCTS = 1u << 0;
constexpr ModemLines mlDSR = 1u << 1;
constexpr ModemLines mlRING = 1u << 2;
constexpr ModemLines mlRLSD = 1u << 3;  // carrier detect

using SerialHandle = intptr_t;
constexpr SerialHandle kInvalidSerialHandle = -1;

enum class WaitResult : uint8_t {
    Ready,    // the condition holds
    Timeout,  // the time-out passed first
    Failed,   // the port failed (hung up, device gone); waiting longer will not help
};

// Why the last Open of a backend failed: the device path the name was resolved to (empty
// when the name maps to no device) and the system's error number.
struct OpenFailure {
    std::string path;
    int error = 0;
    std::string holder;  // the program that holds the port, "name (PID n)"; empty when unknown
};

class SerialBackend {
  public:
    virtual ~SerialBackend() = default;

    // The failure of the last Open that failed; empty where the backend tells no reasons.
    virtual OpenFailure LastOpenFailure() const { return {}; }

    // Opens an existing port for reading and writing, exclusively. kInvalidSerialHandle when
    // the port is absent or in use.
    virtual SerialHandle Open(const std::string& name) = 0;
    virtual void Close(SerialHandle h) = 0;

    // Writes the whole record, including the DTR and RTS levels it implies.
    virtual bool SetLineSettings(SerialHandle h, const LineSettings& settings) = 0;
    virtual bool SetQueueSizes(SerialHandle h, uint32_t inBytes, uint32_t outBytes) = 0;
    // Discards the queued bytes of the chosen directions.
    virtual bool Purge(SerialHandle h, bool input, bool output) = 0;
    // Bytes in the input queue and bytes not yet sent from the output queue.
    virtual bool QueueCounts(SerialHandle h, uint32_t& inQueue, uint32_t& outQueue) = 0;
    virtual bool ModemStatus(SerialHandle h, ModemLines& lines) = 0;
    virtual bool SetRts(SerialHandle h, bool high) = 0;
    virtual bool SetDtr(SerialHandle h, bool high) = 0;

    // Non-blocking transfers: the count moved (0 when nothing could move), -1 on failure.
    virtual int32_t Read(SerialHandle h, uint8_t* buffer, uint32_t size) = 0;
    virtual int32_t Write(SerialHandle h, const uint8_t* data, uint32_t size) = 0;

    // Sleep in the operating system until a byte can be read / written or timeoutMs passes.
    virtual WaitResult WaitReadable(SerialHandle h, uint32_t timeoutMs) = 0;
    virtual WaitResult WaitWritable(SerialHandle h, uint32_t timeoutMs) = 0;
    // Sleeps timeoutMs in the operating system, waking early only when the line hangs up
    // (Failed then; input arriving does not end it).
    virtual WaitResult WaitHangUp(SerialHandle h, uint32_t timeoutMs) = 0;

    // True once a call on `h` found its line hung up or its device gone (an adapter pulled,
    // the other end of a pseudo-terminal closed): nothing more will pass on this handle, and
    // the caller should close it. A refusal of one request (a line a pseudo-terminal does not
    // have) is no loss.
    virtual bool LineLost(SerialHandle h) = 0;
};

// The serial ports of this machine: the termios backend, or the Win32 one on Windows.
SerialBackend& SystemSerialBackend();
