#include "TSerialPortDriver.h"

#include <QCoreApplication>
#include <algorithm>
#include <cerrno>
#include <cmath>

#include "PortNames.h"

namespace {

constexpr uint32_t kBaudRates[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                   14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};

constexpr uint32_t kMinBufSize = 128;
constexpr uint32_t kMaxBufSize = 8192;
constexpr uint16_t kMinPollingDelay = 5;
constexpr uint32_t kLineSettingsLength = 28;

uint32_t ClampBufSize(uint32_t v) {
    return std::clamp(v, kMinBufSize, kMaxBufSize);
}

}  // namespace

uint32_t BaudRateOf(TBaudRate rate) {
    return rate < std::size(kBaudRates) ? kBaudRates[rate] : 0;
}

uint32_t PacketTransmitTime(uint32_t bitsPerSecond, uint32_t bytes) {
    if (bitsPerSecond == 0) return 0;
    return static_cast<uint32_t>(std::lround(bytes / (bitsPerSecond / 10.0) * 1000.0));
}

TSerialPortDriver::PollHold::PollHold(TSerialPortDriver& driver) : driver_(driver) {
    ++driver_.readInProgress_;
}

TSerialPortDriver::PollHold::~PollHold() {
    --driver_.readInProgress_;
}

TSerialPortDriver::TSerialPortDriver(SerialBackend& backend, Clock& clock)
    : backend_(backend),
      clock_(clock),
      portName_(ComPortName(port_)),
      receiveBuffer_(inBufSize_, 0) {
    pollTimer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&pollTimer_, &QTimer::timeout, [this] { PollTick(); });
}

TSerialPortDriver::~TSerialPortDriver() {
    ClosePort();
}

// Properties.

void TSerialPortDriver::SetPort(TPortNumber v) {
    if (IsPortOpen()) return;
    port_ = v;
    if (v != pnCustom) portName_ = ComPortName(v);
}

void TSerialPortDriver::SetPortName(const std::string& v) {
    if (IsPortOpen()) return;
    portName_ = v;
    port_ = pnCustom;
}

void TSerialPortDriver::SetBaudRate(TBaudRate v) {
    baudRate_ = v;
    if (v != brCustom) baudRateValue_ = BaudRateOf(v);
    ReapplyIfOpen();
}

void TSerialPortDriver::SetBaudRateValue(uint32_t v) {
    baudRateValue_ = v;
    baudRate_ = brCustom;
    ReapplyIfOpen();
}

void TSerialPortDriver::SetDataBits(TDataBits v) {
    dataBits_ = v;
    ReapplyIfOpen();
}

void TSerialPortDriver::SetStopBits(TStopBits v) {
    stopBits_ = v;
    ReapplyIfOpen();
}

void TSerialPortDriver::SetParity(TParity v) {
    parity_ = v;
    ReapplyIfOpen();
}

void TSerialPortDriver::SetHwFlow(THwFlowControl v) {
    hwFlow_ = v;
    ReapplyIfOpen();
}

void TSerialPortDriver::SetSwFlow(TSwFlowControl v) {
    swFlow_ = v;
    ReapplyIfOpen();
}

void TSerialPortDriver::SetInBufSize(uint32_t v) {
    if (IsPortOpen()) return;
    inBufSize_ = ClampBufSize(v);
    receiveBuffer_.assign(inBufSize_, 0);
    SetPacketSize(packetSize_);
}

void TSerialPortDriver::SetOutBufSize(uint32_t v) {
    if (IsPortOpen()) return;
    outBufSize_ = ClampBufSize(v);
}

void TSerialPortDriver::SetPacketSize(int16_t v) {
    if (v <= 0) {
        packetSize_ = -1;
        return;
    }
    packetSize_ = static_cast<int16_t>(std::min<uint32_t>(static_cast<uint32_t>(v), kMaxBufSize));
    // While open the buffer cannot grow; the read size is bounded by the buffer instead.
    if (static_cast<uint32_t>(packetSize_) > inBufSize_) SetInBufSize(packetSize_);
}

