#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "DeviceFaults.h"
#include "PtyDeviceSet.h"
#include "PtyLoop.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Ms = std::chrono::milliseconds;

TEST(DeviceFaultOption, ReadsTargetStepRecordAndAnswer) {
    auto f = ParseDeviceFault("server:erase=94");
    ASSERT_TRUE(f);
    EXPECT_EQ(f->target, FaultTarget::Server);
    EXPECT_EQ(f->fault.step, BootStep::Erase);
    EXPECT_EQ(f->fault.kind, StepFault::Answer);
    EXPECT_EQ(f->fault.code, 0x94);
    EXPECT_EQ(f->fault.record, -1);

    f = ParseDeviceFault("reader:write@219=silent");
    ASSERT_TRUE(f);
    EXPECT_EQ(f->target, FaultTarget::ReaderCard);
    EXPECT_EQ(f->fault.step, BootStep::Write);
    EXPECT_EQ(f->fault.kind, StepFault::Silent);
    EXPECT_EQ(f->fault.record, 219);

    f = ParseDeviceFault("card:bitlock-off=9F");
    ASSERT_TRUE(f);
    EXPECT_EQ(f->target, FaultTarget::ServerCard);
    EXPECT_EQ(f->fault.step, BootStep::BitLockOff);
    EXPECT_EQ(f->fault.code, 0x9F);

    f = ParseDeviceFault("server:write@17=drop@40");
    ASSERT_TRUE(f);
    EXPECT_EQ(f->fault.kind, StepFault::DropLine);
    EXPECT_EQ(f->fault.record, 17);
    EXPECT_EQ(f->fault.afterBytes, 40u);
    f = ParseDeviceFault("reader:erase=drop");
    ASSERT_TRUE(f);
    EXPECT_EQ(f->fault.afterBytes, StepFault::kWholeFrame);

    f = ParseDeviceFault("reader:greeting=silent");
    ASSERT_TRUE(f);
    EXPECT_EQ(f->target, FaultTarget::ReaderCard);
    EXPECT_EQ(f->own, OwnStep::Greeting);
    EXPECT_EQ(f->ownFault, LineFault::Silent);
    f = ParseDeviceFault("server:probe=drop");
    ASSERT_TRUE(f);
    EXPECT_EQ(f->own, OwnStep::Probe);
    EXPECT_EQ(f->ownFault, LineFault::Drop);

    for (const char* bad : {"",
                            "server",
                            "server:erase",
                            "printer:erase=94",
                            "server:format=94",
                            "server:erase=9",
                            "server:erase=940",
                            "server:erase=zz",
                            "server:erase@3=94",
                            "server:write@220=94",
                            "server:write@-1=94",
                            "server:write@=94",
                            "server=94:erase",
                            "card:greeting=drop",
                            "reader:probe=drop",
                            "server:probe=94",
                            "server:greeting=drop@3",
                            "server:erase=drop@0",
                            "server:erase=drop@x",
                            "server:erase=dropped"}) {
        EXPECT_FALSE(ParseDeviceFault(bad)) << bad;
    }
}

