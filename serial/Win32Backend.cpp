// The serial ports of Windows through its communications services, and what the port names
// COM1 to COM20 stand for there.
#include <windows.h>
// In this order: initguid.h makes devguid.h define the class GUIDs here.
#include <initguid.h>
// Then the rest.
#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <map>
#include <optional>
#include <utility>

#include "Platform.h"
#include "PortDescription.h"
#include "PortNames.h"
#include "SerialBackend.h"
#include "Win32Text.h"

namespace {

// Errors after which nothing more passes on a handle: the adapter was pulled or the device
// behind the name went away.
bool IsLossError(DWORD error) {
    return error == ERROR_BROKEN_PIPE || error == ERROR_NOT_READY ||
           error == ERROR_OPERATION_ABORTED || error == ERROR_DEVICE_NOT_CONNECTED ||
           error == ERROR_BAD_COMMAND || error == ERROR_GEN_FAILURE ||
           error == ERROR_DEV_NOT_EXIST || error == ERROR_FILE_NOT_FOUND ||
           error == ERROR_INVALID_HANDLE;
}

// Longest a transfer of bytes already waiting, or a write, may take before it is given up;
// every wait is bounded so that a device gone silent never holds the caller.
constexpr DWORD kTransferBoundMs = 1000;
// Longest single wait; longer ones are cut here (the callers loop on their own clocks), which
// keeps every bound below the values that mean "wait for ever".
constexpr uint32_t kLongestWaitMs = 0x10000000;

class Win32Backend final : public SerialBackend {
  public:
    ~Win32Backend() override {
        while (!ports_.empty()) Close(ports_.begin()->first);
    }

    OpenFailure LastOpenFailure() const override { return lastOpenFailure_; }
    SerialHandle Open(const std::string& name) override;
    void Close(SerialHandle h) override;
    bool SetLineSettings(SerialHandle h, const LineSettings& settings) override;
    bool SetQueueSizes(SerialHandle h, uint32_t inBytes, uint32_t outBytes) override;
    bool Purge(SerialHandle h, bool input, bool output) override;
    bool QueueCounts(SerialHandle h, uint32_t& inQueue, uint32_t& outQueue) override;
    bool ModemStatus(SerialHandle h, ModemLines& lines) override;
    bool SetRts(SerialHandle h, bool high) override { return Escape(h, high ? SETRTS : CLRRTS); }
    bool SetDtr(SerialHandle h, bool high) override { return Escape(h, high ? SETDTR : CLRDTR); }
    int32_t Read(SerialHandle h, uint8_t* buffer, uint32_t size) override;
    int32_t Write(SerialHandle h, const uint8_t* data, uint32_t size) override;
    WaitResult WaitReadable(SerialHandle h, uint32_t timeoutMs) override;
    WaitResult WaitWritable(SerialHandle h, uint32_t timeoutMs) override;
    WaitResult WaitHangUp(SerialHandle h, uint32_t timeoutMs) override;
    bool LineLost(SerialHandle h) override {
        const Port* port = Find(h);
        return port == nullptr || port->lost;
    }

  private:
    struct Port {
        HANDLE file = INVALID_HANDLE_VALUE;
        HANDLE done = nullptr;  // signalled when the port's overlapped call completes
        bool lost = false;
        // A byte that a wait for input took from the line; the next Read gives it first.
        bool held = false;
        uint8_t heldByte = 0;
        DWORD readConstant = MAXDWORD;  // the read time-out set in the port now
        uint32_t outQueueSize = 4096;
    };
    enum class Io { Done, Timeout, Failed };

    Port* Find(SerialHandle h) {
        auto it = ports_.find(h);
        return it == ports_.end() ? nullptr : &it->second;
    }
    // Notes a loss that the error of the last failed call shows.
    void NoteFailure(Port& port, DWORD error) {
        if (IsLossError(error)) port.lost = true;
    }
    bool Escape(SerialHandle h, DWORD function);
    bool SetReadConstant(Port& port, DWORD ms);
    // Runs one overlapped ReadFile or WriteFile and waits at most `boundMs` for it; when it
    // does not complete in time it is cancelled and what it moved is counted. A stop signal
    // ends the wait early only when `endOnStop`.
    Io Transfer(Port& port, bool write, void* bytes, DWORD size, DWORD boundMs, bool endOnStop,
                DWORD& moved);
    // One byte from the line into `held`, waiting at most `timeoutMs`.
    WaitResult TakeOneByte(Port& port, uint32_t timeoutMs, bool endOnStop);

