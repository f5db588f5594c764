#pragma once

#include <QTimer>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Clock.h"
#include "SerialBackend.h"

enum TBaudRate : uint8_t {
    brCustom,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000,
};

enum TPortNumber : uint8_t {
    pnCustom,
    pnCOM1,
    pnCOM2,
    pnCOM3,
    pnCOM4,
    pnCOM5,
    pnCOM6,
    pnCOM7,
    pnCOM8,
    pnCOM9,
    pnCOM10,
    pnCOM11,
    pnCOM12,
    pnCOM13,
    pnCOM14,
    pnCOM15,
    pnCOM16,
};

enum TDataBits : uint8_t { db5BITS, db6BITS, db7BITS, db8BITS };
enum TStopBits : uint8_t { sb1BITS, sb1HALFBITS, sb2BITS };
enum TParity : uint8_t { ptNONE, ptODD, ptEVEN, ptMARK, ptSPACE };
enum THwFlowControl : uint8_t { hfNONE, hfNONERTSON, hfRTSCTS };
enum TSwFlowControl : uint8_t { sfNONE, sfXONXOFF };
enum TPacketMode : uint8_t { pmDiscard, pmPass };

// Rate of the baud-rate table in bit/s; 0 for brCustom.
uint32_t BaudRateOf(TBaudRate rate);

// Milliseconds that `bytes` take on the line at `bitsPerSecond`, ten bit times per byte,
// rounded to the nearest millisecond. 0 when the rate is 0.
uint32_t PacketTransmitTime(uint32_t bitsPerSecond, uint32_t bytes);

class TSerialPortDriver;

using TReceiveDataEvent =
    std::function<void(TSerialPortDriver* Sender, const uint8_t* DataPtr, uint32_t DataSize)>;
using TReceivePacketEvent =
    std::function<void(TSerialPortDriver* Sender, const uint8_t* Packet, uint32_t DataSize)>;

// Owns one serial port: opens it by name, writes its line settings, reads and writes bytes
// with inactivity time-outs, drives RTS, and polls the input queue on a timer so received
// bytes can be delivered as a stream (OnReceiveData) or in fixed-size packets
// (OnReceivePacket).
//
// Single-threaded: every call runs on the caller's thread. The polling timer is a QTimer of
// period PollingDelay that runs only while the port is open; its ticks arrive only while a
// Qt event loop dispatches (without a QCoreApplication there is no timer and PollTick is
// called by hand). A tick takes every waiting byte, and without a handler drops it: a caller
// that processes events while waiting for a reply holds a PollHold.
//
// A lost line (hung up, device gone, as the backend reports it) closes the port at once:
// from then on every call answers as on a closed port, without waiting, and PortLost tells
// the callers why the port closed.
//
// Waits sleep in the operating system through the backend; elapsed times are unsigned
// 32-bit differences of Clock ticks, and the time-outs of writes and reads are inactivity
// limits that run from the last progress.
//
// Packet timing: PacketStartTime advances by PacketTransmitTime at BaudRateValue, which is
// the table rate for every table BaudRate and the written rate at brCustom (no advance when
// that rate is 0). PacketSize is at most 8192, the largest InBufSize: a larger value is
// stored as 8192.
class TSerialPortDriver {
  public:
    TSerialPortDriver(SerialBackend& backend, Clock& clock);
    ~TSerialPortDriver();
    TSerialPortDriver(const TSerialPortDriver&) = delete;
    TSerialPortDriver& operator=(const TSerialPortDriver&) = delete;

    // Keeps PollTick idle for its lifetime (counts as a running read).
    class PollHold {
      public:
        explicit PollHold(TSerialPortDriver& driver);
        ~PollHold();
        PollHold(const PollHold&) = delete;
        PollHold& operator=(const PollHold&) = delete;

      private:
        TSerialPortDriver& driver_;
    };

    // Properties.
    TPortNumber Port() const { return port_; }
    void SetPort(TPortNumber v);
    const std::string& PortName() const { return portName_; }
    void SetPortName(const std::string& v);
    TBaudRate BaudRate() const { return baudRate_; }
    void SetBaudRate(TBaudRate v);
    uint32_t BaudRateValue() const { return baudRateValue_; }
    void SetBaudRateValue(uint32_t v);
    TDataBits DataBits() const { return dataBits_; }
    void SetDataBits(TDataBits v);
    TStopBits StopBits() const { return stopBits_; }
    void SetStopBits(TStopBits v);
    TParity Parity() const { return parity_; }
    void SetParity(TParity v);
    THwFlowControl HwFlow() const { return hwFlow_; }
    void SetHwFlow(THwFlowControl v);
    TSwFlowControl SwFlow() const { return swFlow_; }
    void SetSwFlow(TSwFlowControl v);
    uint32_t InBufSize() const { return inBufSize_; }
    void SetInBufSize(uint32_t v);
    uint32_t OutBufSize() const { return outBufSize_; }
    void SetOutBufSize(uint32_t v);
    int16_t PacketSize() const { return packetSize_; }
    void SetPacketSize(int16_t v);
    int32_t PacketTimeout() const { return packetTimeout_; }
    void SetPacketTimeout(int32_t v);
    TPacketMode PacketMode() const { return packetMode_; }
    void SetPacketMode(TPacketMode v) { packetMode_ = v; }
    uint16_t PollingDelay() const { return pollingDelay_; }
    void SetPollingDelay(uint16_t v);
    bool EnableDTROnOpen() const { return enableDTROnOpen_; }
    void SetEnableDTROnOpen(bool v) { enableDTROnOpen_ = v; }
    uint16_t OutputTimeout() const { return outputTimeout_; }
    void SetOutputTimeout(uint16_t v) { outputTimeout_ = v; }
    uint32_t InputTimeout() const { return inputTimeout_; }
    void SetInputTimeout(uint32_t v) { inputTimeout_ = v; }
    bool CheckLineStatus() const { return checkLineStatus_; }
    void SetCheckLineStatus(bool v) { checkLineStatus_ = v; }
    const TReceiveDataEvent& OnReceiveData() const { return onReceiveData_; }
    void SetOnReceiveData(TReceiveDataEvent v) { onReceiveData_ = std::move(v); }
    const TReceivePacketEvent& OnReceivePacket() const { return onReceivePacket_; }
    void SetOnReceivePacket(TReceivePacketEvent v) { onReceivePacket_ = std::move(v); }