namespace {

// The device set served on a thread, and a program's side of its ports.
class PtyDevices : public ::testing::Test {
  protected:
    void Start(PtyDeviceSet::Options options) {
        dir_ = fs::temp_directory_path() / ("tandel-pty-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        options.flashDir = (dir_ / "flash").string();
        devices_ = std::make_unique<PtyDeviceSet>(options);
        devices_->Create((dir_ / "ports").string());
        ASSERT_EQ(::pipe(stop_), 0);
        loop_ = std::thread([this] { RunPtyLines(devices_->Lines(), stop_[0]); });
    }
    void TearDown() override {
        for (int fd : open_) ::close(fd);
        if (loop_.joinable()) {
            const char byte = 1;
            EXPECT_EQ(::write(stop_[1], &byte, 1), 1);
            loop_.join();
        }
        devices_.reset();
        ::close(stop_[0]);
        ::close(stop_[1]);
        fs::remove_all(dir_);
    }

    // Opens a port as a serial program does; `setUp` puts it into raw mode at 9600 baud.
    int Open(const char* port, bool setUp, tcflag_t framing = CS8) {
        const int fd = ::open((dir_ / "ports" / port).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        EXPECT_GE(fd, 0);
        open_.push_back(fd);
        if (setUp) SetUp(fd, framing);
        return fd;
    }
    static void SetUp(int fd, tcflag_t framing) {
        termios t{};
        ASSERT_EQ(::tcgetattr(fd, &t), 0);
        ::cfmakeraw(&t);
        t.c_cflag = (t.c_cflag & ~(CSIZE | PARENB | CSTOPB)) | framing | CLOCAL | CREAD;
        ::cfsetspeed(&t, B9600);
        ASSERT_EQ(::tcsetattr(fd, TCSANOW, &t), 0);
    }
    void Close(int fd) {
        ::close(fd);
        std::erase(open_, fd);
    }
    // Up to `count` bytes, waiting at most `ms` for them.
    static Bytes Read(int fd, size_t count, int ms) {
        Bytes got;
        const auto end = std::chrono::steady_clock::now() + Ms(ms);
        while (got.size() < count) {
            const auto left =
                std::chrono::duration_cast<Ms>(end - std::chrono::steady_clock::now());
            pollfd p{fd, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) != 1) break;
            uint8_t buffer[64];
            const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, count - got.size()));
            if (n > 0) got.insert(got.end(), buffer, buffer + n);
        }
        return got;
    }
    static void Write(int fd, const Bytes& bytes) {
        ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    std::string FlashFile(const char* name) const {
        std::ifstream in(dir_ / "flash" / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    fs::path dir_;
    std::unique_ptr<PtyDeviceSet> devices_;
    int stop_[2] = {-1, -1};
    std::thread loop_;
    std::vector<int> open_;
};

const Bytes kGreeting{0xAA, 0xAA, 0xD3};
const Bytes kAtr{0xAA, 0xAA, 0xB3, 0x3B, 0x02, 0x14};
const Bytes kReadFirmwareNumber{0xCC, 0x01, 0x60, 0xAD};

}  // namespace

TEST_F(PtyDevices, ServerGreetsOnceTheLineIsSetUpAndAgainAfterEveryOpening) {
    Start({});
    int fd = Open("COM1", false);
    EXPECT_EQ(Read(fd, 1, 900), Bytes());  // a terminal in its default mode gets nothing
    SetUp(fd, CS8);
    const auto setUp = std::chrono::steady_clock::now();
    EXPECT_EQ(Read(fd, 3, 3000), kGreeting);
    // The reset stands where the program's RTS pulse would end.
    EXPECT_GE(std::chrono::steady_clock::now() - setUp, Ms(PtyDeviceSet::kServerResetAfterMs));
    Write(fd, {0xD3});
    Write(fd, kReadFirmwareNumber);
    EXPECT_EQ(Read(fd, 3, 3000), (Bytes{0x60, 0x69, 0x90}));
    Close(fd);
    // Time for the devices to see the close; a new opening before would be no reset.
    std::this_thread::sleep_for(Ms(1500));

    fd = Open("COM1", true);
    EXPECT_EQ(Read(fd, 3, 3000), kGreeting);
    // The close was handled before the new greeting; a flash never erased or written is
    // not saved, for the server nor for the card behind it.
    EXPECT_FALSE(fs::exists(dir_ / "flash" / "COM1-server.bin"));
    EXPECT_FALSE(fs::exists(dir_ / "flash" / "COM1-card.bin"));
}

TEST_F(PtyDevices, ReaderAnswersToResetAndEchoesAtTheLineRate) {
    Start({});  // 9600 bit/s
    const int fd = Open("COM2", true, CS8 | PARENB | CSTOPB);
    EXPECT_EQ(Read(fd, kAtr.size(), 3000), kAtr);
    // 48 bytes of 12 bits each (the reader's even parity and two stop bits) take 60 ms at
    // 9600 bit/s.
    const Bytes stray(48, 0x11);
    const auto sent = std::chrono::steady_clock::now();
    Write(fd, stray);
    EXPECT_EQ(Read(fd, stray.size(), 3000), stray);
    EXPECT_GE(std::chrono::steady_clock::now() - sent, Ms(60));
    Write(fd, kReadFirmwareNumber);
    Bytes echoAndAnswer = kReadFirmwareNumber;
    echoAndAnswer.insert(echoAndAnswer.end(), {0x60, 0x69, 0x90});
    EXPECT_EQ(Read(fd, echoAndAnswer.size(), 3000), echoAndAnswer);
}

TEST_F(PtyDevices, FaultsReachTheirDeviceOnly) {
    PtyDeviceSet::Options options;
    options.pacing.rate = 0;
    options.faults = {*ParseDeviceFault("reader:firmware-number=91"),
                      *ParseDeviceFault("server:firmware-number=silent")};
    Start(options);
    const int reader = Open("COM2", true);
    EXPECT_EQ(Read(reader, kAtr.size(), 3000), kAtr);
    Write(reader, kReadFirmwareNumber);
    Bytes echoAndAnswer = kReadFirmwareNumber;
    echoAndAnswer.push_back(0x91);
    EXPECT_EQ(Read(reader, echoAndAnswer.size(), 3000), echoAndAnswer);

    const int server = Open("COM1", true);
    EXPECT_EQ(Read(server, 3, 3000), kGreeting);
    Write(server, {0xD3});
    Write(server, kReadFirmwareNumber);
    EXPECT_EQ(Read(server, 1, 500), Bytes());
}
