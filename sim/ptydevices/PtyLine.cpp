#include "PtyLine.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <limits>
#include <system_error>
#include <utility>

namespace {

[[noreturn]] void ThrowErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

uint32_t Tick(uint64_t us) {
    return static_cast<uint32_t>(us / 1000);
}

uint32_t RateOf(speed_t speed) {
    static constexpr std::pair<speed_t, uint32_t> kRates[] = {
        {B50, 50},           {B75, 75},           {B110, 110},         {B134, 134},
        {B150, 150},         {B200, 200},         {B300, 300},         {B600, 600},
        {B1200, 1200},       {B1800, 1800},       {B2400, 2400},       {B4800, 4800},
        {B9600, 9600},       {B19200, 19200},     {B38400, 38400},     {B57600, 57600},
        {B115200, 115200},   {B230400, 230400},   {B460800, 460800},   {B500000, 500000},
        {B576000, 576000},   {B921600, 921600},   {B1000000, 1000000}, {B1152000, 1152000},
        {B1500000, 1500000}, {B2000000, 2000000}, {B2500000, 2500000}, {B3000000, 3000000},
        {B3500000, 3500000}, {B4000000, 4000000},
    };
    for (const auto& [code, rate] : kRates)
        if (code == speed) return rate;
    return 0;
}

LineConfig LineConfigOf(const termios& t) {
    LineConfig line;
    line.baudRate = RateOf(::cfgetospeed(&t));
    switch (t.c_cflag & CSIZE) {
        case CS5:
            line.byteSize = 5;
            break;
        case CS6:
            line.byteSize = 6;
            break;
        case CS7:
            line.byteSize = 7;
            break;
        default:
            line.byteSize = 8;
            break;
    }
    if (t.c_cflag & PARENB) {
        const bool odd = t.c_cflag & PARODD;
        line.parity = (t.c_cflag & CMSPAR) ? (odd ? 3 : 4) : (odd ? 1 : 2);
    }
    line.stopBits = (t.c_cflag & CSTOPB) ? 2 : 0;
    return line;
}

// The program has put its side into raw mode: no line editing, no echo.
bool IsRaw(const termios& t) {
    return !(t.c_lflag & (ICANON | ECHO));
}

}  // namespace

PtyLine::PtyLine(std::string name, DeviceCore& core, uint32_t resetAfterMs, Framing framing,
                 Pacing pacing)
    : name_(std::move(name)),
      core_(core),
      resetAfterMs_(resetAfterMs),
      framing_(framing),
      pacing_(pacing) {
    core_.Attach(this);
}

PtyLine::~PtyLine() {
    core_.Attach(nullptr);
    if (!linkPath_.empty() && !unplugged_) {
        // Only our own link: another simulator may have taken the name over since.
        char target[512];
        const ssize_t n = ::readlink(linkPath_.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, static_cast<size_t>(n)) == slavePath_)
            ::unlink(linkPath_.c_str());
    }
    if (master_ >= 0) ::close(master_);
}

void PtyLine::Create(const std::string& dir) {
    dir_ = dir;
    Plug();
}

void PtyLine::Plug() {
    int slave = -1;
    if (::openpty(&master_, &slave, nullptr, nullptr, nullptr) != 0) ThrowErrno("openpty");
    const char* path = ::ttyname(slave);
    if (path == nullptr) {
        ::close(slave);
        ThrowErrno("ttyname");
    }
    slavePath_ = path;
    // With no slave descriptor of our own, the master reports a hang-up exactly while no
    // program holds the port open.
    ::close(slave);
    if (::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK) != 0 ||
        ::fcntl(master_, F_SETFD, FD_CLOEXEC) != 0) {
        ThrowErrno("fcntl " + slavePath_);
    }

    const std::string link = dir_ + "/" + name_;
    struct stat st {};
    if (::lstat(link.c_str(), &st) == 0 && ::unlink(link.c_str()) != 0) ThrowErrno(link);
    if (::symlink(slavePath_.c_str(), link.c_str()) != 0) ThrowErrno(link);
    linkPath_ = link;
}

// The cable is pulled: the program's side of the terminal hangs up, the port is gone.
void PtyLine::Unplug(uint64_t nowUs) {
    const bool wasOn = state_ == State::Ready;
    unplugPending_ = false;
    unplugged_ = true;
    state_ = State::Free;
    inbox_.clear();
    outbox_.clear();
    resetPending_ = false;
    // Noted before the master closes: the program may see the hang-up at once.
    lastUnplugNs_ = std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count();
    ++unplugs_;
    ::unlink(linkPath_.c_str());
    ::close(master_);
    master_ = -1;
    replugDueUs_ = nowUs + uint64_t{replugAfterMs_} * 1000;
    if (wasOn) {
        core_.PowerOff(Tick(nowUs));
        if (onClosed_) onClosed_();
    }
}

pollfd PtyLine::PollEntry() const {
    // Before the program holds the line, the master reports a hang-up all the time; those
    // states are looked at on a timer instead.
    if (state_ == State::Ready) return {master_, POLLIN, 0};
    return {-1, 0, 0};
}

bool PtyLine::SlaveClosed() const {
    pollfd p{master_, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP);
}

void PtyLine::CheckLineSettings() {
    termios t{};
    if (::tcgetattr(master_, &t) != 0) return;
    const LineConfig line = LineConfigOf(t);
    if (line == line_) return;
    line_ = line;
    core_.LineChanged(line_);
}