    std::map<SerialHandle, Port> ports_;
    OpenFailure lastOpenFailure_;
};

SerialHandle Win32Backend::Open(const std::string& name) {
    const auto fail = [this](int error) {
        // The name is what was opened: shown as it stands, no second path beside it.
        lastOpenFailure_ = OpenFailure{{}, error, {}};
        return kInvalidSerialHandle;
    };
    // Not shared: a port another program holds fails with ERROR_ACCESS_DENIED (or a sharing
    // violation): that port is in use. Windows does not tell who holds it.
    const HANDLE file = CreateFileW(platform::WideText(name).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) return fail(EBUSY);
        return fail(platform::ErrnoOf(error));
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (GetFileType(file) != FILE_TYPE_CHAR || !GetCommState(file, &dcb)) {
        CloseHandle(file);
        return fail(ENOTTY);
    }
    // A device wired to reset on RTS must see only the pulses the program gives: both lines
    // fall before anything else is done. A port without modem lines refuses, which changes
    // nothing.
    EscapeCommFunction(file, CLRRTS);
    EscapeCommFunction(file, CLRDTR);
    // Writes are bounded by the waits of Transfer; reads get their time-out per call.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadTotalTimeoutConstant = 1;
    SetCommTimeouts(file, &timeouts);
    Port port;
    port.file = file;
    port.done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    port.readConstant = 1;
    const SerialHandle h = reinterpret_cast<SerialHandle>(file);
    ports_[h] = port;
    return h;
}

void Win32Backend::Close(SerialHandle h) {
    Port* port = Find(h);
    if (port == nullptr) return;
    CancelIoEx(port->file, nullptr);
    CloseHandle(port->file);
    CloseHandle(port->done);
    ports_.erase(h);
}

bool Win32Backend::SetLineSettings(SerialHandle h, const LineSettings& s) {
    Port* port = Find(h);
    if (port == nullptr) return false;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = s.baudRate;
    dcb.fBinary = s.binary;
    dcb.fParity = s.parityCheck;
    dcb.fOutxCtsFlow = s.outxCtsFlow;
    static constexpr DWORD kDtr[] = {DTR_CONTROL_DISABLE, DTR_CONTROL_ENABLE,
                                     DTR_CONTROL_HANDSHAKE};
    static constexpr DWORD kRts[] = {RTS_CONTROL_DISABLE, RTS_CONTROL_ENABLE, RTS_CONTROL_HANDSHAKE,
                                     RTS_CONTROL_TOGGLE};
    dcb.fDtrControl = kDtr[static_cast<int>(s.dtrControl)];
    dcb.fRtsControl = kRts[static_cast<int>(s.rtsControl)];
    dcb.fOutX = s.outX;
    dcb.fInX = s.inX;
    dcb.XonLim = s.xonLim;
    dcb.XoffLim = s.xoffLim;
    dcb.ByteSize = s.byteSize;
    dcb.Parity = s.parity;
    dcb.StopBits = s.stopBits;
    dcb.XonChar = static_cast<char>(s.xonChar);
    dcb.XoffChar = static_cast<char>(s.xoffChar);
    dcb.ErrorChar = static_cast<char>(s.errorChar);
    dcb.EofChar = static_cast<char>(s.eofChar);
    dcb.EvtChar = static_cast<char>(s.evtChar);
    if (SetCommState(port->file, &dcb)) return true;
    NoteFailure(*port, GetLastError());
    return false;
}

bool Win32Backend::SetQueueSizes(SerialHandle h, uint32_t inBytes, uint32_t outBytes) {
    Port* port = Find(h);
    if (port == nullptr) return false;
    if (!SetupComm(port->file, inBytes, outBytes)) {
        NoteFailure(*port, GetLastError());
        return false;
    }
    port->outQueueSize = outBytes;
    return true;
}

bool Win32Backend::Purge(SerialHandle h, bool input, bool output) {
    Port* port = Find(h);
    if (port == nullptr) return false;
    const DWORD flags =
        (input ? PURGE_RXABORT | PURGE_RXCLEAR : 0) | (output ? PURGE_TXABORT | PURGE_TXCLEAR : 0);
    if (input) port->held = false;
    if (flags == 0 || PurgeComm(port->file, flags)) return true;
    NoteFailure(*port, GetLastError());
    return false;
}

bool Win32Backend::QueueCounts(SerialHandle h, uint32_t& inQueue, uint32_t& outQueue) {
    Port* port = Find(h);
    if (port == nullptr) return false;
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(port->file, &errors, &status)) {
        NoteFailure(*port, GetLastError());
        return false;
    }
    inQueue = status.cbInQue + (port->held ? 1 : 0);
    outQueue = status.cbOutQue;
    return true;
}