void TSerialPortDriver::SetPacketTimeout(int32_t v) {
    if (v <= 0) {
        packetTimeout_ = -1;
    } else if (v < pollingDelay_) {
        packetTimeout_ = pollingDelay_ + pollingDelay_ * 40 / 100;
    } else {
        packetTimeout_ = v;
    }
}

void TSerialPortDriver::SetPollingDelay(uint16_t v) {
    v = std::max(v, kMinPollingDelay);
    if (v == pollingDelay_) return;
    const bool restart = pollTimer_.isActive();
    pollTimer_.stop();
    pollingDelay_ = v;
    if (restart) pollTimer_.start(pollingDelay_);
    SetPacketTimeout(packetTimeout_);
}

void TSerialPortDriver::ReapplyIfOpen() {
    if (IsPortOpen()) ApplyLineSettings();
}

// Operations.

bool TSerialPortDriver::OpenPort() {
    if (IsPortOpen()) return true;
    lost_ = false;
    handle_ = backend_.Open(portName_);
    if (!IsPortOpen()) {
        lastOpenFailure_ = backend_.LastOpenFailure();
        return false;
    }
    if (!ApplyLineSettings()) {
        lastOpenFailure_ = OpenFailure{std::string(), errno, {}};
        ClosePort();
        return false;
    }
    // Reads take only what is waiting and writes never block: the backend's transfers are
    // non-blocking, so there are no transfer time-outs to set.
    if (QCoreApplication::instance() != nullptr) pollTimer_.start(pollingDelay_);
    return true;
}

void TSerialPortDriver::ClosePort() {
    if (!IsPortOpen()) return;
    pollTimer_.stop();
    backend_.Close(handle_);
    handle_ = kInvalidSerialHandle;
}

bool TSerialPortDriver::NoteLoss() {
    if (!IsPortOpen() || !backend_.LineLost(handle_)) return false;
    ClosePort();
    lost_ = true;
    return true;
}

LineSettings TSerialPortDriver::BuildLineSettings() const {
    LineSettings s{};
    s.length = kLineSettingsLength;
    s.baudRate = baudRateValue_;
    s.binary = true;
    s.dtrControl = enableDTROnOpen_ ? DtrControl::Enable : DtrControl::Disable;
    switch (hwFlow_) {
        case hfNONE:
            s.rtsControl = RtsControl::Disable;
            break;
        case hfNONERTSON:
            s.rtsControl = RtsControl::Enable;
            break;
        case hfRTSCTS:
            s.rtsControl = RtsControl::Handshake;
            s.outxCtsFlow = true;
            break;
    }
    s.outX = s.inX = (swFlow_ == sfXONXOFF);
    s.parityCheck = false;
    s.ignoreBreak = true;  // a device holding its line low while it resets sends no byte
    s.xonLim = s.xoffLim = static_cast<uint16_t>(inBufSize_ / 4);
    s.byteSize = static_cast<uint8_t>(dataBits_ + 5);
    s.parity = parity_;
    s.stopBits = stopBits_;
    s.xonChar = 0x11;
    s.xoffChar = 0x13;
    return s;
}

bool TSerialPortDriver::ApplyLineSettings() {
    if (!IsPortOpen()) return false;
    if (!backend_.SetLineSettings(handle_, BuildLineSettings())) {
        NoteLoss();
        return false;
    }
    if (!PurgeQueues(true, true)) return false;
    return backend_.SetQueueSizes(handle_, inBufSize_, outBufSize_);
}

ModemLines TSerialPortDriver::ReadModemLines() {
    ModemLines lines = 0;
    if (!IsPortOpen()) return 0;
    if (!backend_.ModemStatus(handle_, lines)) {
        NoteLoss();
        return 0;
    }
    return lines & (mlCTS | mlDSR | mlRING | mlRLSD);
}