void PtyLine::SetUp(uint64_t nowUs) {
    state_ = State::Ready;
    dropped_ = false;
    lastInUs_ = lastOutUs_ = nowUs;
    core_.LineChanged(line_);
    core_.PowerOn(Tick(nowUs));
    resetPending_ = true;
    resetDueUs_ = nowUs + uint64_t{resetAfterMs_} * 1000;
}

void PtyLine::Release() {
    const uint64_t now = std::max(lastInUs_, lastOutUs_);
    const bool wasOn = state_ == State::Ready;
    state_ = State::Free;
    inbox_.clear();
    outbox_.clear();
    resetPending_ = false;
    uint8_t drain[256];
    while (::read(master_, drain, sizeof drain) > 0) {
    }
    ::tcflush(master_, TCIOFLUSH);
    ResetTerminal();
    if (wasOn) {
        core_.PowerOff(Tick(now));
        if (onClosed_) onClosed_();
    }
}

// Puts the terminal back into its default line-editing mode, so that the next program's
// set-up is seen as a change.
void PtyLine::ResetTerminal() {
    termios t{};
    if (::tcgetattr(master_, &t) != 0) return;
    t.c_lflag |= ICANON | ECHO;
    ::tcsetattr(master_, TCSANOW, &t);
}

uint64_t PtyLine::ByteTimeUs() const {
    const uint32_t rate = pacing_.followLine ? line_.baudRate : pacing_.rate;
    if (rate == 0) return 0;
    return uint64_t{framing_.Bits()} * 1'000'000 / rate;
}

void PtyLine::TakeInput(uint64_t nowUs) {
    uint8_t buffer[512];
    for (;;) {
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        const uint64_t byteTime = ByteTimeUs();
        for (ssize_t k = 0; k < n; ++k) {
            // A byte is there once its last bit has crossed the line.
            lastInUs_ = std::max(nowUs, lastInUs_) + byteTime;
            inbox_.push_back({lastInUs_, buffer[k]});
        }
    }
}

void PtyLine::FlushOutput(uint64_t nowUs) {
    uint8_t buffer[512];
    size_t count = 0;
    while (count < sizeof buffer && count < outbox_.size() && outbox_[count].dueUs <= nowUs) {
        buffer[count] = outbox_[count].byte;
        ++count;
    }
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(master_, buffer + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // the program's input is full: the rest waits for the next pass
        done += static_cast<size_t>(n);
    }
    outbox_.erase(outbox_.begin(), outbox_.begin() + static_cast<std::ptrdiff_t>(done));
}

void PtyLine::Service(uint64_t nowUs) {
    if (unplugged_) {
        if (nowUs < replugDueUs_) return;
        unplugged_ = false;
        dropped_ = false;
        core_.Replugged();
        Plug();
    }
    if (state_ == State::Free) {
        if (SlaveClosed()) return;
        state_ = State::Opened;
    }
    if (state_ == State::Opened) {
        if (SlaveClosed()) {
            Release();
            return;
        }
        termios t{};
        if (::tcgetattr(master_, &t) != 0 || !IsRaw(t)) {
            uint8_t drain[256];  // nothing is read before the set-up
            while (::read(master_, drain, sizeof drain) > 0) {
            }
            return;
        }
        line_ = LineConfigOf(t);
        SetUp(nowUs);
    }

    CheckLineSettings();
    if (resetPending_ && resetDueUs_ <= nowUs) {
        resetPending_ = false;
        core_.RtsChanged(true, Tick(resetDueUs_));
        core_.RtsChanged(false, Tick(resetDueUs_));
    }
    TakeInput(nowUs);
    while (!unplugPending_ && !inbox_.empty() && inbox_.front().dueUs <= nowUs) {
        const Timed in = inbox_.front();
        inbox_.pop_front();
        core_.Receive(in.byte, Tick(in.dueUs));
    }
    FlushOutput(nowUs);
    if (unplugPending_) {
        Unplug(nowUs);
        return;
    }
    // Closed: the device is off the line; what was still crossing it is lost.
    if (SlaveClosed()) Release();
}

uint64_t PtyLine::NextDueUs(uint64_t nowUs) const {
    if (unplugged_) return std::max(replugDueUs_, nowUs);
    if (unplugPending_) return nowUs;
    switch (state_) {
        case State::Free:
            return nowUs + 5000;  // looks for the program's open
        case State::Opened:
            return nowUs + 2000;  // looks for the program's set-up
        case State::Ready:
            break;
    }
    uint64_t next = std::numeric_limits<uint64_t>::max();
    if (resetPending_) next = std::min(next, resetDueUs_);
    if (!inbox_.empty()) next = std::min(next, inbox_.front().dueUs);
    if (!outbox_.empty()) next = std::min(next, outbox_.front().dueUs);
    return std::max(next, nowUs);
}

void PtyLine::Send(uint8_t byte, uint32_t atTick) {
    if (state_ != State::Ready || dropped_) return;
    // In order of sending, each byte after the one before it has left.
    lastOutUs_ = std::max(uint64_t{atTick} * 1000, lastOutUs_) + ByteTimeUs();
    outbox_.push_back({lastOutUs_, byte});
}

void PtyLine::Drop(uint32_t atTick) {
    (void)atTick;  // the cable goes at once
    dropped_ = true;
    unplugPending_ = true;
    outbox_.clear();
}