bool Win32Backend::ModemStatus(SerialHandle h, ModemLines& lines) {
    Port* port = Find(h);
    if (port == nullptr) return false;
    DWORD bits = 0;
    if (!GetCommModemStatus(port->file, &bits)) {
        NoteFailure(*port, GetLastError());
        return false;
    }
    lines = 0;
    if (bits & MS_CTS_ON) lines |= mlCTS;
    if (bits & MS_DSR_ON) lines |= mlDSR;
    if (bits & MS_RING_ON) lines |= mlRING;
    if (bits & MS_RLSD_ON) lines |= mlRLSD;
    return true;
}

// A port without modem lines (a virtual one) refuses with ERROR_NOT_SUPPORTED: a refusal of
// that request, not a loss of the line.
bool Win32Backend::Escape(SerialHandle h, DWORD function) {
    Port* port = Find(h);
    if (port == nullptr) return false;
    if (EscapeCommFunction(port->file, function)) return true;
    NoteFailure(*port, GetLastError());
    return false;
}

bool Win32Backend::SetReadConstant(Port& port, DWORD ms) {
    if (port.readConstant == ms) return true;
    // Never the "return at the first byte" mode (interval and multiplier at MAXDWORD): some
    // drivers never complete such a read. A read of n waiting bytes returns at once anyway.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadTotalTimeoutConstant = ms;
    if (!SetCommTimeouts(port.file, &timeouts)) {
        NoteFailure(port, GetLastError());
        return false;
    }
    port.readConstant = ms;
    return true;
}

Win32Backend::Io Win32Backend::Transfer(Port& port, bool write, void* bytes, DWORD size,
                                        DWORD boundMs, bool endOnStop, DWORD& moved) {
    moved = 0;
    OVERLAPPED call{};
    call.hEvent = port.done;
    ResetEvent(port.done);
    const BOOL finished = write ? WriteFile(port.file, bytes, size, nullptr, &call)
                                : ReadFile(port.file, bytes, size, nullptr, &call);
    if (!finished && GetLastError() != ERROR_IO_PENDING) {
        NoteFailure(port, GetLastError());
        return Io::Failed;
    }
    bool timedOut = false;
    if (!finished) {
        const HANDLE stop = static_cast<HANDLE>(platform::stop::WakeHandle());
        const HANDLE events[2] = {port.done, stop};
        const DWORD count = endOnStop && stop != nullptr ? 2 : 1;
        const DWORD woke = WaitForMultipleObjects(count, events, FALSE, boundMs);
        if (woke != WAIT_OBJECT_0) {
            // Time up or STOP: the call is cancelled; what it moved before still counts.
            CancelIoEx(port.file, &call);
            timedOut = true;
        }
    }
    if (!GetOverlappedResult(port.file, &call, &moved, TRUE)) {
        const DWORD error = GetLastError();
        if (timedOut && error == ERROR_OPERATION_ABORTED) return Io::Timeout;
        // The port's own time-out passing: some drivers report it as a failure.
        if (error == ERROR_TIMEOUT || error == ERROR_SEM_TIMEOUT) return Io::Timeout;
        NoteFailure(port, error);
        return Io::Failed;
    }
    return timedOut ? Io::Timeout : Io::Done;
}

int32_t Win32Backend::Read(SerialHandle h, uint8_t* buffer, uint32_t size) {
    Port* port = Find(h);
    if (port == nullptr) return -1;
    if (size == 0) return 0;
    int32_t count = 0;
    if (port->held) {
        buffer[count++] = port->heldByte;
        port->held = false;
    }
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(port->file, &errors, &status)) {
        NoteFailure(*port, GetLastError());
        return count > 0 ? count : -1;
    }
    const DWORD wanted = std::min<DWORD>(status.cbInQue, size - static_cast<uint32_t>(count));
    if (wanted == 0) return count;
    // The bytes are waiting: the read returns at once; its time-out only bounds a driver that
    // counted bytes it cannot give.
    if (!SetReadConstant(*port, 50)) return count > 0 ? count : -1;
    DWORD moved = 0;
    const Io io = Transfer(*port, false, buffer + count, wanted, kTransferBoundMs, false, moved);
    count += static_cast<int32_t>(moved);
    return io == Io::Failed && count == 0 ? -1 : count;
}