bool TSerialPortDriver::PurgeQueues(bool input, bool output) {
    if (!IsPortOpen()) return false;
    if (!backend_.Purge(handle_, input, output)) {
        NoteLoss();
        return false;
    }
    packetStartTime_ = kNoPacket;
    return true;
}

int32_t TSerialPortDriver::BytesWaiting() {
    if (!IsPortOpen()) return 65535;
    uint32_t in = 0, out = 0;
    if (!backend_.QueueCounts(handle_, in, out)) return NoteLoss() ? 65535 : 0;
    return static_cast<int32_t>(std::min<uint32_t>(in, INT32_MAX));
}

uint16_t TSerialPortDriver::OutputSpace() {
    if (!IsPortOpen()) return 65535;
    uint32_t in = 0, out = 0;
    if (!backend_.QueueCounts(handle_, in, out)) return NoteLoss() ? 65535 : 0;
    return out >= outBufSize_ ? 0 : static_cast<uint16_t>(outBufSize_ - out);
}

uint32_t TSerialPortDriver::WriteWithTimeout(const uint8_t* data, uint32_t size,
                                             uint32_t timeoutMs) {
    uint32_t result = 0;
    if (!IsPortOpen()) return 0;
    uint32_t start = clock_.TickMs();
    while (size > 0) {
        const uint16_t room = OutputSpace();
        if (!IsPortOpen()) return result;
        if (room > 0) {
            if (checkLineStatus_ && ReadModemLines() == 0) return result;
            if (!IsPortOpen()) return result;
            const int32_t n = backend_.Write(handle_, data, std::min<uint32_t>(room, size));
            if (n < 0 && NoteLoss()) return result;
            if (n > 0) {
                bytesSent_ += static_cast<uint64_t>(n);
                result += n;
                size -= n;
                data += n;
                start = clock_.TickMs();
                continue;
            }
        }
        const uint32_t elapsed = clock_.TickMs() - start;
        if (elapsed > timeoutMs) return result;
        // Sleep until the line can take more, at the latest until the limit passes. A queue
        // that is full only by OutBufSize's count is not visible to the operating system's
        // wait, so that case sleeps in short slices while it drains.
        const uint32_t left = timeoutMs - elapsed + 1;
        if (room == 0) {
            clock_.SleepMs(std::min<uint32_t>(left, 2));
        } else if (backend_.WaitWritable(handle_, left) == WaitResult::Failed) {
            if (NoteLoss()) return result;
            clock_.SleepMs(left);
        }
    }
    return result;
}

uint32_t TSerialPortDriver::WriteBytes(const uint8_t* data, uint32_t size) {
    return WriteWithTimeout(data, size, outputTimeout_);
}

bool TSerialPortDriver::WriteByte(uint8_t value) {
    return WriteBytes(&value, 1) == 1;
}

uint32_t TSerialPortDriver::ReadAvailable(uint8_t* buffer, uint32_t size) {
    const int32_t n = backend_.Read(handle_, buffer, size);
    if (n < 0) NoteLoss();
    if (n > 0) bytesReceived_ += static_cast<uint64_t>(n);
    return n > 0 ? static_cast<uint32_t>(n) : 0;
}

uint32_t TSerialPortDriver::ReadBytes(uint8_t* buffer, uint32_t size) {
    uint32_t result = 0;
    if (!IsPortOpen()) return 0;
    PollHold hold(*this);
    uint32_t start = clock_.TickMs();
    while (size > 0) {
        const int32_t waiting = BytesWaiting();
        if (!IsPortOpen()) break;
        uint32_t n = 0;
        if (waiting > 0) {
            n = ReadAvailable(buffer, std::min<uint32_t>(waiting, size));
            if (!IsPortOpen()) break;
            result += n;
            size -= n;
            buffer += n;
            if (n > 0) {
                start = clock_.TickMs();
                continue;
            }
        }
        const uint32_t elapsed = clock_.TickMs() - start;
        if (elapsed > inputTimeout_) break;
        const uint32_t left = inputTimeout_ - elapsed + 1;
        if (waiting > 0) {
            // Counted but unreadable: the wait would return at once, so pause briefly instead.
            clock_.SleepMs(1);
        } else if (backend_.WaitReadable(handle_, left) == WaitResult::Failed) {
            if (NoteLoss()) break;
            clock_.SleepMs(left);
        }
    }
    return result;
}

