#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Clock.h"
#include "SerialBackend.h"

class SimulatedBackend;
struct SimPort;

// What a device model sees of its line while the program has the port open.
class SimLine {
  public:
    // Makes `b` readable by the program from tick `atTick` on (at once when it has passed).
    // Bytes arrive in the order sent: a byte never overtakes an earlier one.
    void Send(uint8_t b, uint32_t atTick);
    void Send(const std::vector<uint8_t>& bytes, uint32_t atTick);
    // The device holds the line low (a break): the program reads a 0x00 for it unless its
    // line settings ignore breaks.
    void SendBreak(uint32_t atTick);
    uint32_t Now() const;
    // The last line-settings record the program applied.
    const LineSettings& Settings() const;
    bool Rts() const;
    bool Dtr() const;
    // Levels the program reads as modem lines (none by default).
    void SetModemLines(ModemLines lines);
    // Drops the line, as an unplugged device: reads, writes, counts and waits fail until the
    // program closes the port.
    void Hangup();
    // The same at tick `atTick` (at once when it has passed).
    void HangupAt(uint32_t atTick);

  private:
    friend class SimulatedBackend;
    explicit SimLine(SimulatedBackend& backend, SimPort& port) : backend_(backend), port_(port) {}
    SimulatedBackend& backend_;
    SimPort& port_;
};

// A device model attached to a simulated port. Bytes the program writes reach it at once,
// in OnByte; it answers through SimLine::Send at the tick of its choice.
class SimDevice {
  public:
    virtual ~SimDevice() = default;
    // The line is valid until OnClose.
    virtual void OnOpen(SimLine& line) { (void)line; }
    virtual void OnClose() {}
    virtual void OnLineSettings(const LineSettings& settings) { (void)settings; }
    // Level changes only.
    virtual void OnRts(bool high) { (void)high; }
    virtual void OnDtr(bool high) { (void)high; }
    virtual void OnByte(uint8_t b) = 0;
};

// Attached devices must outlive the backend, and drivers using it must end before it.
// Serial ports in process, in the time of the clock it is given (a VirtualClock makes every
// wait free: a wait advances the clock to the next arrival or to its deadline).
// Ports are named as the driver's PortName ("\\.\COM1"); a name is absent until set up.
class SimulatedBackend final : public SerialBackend {
  public:
    explicit SimulatedBackend(Clock& clock);
    ~SimulatedBackend() override;

    // Port set-up. Each call replaces the earlier set-up of that name (not while open).
    void AddSilentPort(const std::string& name);                    // present, nothing answers
    void AttachDevice(const std::string& name, SimDevice& device);  // present, a model answers
    void AddPortInUse(const std::string& name);                     // present, every open fails
    void RemovePort(const std::string& name);                       // absent
    // Written bytes stay in the output queue (a line that never drains) while set.
    void SetOutputStalled(const std::string& name, bool stalled);

    // What happened on a port, for tests. Ticks are clock ticks.
    struct SettingsEntry {
        uint32_t tick;
        LineSettings settings;
    };
    enum class Line : uint8_t { Rts, Dtr };
    struct LineEntry {
        uint32_t tick;
        Line line;
        bool high;
    };
    struct ByteEntry {
        uint32_t tick;
        uint8_t value;
    };
    struct PortRecord {
        std::vector<SettingsEntry> settings;  // every record applied
        std::vector<LineEntry> lines;         // every RTS/DTR level change (close drops both)
        std::vector<ByteEntry> written;       // every byte the program wrote
        uint32_t opens = 0;                   // successful opens
        uint32_t failedOpens = 0;             // opens refused (in use, already open)
        uint32_t inQueueSize = 0;             // last queue sizes set
        uint32_t outQueueSize = 0;
    };
    // Empty record for a name never set up.
    const PortRecord& Record(const std::string& name) const;
    bool IsOpen(const std::string& name) const;
    // Opens attempted on absent names, in order.
    const std::vector<std::string>& AbsentOpens() const { return absentOpens_; }

    // SerialBackend.
    SerialHandle Open(const std::string& name) override;
    void Close(SerialHandle h) override;
    bool SetLineSettings(SerialHandle h, const LineSettings& settings) override;
    bool SetQueueSizes(SerialHandle h, uint32_t inBytes, uint32_t outBytes) override;
    bool Purge(SerialHandle h, bool input, bool output) override;
    bool QueueCounts(SerialHandle h, uint32_t& inQueue, uint32_t& outQueue) override;
    bool ModemStatus(SerialHandle h, ModemLines& lines) override;
    bool SetRts(SerialHandle h, bool high) override;
    bool SetDtr(SerialHandle h, bool high) override;
    int32_t Read(SerialHandle h, uint8_t* buffer, uint32_t size) override;
    int32_t Write(SerialHandle h, const uint8_t* data, uint32_t size) override;
    WaitResult WaitReadable(SerialHandle h, uint32_t timeoutMs) override;
    WaitResult WaitWritable(SerialHandle h, uint32_t timeoutMs) override;
    WaitResult WaitHangUp(SerialHandle h, uint32_t timeoutMs) override;
    bool LineLost(SerialHandle h) override;

  private:
    friend class SimLine;
    SimPort* PortOf(SerialHandle h);
    // Whether the port's line has hung up by now.
    bool Failed(SimPort& port);
    SimPort& PortNamed(const std::string& name);
    void SetLine(SimPort& port, Line line, bool high);

    Clock& clock_;
    std::map<std::string, std::unique_ptr<SimPort>> ports_;
    std::map<SerialHandle, SimPort*> open_;
    SerialHandle nextHandle_ = 1;
    std::vector<std::string> absentOpens_;
};