int32_t Win32Backend::Write(SerialHandle h, const uint8_t* data, uint32_t size) {
    Port* port = Find(h);
    if (port == nullptr) return -1;
    if (size == 0) return 0;
    DWORD moved = 0;
    // Up to the bound plus the time the bytes take at the slowest rate the devices use.
    const DWORD bound = kTransferBoundMs + size;
    const Io io = Transfer(*port, true, const_cast<uint8_t*>(data), size, bound, false, moved);
    return io == Io::Failed && moved == 0 ? -1 : static_cast<int32_t>(moved);
}

WaitResult Win32Backend::TakeOneByte(Port& port, uint32_t timeoutMs, bool endOnStop) {
    timeoutMs = std::min(timeoutMs, kLongestWaitMs);
    if (!SetReadConstant(port, std::max<DWORD>(timeoutMs, 1))) return WaitResult::Failed;
    DWORD moved = 0;
    // The port's own time-out ends the read; the bound is only a guard above it.
    const Io io =
        Transfer(port, false, &port.heldByte, 1, timeoutMs + kTransferBoundMs, endOnStop, moved);
    if (moved == 1) port.held = true;
    if (port.held) return WaitResult::Ready;
    return io == Io::Failed ? WaitResult::Failed : WaitResult::Timeout;
}

// Waiting for input is a read of one byte with the wait's time-out: an overlapped read is what
// ends at once when the adapter goes (ERROR_BROKEN_PIPE), where polling the queue would not.
// A stop signal does not end it, as a signal does not end the POSIX wait: the caller's own
// time-outs decide what a silent device means.
WaitResult Win32Backend::WaitReadable(SerialHandle h, uint32_t timeoutMs) {
    Port* port = Find(h);
    if (port == nullptr) return WaitResult::Failed;
    uint32_t in = 0, out = 0;
    if (!QueueCounts(h, in, out)) return WaitResult::Failed;
    if (in > 0) return WaitResult::Ready;
    if (timeoutMs == 0) return WaitResult::Timeout;
    return TakeOneByte(*port, timeoutMs, false);
}

WaitResult Win32Backend::WaitWritable(SerialHandle h, uint32_t timeoutMs) {
    Port* port = Find(h);
    if (port == nullptr) return WaitResult::Failed;
    using Steady = std::chrono::steady_clock;
    const auto deadline = Steady::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        uint32_t in = 0, out = 0;
        if (!QueueCounts(h, in, out)) return WaitResult::Failed;
        if (out < port->outQueueSize) return WaitResult::Ready;
        if (Steady::now() >= deadline) return WaitResult::Timeout;
        Sleep(1);
    }
}

// A pause that a pulled adapter or a stop signal ends early. Input arriving does not: a byte
// taken meanwhile is held for the next Read.
WaitResult Win32Backend::WaitHangUp(SerialHandle h, uint32_t timeoutMs) {
    Port* port = Find(h);
    if (port == nullptr) return WaitResult::Failed;
    using Steady = std::chrono::steady_clock;
    const auto deadline = Steady::now() + std::chrono::milliseconds(timeoutMs);
    const HANDLE stop = static_cast<HANDLE>(platform::stop::WakeHandle());
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Steady::now());
        if (left.count() <= 0) return WaitResult::Timeout;
        if (!port->held) {
            if (TakeOneByte(*port, static_cast<uint32_t>(left.count()), true) == WaitResult::Failed)
                return WaitResult::Failed;
            if (!port->held) return WaitResult::Timeout;  // the time is up, or STOP came
            continue;
        }
        // A byte is held: the line is watched through its error state, a slice at a time.
        uint32_t in = 0, out = 0;
        if (!QueueCounts(h, in, out)) return port->lost ? WaitResult::Failed : WaitResult::Timeout;
        const DWORD slice = static_cast<DWORD>(std::min<int64_t>(left.count(), 20));
        if (stop != nullptr ? WaitForSingleObject(stop, slice) == WAIT_OBJECT_0
                            : (Sleep(slice), false))
            return WaitResult::Timeout;
    }
}

// ---- What the port names stand for on Windows ----

// A port the system lists: its kernel device ("\Device\VCP0") and, for a USB adapter, the
// adapter's identity.
struct ListedPort {
    std::string device;
    std::optional<UsbIdentity> usb;
};
using ListedPorts = std::map<std::string, ListedPort>;  // by "COMn"

