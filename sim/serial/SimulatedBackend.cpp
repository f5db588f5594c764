#include "SimulatedBackend.h"

#include <algorithm>
#include <optional>

enum class SimPortKind : uint8_t { Silent, Device, InUse };

struct Arrival {
    uint32_t tick;
    uint8_t value;
};

struct SimPort {
    SimPortKind kind = SimPortKind::Silent;
    SimDevice* device = nullptr;
    bool present = false;
    bool open = false;
    bool failed = false;
    std::optional<uint32_t> failAt;  // a hang-up still to come
    bool outputStalled = false;
    bool rts = false;
    bool dtr = false;
    ModemLines modemLines = 0;
    LineSettings settings{};
    std::deque<Arrival> incoming;  // ordered by tick
    uint32_t outQueue = 0;         // bytes held by a stalled output
    SimulatedBackend::PortRecord record;
    std::unique_ptr<SimLine> line;
};

namespace {

// Ticks compare as unsigned differences so a wrapping clock still orders them.
bool Reached(uint32_t tick, uint32_t now) {
    return static_cast<int32_t>(now - tick) >= 0;
}

uint32_t Readable(const SimPort& port, uint32_t now) {
    uint32_t n = 0;
    for (const Arrival& a : port.incoming) {
        if (!Reached(a.tick, now)) break;
        ++n;
    }
    return n;
}

}  // namespace

// SimLine.

void SimLine::Send(uint8_t b, uint32_t atTick) {
    const uint32_t now = Now();
    if (Reached(atTick, now)) atTick = now;
    if (!port_.incoming.empty() && !Reached(port_.incoming.back().tick, atTick)) {
        atTick = port_.incoming.back().tick;
    }
    port_.incoming.push_back({atTick, b});
}

void SimLine::Send(const std::vector<uint8_t>& bytes, uint32_t atTick) {
    for (uint8_t b : bytes) Send(b, atTick);
}

void SimLine::SendBreak(uint32_t atTick) {
    if (!port_.settings.ignoreBreak) Send(0x00, atTick);
}

uint32_t SimLine::Now() const {
    return backend_.clock_.TickMs();
}
const LineSettings& SimLine::Settings() const {
    return port_.settings;
}
bool SimLine::Rts() const {
    return port_.rts;
}
bool SimLine::Dtr() const {
    return port_.dtr;
}
void SimLine::SetModemLines(ModemLines lines) {
    port_.modemLines = lines;
}
void SimLine::Hangup() {
    port_.failed = true;
}

void SimLine::HangupAt(uint32_t atTick) {
    if (Reached(atTick, Now()))
        Hangup();
    else
        port_.failAt = atTick;
}

// Set-up and records.

SimulatedBackend::SimulatedBackend(Clock& clock) : clock_(clock) {}

SimulatedBackend::~SimulatedBackend() {
    while (!open_.empty()) Close(open_.begin()->first);
}

SimPort& SimulatedBackend::PortNamed(const std::string& name) {
    auto& slot = ports_[name];
    if (!slot) {
        slot = std::make_unique<SimPort>();
        slot->line.reset(new SimLine(*this, *slot));
    }
    return *slot;
}

void SimulatedBackend::AddSilentPort(const std::string& name) {
    SimPort& port = PortNamed(name);
    port.present = true;
    port.kind = SimPortKind::Silent;
    port.device = nullptr;
}

void SimulatedBackend::AttachDevice(const std::string& name, SimDevice& device) {
    SimPort& port = PortNamed(name);
    port.present = true;
    port.kind = SimPortKind::Device;
    port.device = &device;
}

void SimulatedBackend::AddPortInUse(const std::string& name) {
    SimPort& port = PortNamed(name);
    port.present = true;
    port.kind = SimPortKind::InUse;
    port.device = nullptr;
}

void SimulatedBackend::RemovePort(const std::string& name) {
    SimPort& port = PortNamed(name);
    port.present = false;
    port.device = nullptr;
}

void SimulatedBackend::SetOutputStalled(const std::string& name, bool stalled) {
    PortNamed(name).outputStalled = stalled;
}

