#include "PosixBackend.h"

#include <climits>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <map>
#include <optional>
#include <utility>

#include "Platform.h"
#include "PortHolders.h"
#include "PortNames.h"

namespace {

// Owner of one file descriptor; closes it once.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Reset(); }

    int Get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void Reset() {
        if (fd_ >= 0) ::close(fd_);  // not retried on EINTR: the descriptor is gone either way
        fd_ = -1;
    }

  private:
    int fd_ = -1;
};

using platform::RetryEintr;

// The kernel's termios2, which carries an arbitrary rate. Declared here because the kernel
// header that defines it clashes with <termios.h>.
struct KernelTermios2 {
    tcflag_t c_iflag;
    tcflag_t c_oflag;
    tcflag_t c_cflag;
    tcflag_t c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed;
    speed_t c_ospeed;
};
static_assert(sizeof(KernelTermios2) == 44);
constexpr unsigned long kTcGets2 = _IOR('T', 0x2A, KernelTermios2);
constexpr unsigned long kTcSets2 = _IOW('T', 0x2B, KernelTermios2);
constexpr tcflag_t kBaudOther = 0010000;  // BOTHER: the rate is in c_ispeed / c_ospeed

std::optional<speed_t> StandardSpeed(uint32_t rate) {
    static const std::map<uint32_t, speed_t> kSpeeds = {
        {50, B50},           {75, B75},           {110, B110},         {134, B134},
        {150, B150},         {200, B200},         {300, B300},         {600, B600},
        {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
        {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
        {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
        {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
        {3500000, B3500000}, {4000000, B4000000},
    };
    auto it = kSpeeds.find(rate);
    if (it == kSpeeds.end()) return std::nullopt;
    return it->second;
}

bool SetOtherSpeed(int fd, uint32_t rate) {
    KernelTermios2 t{};
    if (RetryEintr([&] { return ::ioctl(fd, kTcGets2, &t); }) != 0) return false;
    t.c_cflag &= ~static_cast<tcflag_t>(CBAUD);
    t.c_cflag |= kBaudOther;
    t.c_ispeed = t.c_ospeed = rate;
    return RetryEintr([&] { return ::ioctl(fd, kTcSets2, &t); }) == 0;
}

// The errors with which the kernel answers on a line that has hung up or whose device has
// gone (a pulled USB adapter, the closed master of a pseudo-terminal).
bool IsLossError(int error) {
    return error == EIO || error == ENXIO || error == ENODEV;
}

// Unix 98 pseudo-terminal slaves have majors 136 to 143.
bool IsPseudoTerminal(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 &&
           major(st.st_rdev) <= 143;
}

// The exclusive mode is the terminal's, not the descriptor's. A real port's terminal goes
// with its last close, and the mode with it; a pseudo-terminal's lives on while its master
// is open, so a mode set there by a process that was killed would keep every unprivileged
// program out until the pseudo-terminal is made again. There the lock file, the flock and
// the holder rule keep other programs out instead. A mode found set on a port that no live
// process holds (PortHolder found none) is such a leftover and is cleared. False when the
// mode cannot be set.
bool TakeExclusiveMode(int fd) {
    int exclusive = 0;
    if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) (void)::ioctl(fd, TIOCNXCL);
    return IsPseudoTerminal(fd) || ::ioctl(fd, TIOCEXCL) == 0;
}

void GiveExclusiveModeBack(int fd) {
    (void)::ioctl(fd, TIOCNXCL);
}

// The line settings found at the open are put back at the release: a port shared with other
// programs (a terminal, a console cable) is left as they set it.
std::optional<termios> FoundLineSettings(int fd) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0) return std::nullopt;
    return t;
}

void RestoreLineSettings(int fd, const std::optional<termios>& found) {
    if (found) (void)RetryEintr([&] { return ::tcsetattr(fd, TCSANOW, &*found); });
}

class PosixBackend final : public SerialBackend {
  public:
    SerialHandle Open(const std::string& name) override;
    OpenFailure LastOpenFailure() const override { return lastOpenFailure_; }
    void Close(SerialHandle h) override;
    bool SetLineSettings(SerialHandle h, const LineSettings& settings) override;
    bool SetQueueSizes(SerialHandle h, uint32_t, uint32_t) override;
    bool Purge(SerialHandle h, bool input, bool output) override;
    bool QueueCounts(SerialHandle h, uint32_t& inQueue, uint32_t& outQueue) override;
    bool ModemStatus(SerialHandle h, ModemLines& lines) override;
    bool SetRts(SerialHandle h, bool high) override { return SetModemLine(h, TIOCM_RTS, high); }
    bool SetDtr(SerialHandle h, bool high) override { return SetModemLine(h, TIOCM_DTR, high); }
    int32_t Read(SerialHandle h, uint8_t* buffer, uint32_t size) override;
    int32_t Write(SerialHandle h, const uint8_t* data, uint32_t size) override;
    WaitResult WaitReadable(SerialHandle h, uint32_t timeoutMs) override {
        return Wait(h, POLLIN, timeoutMs);
    }
    WaitResult WaitWritable(SerialHandle h, uint32_t timeoutMs) override {
        return Wait(h, POLLOUT, timeoutMs);
    }
    // No event asked for: poll reports only a hang-up or an error.
    WaitResult WaitHangUp(SerialHandle h, uint32_t timeoutMs) override {
        return Wait(h, 0, timeoutMs);
    }
    bool LineLost(SerialHandle h) override {
        auto it = ports_.find(h);
        return it == ports_.end() || it->second.lost;
    }

  private:
    struct Port {
        UniqueFd fd;
        bool lost = false;
        UucpLock lock;
        std::optional<termios> found;  // the line settings at the open
    };
    int Fd(SerialHandle h) const {
        auto it = ports_.find(h);
        return it == ports_.end() ? -1 : it->second.fd.Get();
    }
    // Called right after a call on `h` failed: remembers a loss that errno shows.
    void NoteFailure(SerialHandle h) {
        auto it = ports_.find(h);
        if (it != ports_.end() && IsLossError(errno)) it->second.lost = true;
    }
    void NoteLoss(SerialHandle h) {
        auto it = ports_.find(h);
        if (it != ports_.end()) it->second.lost = true;
    }
    bool SetModemLine(SerialHandle h, int line, bool high);
    WaitResult Wait(SerialHandle h, short events, uint32_t timeoutMs);

    std::map<SerialHandle, Port> ports_;
    OpenFailure lastOpenFailure_;
};

SerialHandle PosixBackend::Open(const std::string& name) {
    const std::optional<std::string> path = ResolveSerialPortPath(name);
    // Every refusal is remembered with the path and the system's reason, for the user.
    const auto fail = [this, &path](int error) {
        lastOpenFailure_ = OpenFailure{path.value_or(std::string()), error, {}};
        return kInvalidSerialHandle;
    };
    if (!path) return fail(ENOENT);
    // Another program on the line is found before the open, which would already change its
    // modem lines.
    char resolved[PATH_MAX];
    const std::string device = ::realpath(path->c_str(), resolved) ? resolved : *path;
    if (std::string holder = PortHolder(device); !holder.empty()) {
        fail(EBUSY);
        lastOpenFailure_.holder = std::move(holder);
        return kInvalidSerialHandle;
    }
    UniqueFd fd(RetryEintr(
        [&] { return ::open(path->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); }));
    if (!fd) return fail(errno);
    // The kernel raises RTS and DTR when it opens a port; a device wired to reset on RTS
    // must see only the pulses the program gives, so both fall before anything else is done.
    // A pseudo-terminal has no modem lines and refuses, which changes nothing.
    const int modemLines = TIOCM_RTS | TIOCM_DTR;
    (void)::ioctl(fd.Get(), TIOCMBIC, &modemLines);
    if (!::isatty(fd.Get())) return fail(ENOTTY);
    // TIOCEXCL keeps other programs out (not a privileged one); the lock also keeps out a
    // second open in this process and privileged programs that lock too. No live process
    // holds the port (checked above), so a mode found set is a leftover. From here on a
    // failure gives the mode up.
    if (!TakeExclusiveMode(fd.Get())) return fail(errno);
    const auto failExclusive = [&](int error) {
        GiveExclusiveModeBack(fd.Get());
        return fail(error);
    };
    if (RetryEintr([&] { return ::flock(fd.Get(), LOCK_EX | LOCK_NB); }) != 0) {
        return failExclusive(errno);
    }
    UucpLock lock;
    if (std::string holder; !lock.Take(device, holder)) {
        failExclusive(EBUSY);
        lastOpenFailure_.holder = std::move(holder);
        return kInvalidSerialHandle;
    }
    // USB adapters hold received bytes for a latency period unless asked not to; ports
    // without the request (or a pseudo-terminal) refuse it, which changes nothing.
    serial_struct serial{};
    if (::ioctl(fd.Get(), TIOCGSERIAL, &serial) == 0 && !(serial.flags & ASYNC_LOW_LATENCY)) {
        serial.flags |= ASYNC_LOW_LATENCY;
        (void)::ioctl(fd.Get(), TIOCSSERIAL, &serial);
    }
    const SerialHandle h = fd.Get();
    std::optional<termios> found = FoundLineSettings(h);
    ports_[h] = Port{std::move(fd), false, std::move(lock), std::move(found)};
    return h;
}

void PosixBackend::Close(SerialHandle h) {
    auto it = ports_.find(h);
    if (it == ports_.end()) return;
    // The exclusive mode belongs to the terminal, not to this descriptor: left set, it would
    // keep other programs out of a port still open elsewhere (the pair of a pseudo-terminal,
    // a second handle).
    RestoreLineSettings(it->second.fd.Get(), it->second.found);
    GiveExclusiveModeBack(it->second.fd.Get());
    ports_.erase(it);
}

namespace {

// Writes the settings. A pseudo-terminal carries no framing: the kernel keeps 8 data bits
// without parity whatever is asked, and the C library then reports the whole call as
// refused although everything else was taken. There, a difference in framing alone is no
// failure; on a real port it is.
bool WriteTermios(int fd, const termios& wanted) {
    if (RetryEintr([&] { return ::tcsetattr(fd, TCSANOW, &wanted); }) == 0) return true;
    if (errno != EINVAL || !IsPseudoTerminal(fd)) return false;
    termios taken{};
    if (::tcgetattr(fd, &taken) != 0) return false;
    constexpr tcflag_t kFraming = CSIZE | PARENB | PARODD | CMSPAR;
    return (taken.c_cflag & ~kFraming) == (wanted.c_cflag & ~kFraming) &&
           taken.c_iflag == wanted.c_iflag && taken.c_oflag == wanted.c_oflag &&
           taken.c_lflag == wanted.c_lflag && ::cfgetospeed(&taken) == ::cfgetospeed(&wanted);
}

}  // namespace

bool PosixBackend::SetLineSettings(SerialHandle h, const LineSettings& s) {
    const int fd = Fd(h);
    if (fd < 0) return false;
    termios t{};
    if (::tcgetattr(fd, &t) != 0) {
        NoteFailure(h);
        return false;
    }
    if (!MakeRawTermios(s, t)) return false;
    const std::optional<speed_t> speed = StandardSpeed(s.baudRate);
    if (speed) {
        ::cfsetispeed(&t, *speed);
        ::cfsetospeed(&t, *speed);
    } else if (s.baudRate == 0) {
        return false;
    }
    if (!WriteTermios(fd, t)) {
        NoteFailure(h);
        return false;
    }
    if (!speed && !SetOtherSpeed(fd, s.baudRate)) return false;

    // A pseudo-terminal has no modem lines: its refusal is no failure of the settings.
    SetModemLine(h, TIOCM_DTR, s.dtrControl != DtrControl::Disable);
    if (s.rtsControl != RtsControl::Handshake) {
        SetModemLine(h, TIOCM_RTS, s.rtsControl == RtsControl::Enable);
    }
    return true;
}

// The kernel sizes its own queues.
bool PosixBackend::SetQueueSizes(SerialHandle h, uint32_t, uint32_t) {
    return Fd(h) >= 0;
}

bool PosixBackend::Purge(SerialHandle h, bool input, bool output) {
    const int fd = Fd(h);
    if (fd < 0) return false;
    if (!input && !output) return true;
    const int which = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
    if (RetryEintr([&] { return ::tcflush(fd, which); }) == 0) return true;
    NoteFailure(h);
    return false;
}

bool PosixBackend::QueueCounts(SerialHandle h, uint32_t& inQueue, uint32_t& outQueue) {
    const int fd = Fd(h);
    int in = 0, out = 0;
    if (fd < 0) return false;
    if (::ioctl(fd, FIONREAD, &in) != 0 || ::ioctl(fd, TIOCOUTQ, &out) != 0) {
        NoteFailure(h);
        return false;
    }
    inQueue = static_cast<uint32_t>(std::max(in, 0));
    outQueue = static_cast<uint32_t>(std::max(out, 0));
    return true;
}

bool PosixBackend::ModemStatus(SerialHandle h, ModemLines& lines) {
    const int fd = Fd(h);
    int bits = 0;
    if (fd < 0) return false;
    if (::ioctl(fd, TIOCMGET, &bits) != 0) {
        NoteFailure(h);
        return false;
    }
    lines = 0;
    if (bits & TIOCM_CTS) lines |= mlCTS;
    if (bits & TIOCM_DSR) lines |= mlDSR;
    if (bits & TIOCM_RNG) lines |= mlRING;
    if (bits & TIOCM_CAR) lines |= mlRLSD;
    return true;
}

bool PosixBackend::SetModemLine(SerialHandle h, int line, bool high) {
    const int fd = Fd(h);
    if (fd < 0) return false;
    if (::ioctl(fd, high ? TIOCMBIS : TIOCMBIC, &line) == 0) return true;
    NoteFailure(h);
    return false;
}

int32_t PosixBackend::Read(SerialHandle h, uint8_t* buffer, uint32_t size) {
    const int fd = Fd(h);
    if (fd < 0) return -1;
    const ssize_t n = RetryEintr([&] { return ::read(fd, buffer, size); });
    if (n >= 0) return static_cast<int32_t>(n);
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    NoteFailure(h);
    return -1;
}

int32_t PosixBackend::Write(SerialHandle h, const uint8_t* data, uint32_t size) {
    const int fd = Fd(h);
    if (fd < 0) return -1;
    const ssize_t n = RetryEintr([&] { return ::write(fd, data, size); });
    if (n >= 0) return static_cast<int32_t>(n);
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    NoteFailure(h);
    return -1;
}

WaitResult PosixBackend::Wait(SerialHandle h, short events, uint32_t timeoutMs) {
    const int fd = Fd(h);
    if (fd < 0) return WaitResult::Failed;
    using Steady = std::chrono::steady_clock;
    const auto deadline = Steady::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Steady::now());
        pollfd p{fd, events, 0};
        const int r =
            ::poll(&p, 1, static_cast<int>(std::clamp<int64_t>(left.count(), 0, 1 << 30)));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return WaitResult::Failed;
        if (r == 0) return WaitResult::Timeout;
        if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) {
            // A hung-up line may still hold bytes that arrived before; only an empty one has
            // nothing more to give.
            int in = 0;
            const bool holdsInput = events == POLLIN && ::ioctl(fd, FIONREAD, &in) == 0 && in > 0;
            if (holdsInput) return WaitResult::Ready;
            NoteLoss(h);
            return WaitResult::Failed;
        }
        return WaitResult::Ready;
    }
}

}  // namespace

