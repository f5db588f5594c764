// The termios backend on real pseudo-terminals, driven through the driver in wall time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <string>
#include <utility>
#include <vector>

#include "PortHolders.h"
#include "PosixBackend.h"
#include "SerialTestSupport.h"
#include "TSerialPortDriver.h"

namespace {

namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;

long MillisSince(Steady::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - start).count());
}

double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

struct PosixPort : ::testing::Test {
    int master = -1;
    int slave = -1;  // kept open to read the line settings back
    std::string path;
    TSerialPortDriver dane{PosixSerialBackend(), SystemClock::Instance()};

    void SetUp() override {
        unsetenv("TANDEL_PORTS");
        char name[256] = {};
        ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
        path = name;
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        dane.SetPortName(path);
    }
    void TearDown() override {
        dane.ClosePort();
        if (slave >= 0) close(slave);
        if (master >= 0) close(master);
    }

    // What the device side receives within `ms`.
    std::vector<uint8_t> MasterRead(size_t count, int ms = 1000) {
        std::vector<uint8_t> got;
        const auto start = Steady::now();
        while (got.size() < count && MillisSince(start) < ms) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            uint8_t buffer[256];
            const ssize_t n = read(master, buffer, sizeof buffer);
            if (n > 0) got.insert(got.end(), buffer, buffer + n);
        }
        return got;
    }
    void MasterWrite(std::vector<uint8_t> bytes) {
        ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    termios SlaveSettings() {
        termios t{};
        EXPECT_EQ(tcgetattr(slave, &t), 0);
        return t;
    }
};

TEST_F(PosixPort, OpensThroughThePortsDirectoryOnly) {
    TempDir dir;
    fs::create_symlink(path, dir.path / "COM3");
    ScopedEnv env("TANDEL_PORTS", dir.path.string());
    dane.SetPortName("\\\\.\\COM3");
    ASSERT_TRUE(dane.OpenPort());
    EXPECT_EQ(dane.PortName(), "\\\\.\\COM3");
    dane.ClosePort();
    dane.SetPortName("\\\\.\\COM1");  // no entry: absent, whatever /dev holds
    EXPECT_FALSE(dane.OpenPort());
}

TEST_F(PosixPort, OpenIsExclusiveUntilClosed) {
    ASSERT_TRUE(dane.OpenPort());
    TSerialPortDriver other{PosixSerialBackend(), SystemClock::Instance()};
    other.SetPortName(path);
    EXPECT_FALSE(other.OpenPort());
    dane.ClosePort();
    EXPECT_TRUE(other.OpenPort());
    other.ClosePort();

    TempDir dir;
    std::ofstream(dir.path / "plain") << "not a terminal";
    other.SetPortName((dir.path / "plain").string());
    EXPECT_FALSE(other.OpenPort());
    other.SetPortName((dir.path / "missing").string());
    EXPECT_FALSE(other.OpenPort());
}

TEST_F(PosixPort, BytesBothWays) {
    ASSERT_TRUE(dane.OpenPort());
    const uint8_t frame[] = {0xCC, 0x00, 0x0A, 0xFF};
    EXPECT_EQ(dane.WriteBytes(frame, 4), 4u);
    EXPECT_EQ(MasterRead(4), std::vector<uint8_t>(frame, frame + 4));

    MasterWrite({0x90, 0x11, 0x13, 0x0D});  // raw: flow and line characters pass untouched
    ASSERT_TRUE(dane.WaitForInput(1000));
    const auto start = Steady::now();
    while (dane.BytesWaiting() < 4 && MillisSince(start) < 1000) usleep(1000);
    EXPECT_EQ(dane.BytesWaiting(), 4);
    uint8_t reply[4] = {};
    EXPECT_EQ(dane.ReadBytes(reply, 4), 4u);
    EXPECT_EQ(std::vector<uint8_t>(reply, reply + 4),
              std::vector<uint8_t>({0x90, 0x11, 0x13, 0x0D}));
    EXPECT_EQ(dane.BytesWaiting(), 0);
    EXPECT_EQ(dane.OutputSpace(), 2048);

    MasterWrite({1, 2});
    ASSERT_TRUE(dane.WaitForInput(1000));
    EXPECT_TRUE(dane.PurgeQueues(true, true));
    EXPECT_EQ(dane.BytesWaiting(), 0);

    dane.ClosePort();
    uint8_t value = 0x42;
    EXPECT_EQ(dane.BytesWaiting(), 65535);
    EXPECT_EQ(dane.OutputSpace(), 65535);
    EXPECT_FALSE(dane.ReadByte(value));
    EXPECT_EQ(value, 0x42);
}