// Four hex digits after `tag` ("VID_") in a hardware id, in lower case.
std::string IdAfter(const std::string& id, const char* tag) {
    const auto at = id.find(tag);
    if (at == std::string::npos || at + 4 + 4 > id.size()) return {};
    std::string digits = id.substr(at + 4, 4);
    std::transform(digits.begin(), digits.end(), digits.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return digits;
}

std::string DeviceProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    wchar_t text[512] = {};
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr,
                                           reinterpret_cast<BYTE*>(text), sizeof text - 2,
                                           nullptr)) {
        return {};
    }
    return platform::Utf8Text(text);
}

std::string PortNameOf(HDEVINFO set, SP_DEVINFO_DATA& device) {
    const HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) return {};
    wchar_t name[64] = {};
    DWORD size = sizeof name - 2;
    DWORD type = 0;
    const bool found = RegQueryValueExW(key, L"PortName", nullptr, &type,
                                        reinterpret_cast<BYTE*>(name), &size) == ERROR_SUCCESS &&
                       type == REG_SZ;
    RegCloseKey(key);
    return found ? platform::Utf8Text(name) : std::string();
}

// The present devices of the Ports class (SetupAPI), with the USB identity where the hardware
// id carries one ("USB\VID_0403&PID_6001", "FTDIBUS\VID_0403+PID_6001").
void AddPortsClass(ListedPorts& ports) {
    const HDEVINFO set =
        SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        const std::string portName = PortNameOf(set, device);
        if (portName.empty()) continue;
        ListedPort& port = ports[portName];
        port.device = DeviceProperty(set, device, SPDRP_PHYSICAL_DEVICE_OBJECT_NAME);
        const std::string hardwareId = DeviceProperty(set, device, SPDRP_HARDWAREID);
        if (hardwareId.find("VID_") == std::string::npos) continue;
        UsbIdentity usb;
        usb.manufacturer = DeviceProperty(set, device, SPDRP_MFG);
        usb.product = DeviceProperty(set, device, SPDRP_DEVICEDESC);
        usb.vendorId = IdAfter(hardwareId, "VID_");
        usb.productId = IdAfter(hardwareId, "PID_");
        port.usb = usb;
    }
    SetupDiDestroyDeviceInfoList(set);
}

// The SERIALCOMM key of the registry (value: kernel device, data: "COMn"): every serial port
// driver enters its ports there, also those that SetupAPI does not list (a compatibility
// layer's mapped ports).
void AddSerialComm(ListedPorts& ports) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return;
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameSize = 256;
        wchar_t data[256] = {};
        DWORD dataSize = sizeof data - sizeof(wchar_t);
        DWORD type = 0;
        const LONG r = RegEnumValueW(key, i, name, &nameSize, nullptr, &type,
                                     reinterpret_cast<BYTE*>(data), &dataSize);
        if (r == ERROR_NO_MORE_ITEMS) break;
        if (r != ERROR_SUCCESS || type != REG_SZ) continue;
        ListedPort& port = ports[platform::Utf8Text(data)];
        if (port.device.empty()) port.device = platform::Utf8Text(name);
    }
    RegCloseKey(key);
}

ListedPorts ListPorts() {
    ListedPorts ports;
    AddPortsClass(ports);
    AddSerialComm(ports);
    return ports;
}

PortDescription Describe(const std::string& portName, int number, const ListedPorts& listed) {
    PortDescription port;
    port.number = number;
    port.path = portName;
    // Windows has no permissions on a port to hint at: a port that cannot be opened is held.
    port.mayOpen = true;
    const auto it = listed.find(ShownPortName(portName));
    if (it == listed.end()) return port;
    port.present = true;
    port.device = it->second.device.empty() ? portName : it->second.device;
    port.usb = it->second.usb;
    return port;
}

}  // namespace

SerialBackend& SystemSerialBackend() {
    static Win32Backend backend;
    return backend;
}

std::optional<std::string> ResolveSerialPortPath(const std::string& name, const std::string&) {
    return name;  // "\\.\COMn" and every other name open as they stand
}

PortDescription DescribePort(int number, const PortEnvironment&) {
    return Describe(ComPortName(number), number, ListPorts());
}

PortDescription DescribePortName(const std::string& portName, const PortEnvironment&) {
    return Describe(portName, ComPortNumber(portName), ListPorts());
}

std::vector<PortDescription> DescribePorts(const PortEnvironment&) {
    const ListedPorts listed = ListPorts();
    std::vector<PortDescription> ports;
    for (int n = 1; n <= kComPortCount; ++n) ports.push_back(Describe(ComPortName(n), n, listed));
    return ports;
}

bool IsPhantomUart(const std::string&, const PortEnvironment&) {
    return false;
}

bool PortMayHoldDevice(const PortDescription& port, const PortEnvironment&) {
    return port.present;
}