bool MakeRawTermios(const LineSettings& s, termios& t) {
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};  // 5 to 8 data bits
    // none, odd, even, mark, space (mark and space are stick parity)
    static constexpr tcflag_t kParities[] = {0, PARENB | PARODD, PARENB, PARENB | PARODD | CMSPAR,
                                             PARENB | CMSPAR};
    if (s.byteSize < 5 || s.byteSize > 8 || s.parity > 4 || s.stopBits > 2) return false;
    ::cfmakeraw(&t);
    // Nothing that an earlier user of the port left in the input, output or local modes
    // survives: only what the record asks for is set below.
    t.c_iflag = 0;
    t.c_oflag = 0;
    t.c_lflag = 0;
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD | HUPCL | kSizes[s.byteSize - 5] | kParities[s.parity];
    if (s.parityCheck) t.c_iflag |= INPCK;
    if (s.ignoreBreak) t.c_iflag |= IGNBRK;
    // The line has no one-and-a-half stop bits here; the longer of the two neighbours keeps
    // the receiver in step.
    if (s.stopBits != 0) t.c_cflag |= CSTOPB;
    if (s.outxCtsFlow || s.rtsControl == RtsControl::Handshake) t.c_cflag |= CRTSCTS;
    if (s.outX) t.c_iflag |= IXON;
    if (s.inX) t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = s.xonChar;
    t.c_cc[VSTOP] = s.xoffChar;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    return true;
}

SerialBackend& PosixSerialBackend() {
    static PosixBackend backend;
    return backend;
}

SerialBackend& SystemSerialBackend() {
    return PosixSerialBackend();
}