    // Operations. None reports an error other than through its result.
    bool OpenPort();
    void ClosePort();
    bool IsPortOpen() const { return handle_ != kInvalidSerialHandle; }
    // The port was closed because its line was lost, not by ClosePort; false again from the
    // next OpenPort.
    bool PortLost() const { return lost_; }
    // Why the last OpenPort that failed did so: the backend's reason, or the system's error
    // of a port that opened but refused its line settings (no path then).
    const OpenFailure& LastOpenFailure() const { return lastOpenFailure_; }
    bool ApplyLineSettings();
    ModemLines ReadModemLines();
    bool PurgeQueues(bool input, bool output);
    // Bytes in the input queue; 65535 when closed.
    int32_t BytesWaiting();
    // Free room of the output queue counted against OutBufSize; 65535 when closed.
    uint16_t OutputSpace();
    uint32_t WriteWithTimeout(const uint8_t* data, uint32_t size, uint32_t timeoutMs);
    uint32_t WriteBytes(const uint8_t* data, uint32_t size);
    bool WriteByte(uint8_t value);
    // Reads until `size` bytes came or InputTimeout passed without progress. A queue that
    // reports bytes which no read delivers counts as no progress, so the call still ends.
    uint32_t ReadBytes(uint8_t* buffer, uint32_t size);
    // Writes `value` only when a byte was read.
    bool ReadByte(uint8_t& value);
    void SetRTSLine(bool on);

    // Sleeps until at least one byte is waiting (true) or timeoutMs passes (false). False at
    // once when the port is closed or its line is lost; after another failure of the wait it
    // sleeps out the time-out and returns false, so a caller's loop never spins.
    bool WaitForInput(uint32_t timeoutMs);
    // Sleeps timeoutMs, or less when the line hangs up meanwhile (the port is then closed as
    // lost). False when the port is lost at the end; a closed port just sleeps.
    bool SleepWatchingLine(uint32_t timeoutMs);

    // One tick of the polling timer: delivers or drops the waiting input. Does nothing while
    // the port is closed or a read or PollHold is active.
    void PollTick();

    // Bytes written to and read from the line since the driver was made, for a host that
    // reports the line's traffic.
    uint64_t BytesSent() const { return bytesSent_; }
    uint64_t BytesReceived() const { return bytesReceived_; }

    // The line-settings record that ApplyLineSettings writes for the current properties.
    LineSettings BuildLineSettings() const;

    // The record that receives PollTick's bytes (InBufSize bytes).
    const std::vector<uint8_t>& ReceiveBuffer() const { return receiveBuffer_; }

  private:
    void ReapplyIfOpen();
    uint32_t ReadAvailable(uint8_t* buffer, uint32_t size);
    // After a failed backend call: when the backend counts the line as lost, closes the port
    // as lost and returns true.
    bool NoteLoss();
    static constexpr uint32_t kNoPacket = 0xFFFFFFFFu;

    SerialBackend& backend_;
    Clock& clock_;
    SerialHandle handle_ = kInvalidSerialHandle;
    bool lost_ = false;
    OpenFailure lastOpenFailure_;
    uint64_t bytesSent_ = 0;
    uint64_t bytesReceived_ = 0;

    TPortNumber port_ = pnCOM2;
    std::string portName_;  // the name of port_ until SetPortName
    TBaudRate baudRate_ = br9600;
    uint32_t baudRateValue_ = 9600;
    TDataBits dataBits_ = db8BITS;
    TStopBits stopBits_ = sb1BITS;
    TParity parity_ = ptNONE;
    THwFlowControl hwFlow_ = hfNONERTSON;
    TSwFlowControl swFlow_ = sfNONE;
    uint32_t inBufSize_ = 2048;
    uint32_t outBufSize_ = 2048;
    int16_t packetSize_ = -1;
    int32_t packetTimeout_ = -1;
    TPacketMode packetMode_ = pmDiscard;
    uint16_t pollingDelay_ = 50;
    bool enableDTROnOpen_ = true;
    uint16_t outputTimeout_ = 500;
    uint32_t inputTimeout_ = 200;
    bool checkLineStatus_ = false;
    TReceiveDataEvent onReceiveData_;
    TReceivePacketEvent onReceivePacket_;

    QTimer pollTimer_;
    std::vector<uint8_t> receiveBuffer_;
    uint32_t packetStartTime_ = kNoPacket;
    int32_t readInProgress_ = 0;
};