bool TSerialPortDriver::ReadByte(uint8_t& value) {
    uint8_t b = 0;
    if (ReadBytes(&b, 1) != 1) return false;
    value = b;
    return true;
}

void TSerialPortDriver::SetRTSLine(bool on) {
    if (IsPortOpen() && !backend_.SetRts(handle_, on)) NoteLoss();
}

bool TSerialPortDriver::WaitForInput(uint32_t timeoutMs) {
    if (!IsPortOpen()) return false;
    const uint32_t start = clock_.TickMs();
    for (;;) {
        const int32_t waiting = BytesWaiting();
        if (!IsPortOpen()) return false;
        if (waiting > 0) return true;
        const uint32_t elapsed = clock_.TickMs() - start;
        if (elapsed >= timeoutMs) return false;
        const uint32_t left = timeoutMs - elapsed;
        switch (backend_.WaitReadable(handle_, left)) {
            case WaitResult::Ready:
                break;
            case WaitResult::Timeout: {
                const int32_t late = BytesWaiting();
                return IsPortOpen() && late > 0;
            }
            case WaitResult::Failed:
                if (!NoteLoss()) clock_.SleepMs(left);
                return false;
        }
    }
}

bool TSerialPortDriver::SleepWatchingLine(uint32_t timeoutMs) {
    if (!IsPortOpen()) {
        clock_.SleepMs(timeoutMs);
        return !lost_;
    }
    if (backend_.WaitHangUp(handle_, timeoutMs) == WaitResult::Failed) NoteLoss();
    return !lost_;
}

void TSerialPortDriver::PollTick() {
    if (!IsPortOpen() || readInProgress_ > 0) return;
    uint32_t n = 0, out = 0;
    if (!backend_.QueueCounts(handle_, n, out)) {
        NoteLoss();
        return;
    }
    uint8_t* buffer = receiveBuffer_.data();
    const auto bufferSize = static_cast<uint32_t>(receiveBuffer_.size());

    if (packetSize_ < 1) {
        if (n == 0) return;
        const uint32_t got = ReadAvailable(buffer, std::min(n, bufferSize));
        if (got > 0 && onReceiveData_) onReceiveData_(this, buffer, got);
        return;
    }

    const auto packet = std::min(static_cast<uint32_t>(packetSize_), bufferSize);
    if (n < packet) {
        if (packetTimeout_ > 0 && packetStartTime_ != kNoPacket &&
            clock_.TickMs() - packetStartTime_ > static_cast<uint32_t>(packetTimeout_)) {
            const uint32_t got = ReadAvailable(buffer, n);
            if (packetMode_ == pmPass && got > 0 && onReceivePacket_) {
                onReceivePacket_(this, buffer, got);
            }
            packetStartTime_ = kNoPacket;
        } else if (n > 0 && packetStartTime_ == kNoPacket) {
            packetStartTime_ = clock_.TickMs();
        }
        return;
    }

    do {
        const uint32_t got = ReadAvailable(buffer, packet);
        if (got > 0 && onReceivePacket_) onReceivePacket_(this, buffer, got);
        // A handler may close the port.
        if (!IsPortOpen()) return;
        if (packetStartTime_ != kNoPacket) {
            packetStartTime_ += PacketTransmitTime(baudRateValue_, packet);
        }
        n -= packet;
        if (n == 0) packetStartTime_ = kNoPacket;
    } while (n >= packet);
}