// A pseudo-terminal keeps the rate, stop bits, odd/stick parity and flow control it is given
// but always reports eight data bits and no parity enable; the framing itself is checked on
// the termios record built for it.
TEST_F(PosixPort, LineSettingsReachTheTerminal) {
    dane.SetBaudRate(br115200);
    dane.SetParity(ptODD);
    dane.SetStopBits(sb2BITS);
    dane.SetHwFlow(hfRTSCTS);
    ASSERT_TRUE(dane.OpenPort());
    termios t = SlaveSettings();
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
    EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B115200));
    EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR), static_cast<tcflag_t>(PARODD));
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_TRUE(t.c_cflag & CRTSCTS);
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | ICRNL | INPCK));

    // While open every line-setting write applies at once.
    dane.SetBaudRate(br9600);
    dane.SetParity(ptMARK);
    dane.SetStopBits(sb1BITS);
    dane.SetSwFlow(sfXONXOFF);
    dane.SetHwFlow(hfNONE);
    t = SlaveSettings();
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
    EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR), static_cast<tcflag_t>(PARODD | CMSPAR));
    EXPECT_FALSE(t.c_cflag & (CSTOPB | CRTSCTS));
    EXPECT_TRUE((t.c_iflag & IXON) && (t.c_iflag & IXOFF));
    EXPECT_EQ(t.c_cc[VSTART], 0x11);
    EXPECT_EQ(t.c_cc[VSTOP], 0x13);

    dane.SetParity(ptSPACE);
    dane.SetStopBits(sb1HALFBITS);  // no such framing here: two stop bits
    t = SlaveSettings();
    EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR), static_cast<tcflag_t>(CMSPAR));
    EXPECT_TRUE(t.c_cflag & CSTOPB);
}

// Modes an earlier program left on the port do not survive the opening: no software flow
// control, no parity checking, no translation unless the settings ask for them.
TEST_F(PosixPort, OpeningClearsModesLeftByAnEarlierUser) {
    termios t{};
    ASSERT_EQ(tcgetattr(slave, &t), 0);
    t.c_iflag |= IXOFF | IXANY | INPCK | IGNPAR | PARMRK | ICRNL;
    t.c_oflag |= OPOST | ONLCR;
    t.c_lflag |= ICANON | ECHO | ISIG;
    ASSERT_EQ(tcsetattr(slave, TCSANOW, &t), 0);
    ASSERT_TRUE(dane.OpenPort());
    ASSERT_EQ(tcgetattr(slave, &t), 0);
    EXPECT_EQ(t.c_iflag, static_cast<tcflag_t>(IGNBRK));  // a break gives no 0x00
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
}

// A pseudo-terminal drops parity; the card reader's settings (even parity, two stop bits)
// must still open it every time, not only when something else changes with them.
TEST_F(PosixPort, ParityOnAPseudoTerminalIsNoRefusal) {
    dane.SetStopBits(sb2BITS);
    dane.SetParity(ptEVEN);
    for (int run = 0; run < 3; ++run) {
        ASSERT_TRUE(dane.OpenPort()) << "run " << run;
        dane.ClosePort();
    }
}