const SimulatedBackend::PortRecord& SimulatedBackend::Record(const std::string& name) const {
    static const PortRecord kEmpty;
    auto it = ports_.find(name);
    return it == ports_.end() ? kEmpty : it->second->record;
}

bool SimulatedBackend::IsOpen(const std::string& name) const {
    auto it = ports_.find(name);
    return it != ports_.end() && it->second->open;
}

// SerialBackend.

bool SimulatedBackend::Failed(SimPort& port) {
    if (port.failAt && Reached(*port.failAt, clock_.TickMs())) {
        port.failed = true;
        port.failAt.reset();
    }
    return port.failed;
}

SimPort* SimulatedBackend::PortOf(SerialHandle h) {
    auto it = open_.find(h);
    return it == open_.end() ? nullptr : it->second;
}

SerialHandle SimulatedBackend::Open(const std::string& name) {
    auto it = ports_.find(name);
    if (it == ports_.end() || !it->second->present) {
        absentOpens_.push_back(name);
        return kInvalidSerialHandle;
    }
    SimPort& port = *it->second;
    if (port.open || port.kind == SimPortKind::InUse) {
        ++port.record.failedOpens;
        return kInvalidSerialHandle;
    }
    port.open = true;
    port.failed = false;
    port.failAt.reset();
    port.incoming.clear();
    port.outQueue = 0;
    ++port.record.opens;
    const SerialHandle h = nextHandle_++;
    open_[h] = &port;
    if (port.device) port.device->OnOpen(*port.line);
    return h;
}

void SimulatedBackend::Close(SerialHandle h) {
    SimPort* port = PortOf(h);
    if (!port) return;
    SetLine(*port, Line::Dtr, false);
    SetLine(*port, Line::Rts, false);
    port->open = false;
    port->incoming.clear();
    port->outQueue = 0;
    open_.erase(h);
    if (port->device) port->device->OnClose();
}

void SimulatedBackend::SetLine(SimPort& port, Line line, bool high) {
    bool& level = line == Line::Rts ? port.rts : port.dtr;
    if (level == high) return;
    level = high;
    port.record.lines.push_back({clock_.TickMs(), line, high});
    if (!port.device) return;
    if (line == Line::Rts) {
        port.device->OnRts(high);
    } else {
        port.device->OnDtr(high);
    }
}

bool SimulatedBackend::SetLineSettings(SerialHandle h, const LineSettings& settings) {
    SimPort* port = PortOf(h);
    if (!port || Failed(*port)) return false;
    port->settings = settings;
    port->record.settings.push_back({clock_.TickMs(), settings});
    if (port->device) port->device->OnLineSettings(settings);
    SetLine(*port, Line::Dtr, settings.dtrControl != DtrControl::Disable);
    SetLine(
        *port, Line::Rts,
        settings.rtsControl == RtsControl::Enable || settings.rtsControl == RtsControl::Handshake);
    return true;
}

bool SimulatedBackend::SetQueueSizes(SerialHandle h, uint32_t inBytes, uint32_t outBytes) {
    SimPort* port = PortOf(h);
    if (!port || Failed(*port)) return false;
    port->record.inQueueSize = inBytes;
    port->record.outQueueSize = outBytes;
    return true;
}

bool SimulatedBackend::Purge(SerialHandle h, bool input, bool output) {
    SimPort* port = PortOf(h);
    if (!port || Failed(*port)) return false;
    if (input) {
        // Only what has arrived is in the queue; later bytes are still on the line.
        const uint32_t n = Readable(*port, clock_.TickMs());
        port->incoming.erase(port->incoming.begin(), port->incoming.begin() + n);
    }
    if (output) port->outQueue = 0;
    return true;
}

bool SimulatedBackend::QueueCounts(SerialHandle h, uint32_t& inQueue, uint32_t& outQueue) {
    SimPort* port = PortOf(h);
    if (!port || Failed(*port)) return false;
    inQueue = Readable(*port, clock_.TickMs());
    outQueue = port->outQueue;
    return true;
}

