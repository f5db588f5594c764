// Opening, transfers, waits and polling against simulated ports in virtual time.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <functional>
#include <vector>

#include "SimulatedBackend.h"
#include "TSerialPortDriver.h"

namespace {

const std::string kCom1 = "\\\\.\\COM1";

// Answers every byte with its complement after a fixed delay; remembers its line.
class ComplementDevice : public SimDevice {
  public:
    explicit ComplementDevice(uint32_t delayMs = 5) : delay_(delayMs) {}
    void OnOpen(SimLine& line) override { line_ = &line; }
    void OnClose() override { line_ = nullptr; }
    void OnByte(uint8_t b) override {
        received.push_back(b);
        line_->Send(static_cast<uint8_t>(~b), line_->Now() + delay_);
    }
    SimLine* line_ = nullptr;
    std::vector<uint8_t> received;

  private:
    uint32_t delay_;
};

struct DriverTransfer : ::testing::Test {
    VirtualClock clock{0xFFFFFF00u};  // close to the wrap of the tick
    ComplementDevice device;
    SimulatedBackend backend{clock};
    TSerialPortDriver dane{backend, clock};

    void SetUp() override {
        backend.AttachDevice(kCom1, device);
        dane.SetPortName(kCom1);
        ASSERT_TRUE(dane.OpenPort());
    }
    void Send(std::vector<uint8_t> bytes, uint32_t afterMs) {
        device.line_->Send(bytes, clock.TickMs() + afterMs);
    }
};

TEST(DriverOpen, AbsentInUseAndRepeatedOpens) {
    VirtualClock clock;
    SimulatedBackend backend{clock};
    TSerialPortDriver dane{backend, clock};
    dane.SetPortName(kCom1);
    EXPECT_FALSE(dane.OpenPort());
    backend.AddPortInUse(kCom1);
    EXPECT_FALSE(dane.OpenPort());
    EXPECT_FALSE(dane.IsPortOpen());

    backend.AddSilentPort(kCom1);
    ASSERT_TRUE(dane.OpenPort());
    EXPECT_TRUE(dane.OpenPort());  // no second open, no second record
    EXPECT_EQ(backend.Record(kCom1).opens, 1u);
    EXPECT_EQ(backend.Record(kCom1).settings.size(), 1u);

    TSerialPortDriver other{backend, clock};
    other.SetPortName(kCom1);
    EXPECT_FALSE(other.OpenPort());  // exclusive

    dane.ClosePort();
    EXPECT_FALSE(backend.IsOpen(kCom1));
    EXPECT_TRUE(other.OpenPort());
}

TEST(DriverOpen, ClosedPortResults) {
    VirtualClock clock{500};
    SimulatedBackend backend{clock};
    TSerialPortDriver dane{backend, clock};
    uint8_t value = 0x5A;
    EXPECT_EQ(dane.BytesWaiting(), 65535);
    EXPECT_EQ(dane.OutputSpace(), 65535);
    EXPECT_FALSE(dane.ReadByte(value));
    EXPECT_EQ(value, 0x5A);
    EXPECT_FALSE(dane.WriteByte(1));
    EXPECT_FALSE(dane.ApplyLineSettings());
    EXPECT_FALSE(dane.PurgeQueues(true, true));
    EXPECT_EQ(dane.ReadModemLines(), 0);
    EXPECT_FALSE(dane.WaitForInput(1000));
    dane.SetRTSLine(true);
    dane.ClosePort();
    EXPECT_EQ(clock.TickMs(), 500u);  // nothing waited
}

TEST_F(DriverTransfer, WriteReachesTheDeviceAndTheReplyIsRead) {
    const uint8_t frame[] = {0xCC, 0x02, 0x10};
    EXPECT_EQ(dane.WriteBytes(frame, 3), 3u);
    EXPECT_EQ(device.received, std::vector<uint8_t>({0xCC, 0x02, 0x10}));
    EXPECT_EQ(dane.BytesWaiting(), 0);

    uint8_t reply[3] = {};
    const uint32_t start = clock.TickMs();
    EXPECT_EQ(dane.ReadBytes(reply, 3), 3u);
    EXPECT_EQ(clock.TickMs() - start, 5u);  // slept exactly until the bytes arrived
    EXPECT_EQ(reply[0], 0x33);
    EXPECT_EQ(reply[2], 0xEF);
    const auto& written = backend.Record(kCom1).written;
    ASSERT_EQ(written.size(), 3u);
    EXPECT_EQ(written[2].value, 0x10);
}

TEST_F(DriverTransfer, ReadTimeoutRunsFromTheLastByte) {
    Send({1}, 150);
    Send({2}, 300);  // 150 ms after the first: within the limit again
    Send({3}, 700);  // 400 ms after the second: too late
    uint8_t buffer[3] = {};
    const uint32_t start = clock.TickMs();
    EXPECT_EQ(dane.ReadBytes(buffer, 3), 2u);
    EXPECT_EQ(clock.TickMs() - start, 300u + 201u);
    EXPECT_EQ(buffer[1], 2);

    uint8_t value = 0x77;
    EXPECT_TRUE(dane.ReadByte(value));  // the late byte is still delivered later
    EXPECT_EQ(value, 3);
    EXPECT_FALSE(dane.ReadByte(value));
    EXPECT_EQ(value, 3);
}

TEST_F(DriverTransfer, WriteIntoAStalledQueueGivesUpAfterOutputTimeout) {
    backend.SetOutputStalled(kCom1, true);
    dane.ClosePort();
    dane.SetOutBufSize(128);
    ASSERT_TRUE(dane.OpenPort());
    std::vector<uint8_t> data(300, 0x55);
    const uint32_t start = clock.TickMs();
    EXPECT_EQ(dane.WriteBytes(data.data(), 300), 128u);
    EXPECT_EQ(dane.OutputSpace(), 0);
    EXPECT_GT(clock.TickMs() - start, 500u);
    EXPECT_LT(clock.TickMs() - start, 510u);
}

TEST_F(DriverTransfer, CheckLineStatusNeedsAModemLine) {
    dane.SetCheckLineStatus(true);
    EXPECT_FALSE(dane.WriteByte(1));
    device.line_->SetModemLines(mlCTS | mlRLSD);
    EXPECT_EQ(dane.ReadModemLines(), mlCTS | mlRLSD);
    EXPECT_TRUE(dane.WriteByte(1));
}

TEST_F(DriverTransfer, WaitForInputSleepsUntilTheByteOrTheBound) {
    Send({9}, 1234);
    uint32_t start = clock.TickMs();
    EXPECT_FALSE(dane.WaitForInput(1000));
    EXPECT_EQ(clock.TickMs() - start, 1000u);
    EXPECT_TRUE(dane.WaitForInput(1000));
    EXPECT_EQ(clock.TickMs() - start, 1234u);
    EXPECT_TRUE(dane.WaitForInput(0));  // a waiting byte answers at once
}

// A hung-up line closes the port as lost at the first call that meets it, whichever call
// that is; from then on nothing waits: no read time-out, no output time-out, no bound.
TEST_F(DriverTransfer, LostLineClosesThePortAndNothingWaits) {
    using Call = std::function<void(TSerialPortDriver&)>;
    const std::pair<const char*, Call> firstCalls[] = {
        {"wait", [](TSerialPortDriver& d) { EXPECT_FALSE(d.WaitForInput(300)); }},
        {"read",
         [](TSerialPortDriver& d) {
             uint8_t v = 0x42;
             EXPECT_FALSE(d.ReadByte(v));
             EXPECT_EQ(v, 0x42);
         }},
        {"write", [](TSerialPortDriver& d) { EXPECT_FALSE(d.WriteByte(1)); }},
        {"count", [](TSerialPortDriver& d) { EXPECT_EQ(d.BytesWaiting(), 65535); }},
        {"poll", [](TSerialPortDriver& d) { d.PollTick(); }},
        {"rts", [](TSerialPortDriver& d) { d.SetRTSLine(true); }},
        {"settings", [](TSerialPortDriver& d) { d.SetBaudRateValue(19200); }},
    };
    for (const auto& [name, call] : firstCalls) {
        SCOPED_TRACE(name);
        if (!dane.IsPortOpen()) {
            ASSERT_TRUE(dane.OpenPort());
        }
        EXPECT_FALSE(dane.PortLost());
        device.line_->Hangup();
        const uint32_t start = clock.TickMs();
        call(dane);
        EXPECT_FALSE(dane.IsPortOpen());
        EXPECT_TRUE(dane.PortLost());
        EXPECT_FALSE(backend.IsOpen(kCom1));  // the backend's handle is closed
        uint8_t value = 0;
        EXPECT_FALSE(dane.ReadByte(value));
        EXPECT_FALSE(dane.WriteByte(2));
        EXPECT_FALSE(dane.WaitForInput(1000));
        EXPECT_EQ(dane.BytesWaiting(), 65535);
        EXPECT_EQ(clock.TickMs() - start, 0u);
        dane.ClosePort();  // closing a lost port is harmless and keeps the reason
        EXPECT_TRUE(dane.PortLost());
    }
    // The next opening starts afresh.
    ASSERT_TRUE(dane.OpenPort());
    EXPECT_FALSE(dane.PortLost());
    EXPECT_TRUE(dane.WriteByte(7));
}

// A line that drops in the middle of a burst ends the write at once, not after the output
// time-out for every byte still to go.
TEST_F(DriverTransfer, LineLostInsideAWriteEndsItAtOnce) {
    struct Dropper : SimDevice {
        void OnOpen(SimLine& l) override { line = &l; }
        void OnByte(uint8_t) override {
            if (++count == 3) line->Hangup();
        }
        SimLine* line = nullptr;
        int count = 0;
    } dropper;
    dane.ClosePort();
    backend.AttachDevice(kCom1, dropper);
    ASSERT_TRUE(dane.OpenPort());
    const std::vector<uint8_t> frame(75, 0x55);
    const uint32_t start = clock.TickMs();
    EXPECT_EQ(dane.WriteBytes(frame.data(), 75), 3u);
    for (int i = 0; i < 72; ++i) EXPECT_FALSE(dane.WriteByte(0x55));
    EXPECT_EQ(clock.TickMs() - start, 0u);
    EXPECT_TRUE(dane.PortLost());
    EXPECT_EQ(backend.Record(kCom1).written.size(), 3u);
}

TEST_F(DriverTransfer, PurgeDropsOnlyWhatHasArrived) {
    Send({1, 2}, 0);
    Send({3}, 50);
    EXPECT_EQ(dane.BytesWaiting(), 2);
    EXPECT_TRUE(dane.PurgeQueues(true, false));
    EXPECT_EQ(dane.BytesWaiting(), 0);
    uint8_t value = 0;
    EXPECT_TRUE(dane.ReadByte(value));
    EXPECT_EQ(value, 3);
}

// PollTick.

struct Delivery {
    std::vector<std::vector<uint8_t>> chunks;
    auto Handler() {
        return [this](TSerialPortDriver*, const uint8_t* p, uint32_t n) {
            chunks.emplace_back(p, p + n);
        };
    }
};

TEST_F(DriverTransfer, StreamTickDeliversOrDropsEverythingWaiting) {
    Send({1, 2, 3}, 0);
    dane.PollTick();
    EXPECT_EQ(dane.BytesWaiting(), 0);  // no handler: dropped

    Delivery delivery;
    dane.SetOnReceiveData(delivery.Handler());
    Send({4, 5}, 0);
    Send({6}, 10);
    dane.PollTick();
    clock.Advance(10);
    dane.PollTick();
    dane.PollTick();
    ASSERT_EQ(delivery.chunks.size(), 2u);
    EXPECT_EQ(delivery.chunks[0], std::vector<uint8_t>({4, 5}));
    EXPECT_EQ(delivery.chunks[1], std::vector<uint8_t>({6}));
}

TEST_F(DriverTransfer, NoTickWhileHeldOrClosed) {
    Send({1}, 0);
    {
        TSerialPortDriver::PollHold hold(dane);
        dane.PollTick();
        EXPECT_EQ(dane.BytesWaiting(), 1);
    }
    dane.PollTick();
    EXPECT_EQ(dane.BytesWaiting(), 0);
    dane.ClosePort();
    dane.PollTick();  // closed: nothing to do, nothing breaks
}

// A clock whose every sleep lets the poll timer fire, as a message pump would.
class TickingClock : public Clock {
  public:
    uint32_t TickMs() override { return inner.TickMs(); }
    void SleepMs(uint32_t ms) override {
        inner.SleepMs(ms);
        if (driver) driver->PollTick();
    }
    VirtualClock inner;
    TSerialPortDriver* driver = nullptr;
};

TEST(DriverPoll, NoTickTakesBytesWhileAReadRuns) {
    TickingClock clock;
    ComplementDevice device(40);
    SimulatedBackend backend{clock};
    backend.AttachDevice(kCom1, device);
    TSerialPortDriver dane{backend, clock};
    clock.driver = &dane;
    dane.SetPortName(kCom1);
    ASSERT_TRUE(dane.OpenPort());
    Delivery delivery;
    dane.SetOnReceiveData(delivery.Handler());

    ASSERT_TRUE(dane.WriteByte(0x0F));
    uint8_t value = 0;
    EXPECT_TRUE(dane.ReadByte(value));
    EXPECT_EQ(value, 0xF0);
    EXPECT_TRUE(delivery.chunks.empty());

    // A wait without a hold lets the tick take the reply; a hold keeps it for the reader.
    ASSERT_TRUE(dane.WriteByte(0x01));
    EXPECT_FALSE(dane.WaitForInput(100));
    EXPECT_EQ(delivery.chunks.size(), 1u);
    TSerialPortDriver::PollHold hold(dane);
    ASSERT_TRUE(dane.WriteByte(0x02));
    EXPECT_TRUE(dane.WaitForInput(100));
    EXPECT_TRUE(dane.ReadByte(value));
    EXPECT_EQ(value, 0xFD);
}

struct PacketPoll : DriverTransfer {
    Delivery delivery;
    void SetUp() override {
        DriverTransfer::SetUp();
        dane.SetPacketSize(4);
        dane.SetOnReceivePacket(delivery.Handler());
    }
};

TEST_F(PacketPoll, WholePacketsAreCutAndTheRestWaits) {
    Send({1, 2, 3, 4, 5, 6, 7, 8, 9}, 0);
    dane.PollTick();
    ASSERT_EQ(delivery.chunks.size(), 2u);
    EXPECT_EQ(delivery.chunks[1], std::vector<uint8_t>({5, 6, 7, 8}));
    EXPECT_EQ(dane.BytesWaiting(), 1);
    Send({10, 11, 12}, 0);
    dane.PollTick();
    ASSERT_EQ(delivery.chunks.size(), 3u);
    EXPECT_EQ(delivery.chunks[2], std::vector<uint8_t>({9, 10, 11, 12}));
}

TEST_F(PacketPoll, IncompletePacketIsPassedAfterTheTimeout) {
    dane.SetPacketMode(pmPass);
    dane.SetPacketTimeout(100);
    Send({1, 2}, 0);
    dane.PollTick();  // first sight starts the packet
    clock.Advance(100);
    dane.PollTick();  // not yet over the limit
    EXPECT_TRUE(delivery.chunks.empty());
    clock.Advance(1);
    dane.PollTick();
    ASSERT_EQ(delivery.chunks.size(), 1u);
    EXPECT_EQ(delivery.chunks[0], std::vector<uint8_t>({1, 2}));
    EXPECT_EQ(dane.BytesWaiting(), 0);
}

TEST_F(PacketPoll, IncompletePacketIsDiscardedAfterTheTimeout) {
    dane.SetPacketTimeout(100);
    Send({1, 2}, 0);
    dane.PollTick();
    clock.Advance(101);
    dane.PollTick();
    EXPECT_TRUE(delivery.chunks.empty());
    EXPECT_EQ(dane.BytesWaiting(), 0);
    // The next packet starts afresh.
    Send({3, 4, 5, 6}, 0);
    dane.PollTick();
    ASSERT_EQ(delivery.chunks.size(), 1u);
    EXPECT_EQ(delivery.chunks[0], std::vector<uint8_t>({3, 4, 5, 6}));
}

TEST_F(PacketPoll, PacketStartAdvancesByTheTransmitTime) {
    // At 9600 bit/s a 4-byte packet takes 4 ms on the line.
    dane.SetPacketMode(pmPass);
    dane.SetPacketTimeout(100);
    Send({1}, 0);
    dane.PollTick();  // packet start now
    clock.Advance(50);
    Send({2, 3, 4, 5}, 0);
    dane.PollTick();  // one packet cut; start moves on by 4 ms for the remaining byte
    ASSERT_EQ(delivery.chunks.size(), 1u);
    clock.Advance(54);
    dane.PollTick();  // 100 ms after the moved start: still within the limit
    EXPECT_EQ(delivery.chunks.size(), 1u);
    clock.Advance(1);
    dane.PollTick();
    ASSERT_EQ(delivery.chunks.size(), 2u);
    EXPECT_EQ(delivery.chunks[1], std::vector<uint8_t>({5}));
}

TEST_F(PacketPoll, NoTimeoutKeepsTheIncompletePacket) {
    Send({1, 2}, 0);
    dane.PollTick();
    clock.Advance(100000);
    dane.PollTick();
    EXPECT_EQ(dane.BytesWaiting(), 2);
}

TEST(DriverTimer, TimerPollsOnlyWhileOpen) {
    int argc = 1;
    char name[] = "serial_tests";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    VirtualClock clock;
    ComplementDevice device;
    SimulatedBackend backend{clock};
    backend.AttachDevice(kCom1, device);
    TSerialPortDriver dane{backend, clock};
    dane.SetPortName(kCom1);
    dane.SetPollingDelay(5);
    Delivery delivery;
    dane.SetOnReceiveData(delivery.Handler());
    ASSERT_TRUE(dane.OpenPort());
    device.line_->Send({1, 2}, clock.TickMs());

    QEventLoop loop;
    QTimer::singleShot(60, &loop, &QEventLoop::quit);
    loop.exec();
    ASSERT_EQ(delivery.chunks.size(), 1u);
}

}  // namespace