TEST(Termios, FramingFromTheLineSettingsRecord) {
    VirtualClock clock;
    TSerialPortDriver dane{PosixSerialBackend(), clock};
    const tcflag_t parityBits = PARENB | PARODD | CMSPAR;
    const struct {
        TParity parity;
        tcflag_t expected;
    } parities[] = {{ptNONE, 0},
                    {ptODD, PARENB | PARODD},
                    {ptEVEN, PARENB},
                    {ptMARK, PARENB | PARODD | CMSPAR},
                    {ptSPACE, PARENB | CMSPAR}};
    for (const auto& p : parities) {
        dane.SetParity(p.parity);
        termios t{};
        t.c_lflag = ECHO | ICANON;
        ASSERT_TRUE(MakeRawTermios(dane.BuildLineSettings(), t));
        EXPECT_EQ(t.c_cflag & parityBits, p.expected) << "parity " << int(p.parity);
        EXPECT_FALSE(t.c_lflag & (ECHO | ICANON));
    }
    const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    for (int bits = db5BITS; bits <= db8BITS; ++bits) {
        dane.SetDataBits(static_cast<TDataBits>(bits));
        termios t{};
        ASSERT_TRUE(MakeRawTermios(dane.BuildLineSettings(), t));
        EXPECT_EQ(t.c_cflag & CSIZE, sizes[bits]);
    }
    LineSettings bad = dane.BuildLineSettings();
    bad.byteSize = 9;
    termios t{};
    EXPECT_FALSE(MakeRawTermios(bad, t));
}

TEST_F(PosixPort, RateOutsideTheStandardSet) {
    dane.SetBaudRateValue(56000);
    ASSERT_TRUE(dane.OpenPort());
    // The kernel's termios2 carries the rate; same layout as the backend declares it.
    struct {
        tcflag_t flags[4];
        cc_t line;
        cc_t cc[19];
        speed_t ispeed;
        speed_t ospeed;
    } t2{};
    ASSERT_EQ(ioctl(slave, _IOR('T', 0x2A, decltype(t2)), &t2), 0);
    EXPECT_EQ(t2.ospeed, 56000u);
    EXPECT_EQ(t2.ispeed, 56000u);
}

TEST_F(PosixPort, WaitsSleepInsteadOfSpinning) {
    ASSERT_TRUE(dane.OpenPort());
    const double cpu0 = CpuSeconds();
    auto start = Steady::now();
    uint8_t value = 0;
    EXPECT_FALSE(dane.ReadByte(value));
    const long readMs = MillisSince(start);
    EXPECT_GE(readMs, 200);
    EXPECT_LT(readMs, 400);

    start = Steady::now();
    EXPECT_FALSE(dane.WaitForInput(1000));
    const long waitMs = MillisSince(start);
    EXPECT_GE(waitMs, 1000);
    EXPECT_LT(waitMs, 1300);
    const double cpu = CpuSeconds() - cpu0;
    EXPECT_LT(cpu, 0.1 * (readMs + waitMs) / 1000.0) << "CPU seconds: " << cpu;

    // A byte ends the wait at once.
    MasterWrite({7});
    start = Steady::now();
    EXPECT_TRUE(dane.WaitForInput(1000));
    EXPECT_LT(MillisSince(start), 200);
    EXPECT_TRUE(dane.ReadByte(value));
    EXPECT_EQ(value, 7);
}

TEST_F(PosixPort, WriteToAFullLineStopsAfterTheOutputTimeout) {
    dane.SetOutputTimeout(100);
    ASSERT_TRUE(dane.OpenPort());
    std::vector<uint8_t> data(1 << 20, 0xA5);  // far more than the terminal buffers
    const double cpu0 = CpuSeconds();
    const auto start = Steady::now();
    const uint32_t written = dane.WriteBytes(data.data(), static_cast<uint32_t>(data.size()));
    const long ms = MillisSince(start);
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, data.size());
    EXPECT_GE(ms, 100);
    EXPECT_LT(ms, 1000);
    EXPECT_LT(CpuSeconds() - cpu0, 0.1 * ms / 1000.0)
        << "CPU " << CpuSeconds() - cpu0 << " wall " << ms;
}

// The other end of the line closes (as an adapter pulled out; the kernel hangs the terminal
// up): the driver closes the port as lost and no call waits any more.
TEST_F(PosixPort, HungUpLineIsLostAtOnce) {
    ASSERT_TRUE(dane.OpenPort());
    close(master);
    master = -1;
    const double cpu0 = CpuSeconds();
    const auto start = Steady::now();
    uint8_t value = 0;
    EXPECT_FALSE(dane.ReadByte(value));
    EXPECT_FALSE(dane.IsPortOpen());
    EXPECT_TRUE(dane.PortLost());
    EXPECT_FALSE(dane.WaitForInput(1000));
    EXPECT_FALSE(dane.WriteByte(0xCC));
    EXPECT_LT(MillisSince(start), 50);
    EXPECT_LT(CpuSeconds() - cpu0, 0.05);
}