bool SimulatedBackend::ModemStatus(SerialHandle h, ModemLines& lines) {
    SimPort* port = PortOf(h);
    if (!port || Failed(*port)) return false;
    lines = port->modemLines;
    return true;
}

bool SimulatedBackend::SetRts(SerialHandle h, bool high) {
    SimPort* port = PortOf(h);
    if (!port || Failed(*port)) return false;
    SetLine(*port, Line::Rts, high);
    return true;
}

bool SimulatedBackend::SetDtr(SerialHandle h, bool high) {
    SimPort* port = PortOf(h);
    if (!port || Failed(*port)) return false;
    SetLine(*port, Line::Dtr, high);
    return true;
}

int32_t SimulatedBackend::Read(SerialHandle h, uint8_t* buffer, uint32_t size) {
    SimPort* port = PortOf(h);
    if (!port || Failed(*port)) return -1;
    const uint32_t n = std::min(size, Readable(*port, clock_.TickMs()));
    for (uint32_t i = 0; i < n; ++i) {
        buffer[i] = port->incoming.front().value;
        port->incoming.pop_front();
    }
    return static_cast<int32_t>(n);
}

int32_t SimulatedBackend::Write(SerialHandle h, const uint8_t* data, uint32_t size) {
    SimPort* port = PortOf(h);
    if (!port || Failed(*port)) return -1;
    const uint32_t now = clock_.TickMs();
    for (uint32_t i = 0; i < size; ++i) {
        port->record.written.push_back({now, data[i]});
        if (port->outputStalled) {
            ++port->outQueue;
        } else if (port->device) {
            port->device->OnByte(data[i]);
            // The model may have hung up or the port may have been closed under it.
            if (PortOf(h) != port || Failed(*port)) return static_cast<int32_t>(i + 1);
        }
    }
    return static_cast<int32_t>(size);
}

WaitResult SimulatedBackend::WaitReadable(SerialHandle h, uint32_t timeoutMs) {
    SimPort* port = PortOf(h);
    if (!port || Failed(*port)) return WaitResult::Failed;
    const uint32_t now = clock_.TickMs();
    // A hang-up due before the next byte (or the time-out) ends the wait when it comes.
    if (port->failAt && *port->failAt - now <= timeoutMs &&
        (port->incoming.empty() || !Reached(port->incoming.front().tick, *port->failAt))) {
        clock_.SleepMs(*port->failAt - now);
        Failed(*port);
        return WaitResult::Failed;
    }
    if (port->incoming.empty()) {
        clock_.SleepMs(timeoutMs);
        return WaitResult::Timeout;
    }
    const uint32_t until = port->incoming.front().tick - now;
    if (Reached(port->incoming.front().tick, now)) return WaitResult::Ready;
    if (until > timeoutMs) {
        clock_.SleepMs(timeoutMs);
        return WaitResult::Timeout;
    }
    clock_.SleepMs(until);
    return WaitResult::Ready;
}

WaitResult SimulatedBackend::WaitWritable(SerialHandle h, uint32_t timeoutMs) {
    SimPort* port = PortOf(h);
    if (!port || Failed(*port)) return WaitResult::Failed;
    if (port->outputStalled) {
        clock_.SleepMs(timeoutMs);
        return WaitResult::Timeout;
    }
    return WaitResult::Ready;
}

WaitResult SimulatedBackend::WaitHangUp(SerialHandle h, uint32_t timeoutMs) {
    SimPort* port = PortOf(h);
    if (!port || Failed(*port)) return WaitResult::Failed;
    const uint32_t now = clock_.TickMs();
    if (port->failAt && *port->failAt - now <= timeoutMs) {
        clock_.SleepMs(*port->failAt - now);
        Failed(*port);
        return WaitResult::Failed;
    }
    clock_.SleepMs(timeoutMs);
    return WaitResult::Timeout;
}

bool SimulatedBackend::LineLost(SerialHandle h) {
    SimPort* port = PortOf(h);
    return !port || Failed(*port);
}