TEST_F(PosixPort, WritingIntoAHungUpLineIsLostAtOnce) {
    ASSERT_TRUE(dane.OpenPort());
    close(master);
    master = -1;
    const std::vector<uint8_t> frame(75, 0x40);
    const auto start = Steady::now();
    EXPECT_EQ(dane.WriteBytes(frame.data(), 75), 0u);
    EXPECT_TRUE(dane.PortLost());
    EXPECT_LT(MillisSince(start), 50);
}

// A pseudo-terminal's exclusive mode outlives a killed opener: it is never set there, and one
// left set with no live holder is cleared (a privileged open gets through it). The line
// settings found at the open come back at the release.
TEST_F(PosixPort, NoExclusiveModeOutlivesThePortAndItsSettingsComeBack) {
    termios found = SlaveSettings();
    cfsetspeed(&found, B1200);
    found.c_lflag |= ICANON | ECHO;
    ASSERT_EQ(tcsetattr(slave, TCSANOW, &found), 0);
    if (geteuid() == 0) ioctl(slave, TIOCEXCL);
    ASSERT_TRUE(dane.OpenPort());
    int exclusive = -1;
    EXPECT_TRUE(ioctl(slave, TIOCGEXCL, &exclusive) == 0 && exclusive == 0);
    dane.ClosePort();
    found = SlaveSettings();
    EXPECT_EQ(cfgetospeed(&found), static_cast<speed_t>(B1200));
    EXPECT_EQ(found.c_lflag & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO));
}

// The controlling terminal is never a port, by its own name or as /dev/tty.
TEST_F(PosixPort, TheControllingTerminalIsNeverOpened) {
    close(std::exchange(slave, -1));
    const pid_t child = fork();
    if (child == 0) {
        setsid();
        const int terminal = open(path.c_str(), O_RDWR);  // becomes the controlling terminal
        int refused = 0;
        for (const char* name : {path.c_str(), "/dev/tty"}) {
            dane.SetPortName(name);
            refused += !dane.OpenPort() && dane.LastOpenFailure().error == EBUSY;
        }
        _exit(terminal >= 0 && refused == 2 ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0);
}

// A port refused for any reason keeps the mode it had: its owner can still reopen it. Here
// this process's own descriptor holds the lock (another process would be found first).
TEST_F(PosixPort, AFailedOpenLeavesTheExclusiveModeAsItWas) {
    ASSERT_EQ(flock(slave, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(dane.OpenPort());
    int exclusive = -1;
    ASSERT_EQ(ioctl(slave, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    flock(slave, LOCK_UN);
}

// Another live process on the line, by its lock file or by an open descriptor alone, makes
// the port in use and is named; a dead process's lock file does not count. While the port
// is ours its lock file holds our PID, and goes with the close.
TEST_F(PosixPort, APortHeldByAnotherProcessIsInUse) {
    const std::string lock = UucpLockPath(path);
    const auto writeLock = [&](pid_t pid) { std::ofstream(lock) << std::setw(10) << pid << "\n"; };
    for (const bool withLock : {true, false}) {
        SCOPED_TRACE(withLock ? "lock file" : "descriptor");
        const pid_t other = fork();
        if (other == 0) {
            if (!withLock) (void)!open(path.c_str(), O_RDWR | O_NOCTTY);
            pause();
            _exit(0);
        }
        if (withLock) writeLock(other);
        usleep(100000);
        EXPECT_FALSE(dane.OpenPort());
        EXPECT_EQ(dane.LastOpenFailure().error, EBUSY);
        EXPECT_NE(dane.LastOpenFailure().holder.find("(PID " + std::to_string(other) + ")"),
                  std::string::npos);
        kill(other, SIGKILL);
        waitpid(other, nullptr, 0);
    }
    ASSERT_TRUE(dane.OpenPort());  // the lock file left is a dead process's
    std::ifstream held(lock);
    pid_t owner = 0;
    held >> owner;
    EXPECT_EQ(owner, getpid());
    dane.ClosePort();
    EXPECT_FALSE(fs::exists(lock));
}

}  // namespace
