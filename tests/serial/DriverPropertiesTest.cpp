// Property write rules and the line-settings record they produce.
#include <gtest/gtest.h>

#include "SimulatedBackend.h"
#include "TSerialPortDriver.h"

namespace {

const std::string kCom2 = "\\\\.\\COM2";
const std::string kCom5 = "\\\\.\\COM5";

struct DriverProperties : ::testing::Test {
    VirtualClock clock{1000};
    SimulatedBackend backend{clock};
    TSerialPortDriver dane{backend, clock};

    void OpenOn(const std::string& name) {
        backend.AddSilentPort(name);
        dane.SetPortName(name);
        ASSERT_TRUE(dane.OpenPort());
    }
};

TEST_F(DriverProperties, DefaultsAreClosedCom2At9600) {
    EXPECT_FALSE(dane.IsPortOpen());
    EXPECT_EQ(dane.Port(), pnCOM2);
    EXPECT_EQ(dane.PortName(), kCom2);
    EXPECT_EQ(dane.BaudRate(), br9600);
    EXPECT_EQ(dane.BaudRateValue(), 9600u);
    EXPECT_EQ(dane.HwFlow(), hfNONERTSON);
    EXPECT_EQ(dane.InBufSize(), 2048u);
    EXPECT_EQ(dane.ReceiveBuffer().size(), 2048u);
    EXPECT_EQ(dane.PacketSize(), -1);
    EXPECT_EQ(dane.PacketTimeout(), -1);
    EXPECT_EQ(dane.PollingDelay(), 50);
    EXPECT_EQ(dane.InputTimeout(), 200u);
    EXPECT_EQ(dane.OutputTimeout(), 500);
    EXPECT_TRUE(dane.EnableDTROnOpen());
}

TEST_F(DriverProperties, EnumerationOrdinalsAndRateTable) {
    EXPECT_EQ(br256000, 15);
    EXPECT_EQ(pnCOM16, 16);
    EXPECT_EQ(ptSPACE, 4);
    EXPECT_EQ(sb2BITS, 2);
    EXPECT_EQ(hfRTSCTS, 2);
    EXPECT_EQ(pmPass, 1);
    EXPECT_EQ(BaudRateOf(brCustom), 0u);
    EXPECT_EQ(BaudRateOf(br110), 110u);
    EXPECT_EQ(BaudRateOf(br14400), 14400u);
    EXPECT_EQ(BaudRateOf(br56000), 56000u);
    EXPECT_EQ(BaudRateOf(br128000), 128000u);
    EXPECT_EQ(BaudRateOf(br256000), 256000u);
}

TEST_F(DriverProperties, PortAndPortNameFollowEachOtherOnlyWhileClosed) {
    dane.SetPort(pnCOM10);
    EXPECT_EQ(dane.PortName(), "\\\\.\\COM10");
    dane.SetPortName("/dev/ttyUSB3");
    EXPECT_EQ(dane.Port(), pnCustom);
    dane.SetPort(pnCOM1);
    dane.SetPort(pnCustom);
    EXPECT_EQ(dane.PortName(), "\\\\.\\COM1");  // pnCustom keeps the name

    OpenOn(kCom5);
    dane.SetPortName(kCom2);
    dane.SetPort(pnCOM3);
    EXPECT_EQ(dane.PortName(), kCom5);
    EXPECT_EQ(dane.Port(), pnCustom);
    dane.ClosePort();
    dane.SetPort(pnCOM3);
    EXPECT_EQ(dane.Port(), pnCOM3);
    dane.SetPortName(kCom2);
    EXPECT_EQ(dane.PortName(), kCom2);
    EXPECT_EQ(dane.Port(), pnCustom);
}

TEST_F(DriverProperties, BaudRateValueAlwaysMeansCustom) {
    dane.SetBaudRateValue(9600);
    EXPECT_EQ(dane.BaudRate(), brCustom);
    dane.SetBaudRate(br57600);
    EXPECT_EQ(dane.BaudRateValue(), 57600u);
    dane.SetBaudRate(brCustom);
    EXPECT_EQ(dane.BaudRateValue(), 57600u);
}

TEST_F(DriverProperties, BufferSizesClampAndAreFixedWhileOpen) {
    dane.SetInBufSize(100);
    EXPECT_EQ(dane.InBufSize(), 128u);
    EXPECT_EQ(dane.ReceiveBuffer().size(), 128u);
    dane.SetInBufSize(10000);
    EXPECT_EQ(dane.InBufSize(), 8192u);
    dane.SetOutBufSize(100);
    EXPECT_EQ(dane.OutBufSize(), 128u);
    dane.SetOutBufSize(10000);
    EXPECT_EQ(dane.OutBufSize(), 8192u);

    OpenOn(kCom2);
    dane.SetInBufSize(1024);
    dane.SetOutBufSize(1024);
    EXPECT_EQ(dane.InBufSize(), 8192u);
    EXPECT_EQ(dane.OutBufSize(), 8192u);
    EXPECT_EQ(backend.Record(kCom2).inQueueSize, 8192u);
}

TEST_F(DriverProperties, PacketSizeGrowsTheInputBufferAndIsCapped) {
    dane.SetPacketSize(4096);
    EXPECT_EQ(dane.PacketSize(), 4096);
    EXPECT_EQ(dane.InBufSize(), 4096u);
    EXPECT_EQ(dane.ReceiveBuffer().size(), 4096u);
    dane.SetInBufSize(200);  // the packet size is written again and grows it back
    EXPECT_EQ(dane.InBufSize(), 4096u);
    dane.SetPacketSize(20000);
    EXPECT_EQ(dane.PacketSize(), 8192);
    EXPECT_EQ(dane.InBufSize(), 8192u);
    dane.SetPacketSize(0);
    EXPECT_EQ(dane.PacketSize(), -1);
    dane.SetInBufSize(300);
    EXPECT_EQ(dane.InBufSize(), 300u);
}

TEST_F(DriverProperties, PollingDelayAndPacketTimeout) {
    dane.SetPacketTimeout(30);
    EXPECT_EQ(dane.PacketTimeout(), 70);
    dane.SetPacketTimeout(0);
    EXPECT_EQ(dane.PacketTimeout(), -1);
    dane.SetPacketTimeout(50);
    EXPECT_EQ(dane.PacketTimeout(), 50);
    dane.SetPollingDelay(2);
    EXPECT_EQ(dane.PollingDelay(), 5);
    dane.SetPacketTimeout(3);
    EXPECT_EQ(dane.PacketTimeout(), 7);
    dane.SetPollingDelay(100);  // the stored time-out is written again through its rule
    EXPECT_EQ(dane.PacketTimeout(), 140);
}

TEST(PacketTransmitTime, TenBitTimesPerByteRounded) {
    EXPECT_EQ(PacketTransmitTime(9600, 96), 100u);
    EXPECT_EQ(PacketTransmitTime(9600, 1), 1u);     // 1.04 ms
    EXPECT_EQ(PacketTransmitTime(115200, 69), 6u);  // 5.99 ms
    EXPECT_EQ(PacketTransmitTime(0, 100), 0u);
}

TEST_F(DriverProperties, MainWindowSettingsKeepDtrAndRtsLow) {
    dane.SetPort(pnCustom);
    dane.SetPortName(kCom2);
    dane.SetStopBits(sb2BITS);
    dane.SetHwFlow(hfNONE);
    dane.SetEnableDTROnOpen(false);
    OpenOn(kCom2);

    const auto& record = backend.Record(kCom2);
    ASSERT_EQ(record.settings.size(), 1u);
    LineSettings expected{};
    expected.length = 28;
    expected.baudRate = 9600;
    expected.binary = true;
    expected.ignoreBreak = true;
    expected.dtrControl = DtrControl::Disable;
    expected.rtsControl = RtsControl::Disable;
    expected.xonLim = expected.xoffLim = 512;
    expected.byteSize = 8;
    expected.parity = 0;
    expected.stopBits = 2;
    expected.xonChar = 0x11;
    expected.xoffChar = 0x13;
    EXPECT_EQ(record.settings[0].settings, expected);
    EXPECT_TRUE(record.lines.empty());

    dane.SetRTSLine(true);
    dane.SetRTSLine(false);
    ASSERT_EQ(record.lines.size(), 2u);
    EXPECT_EQ(record.lines[0].line, SimulatedBackend::Line::Rts);
    EXPECT_TRUE(record.lines[0].high);
    EXPECT_FALSE(record.lines[1].high);
}

TEST_F(DriverProperties, LineSettingsFollowEveryProperty) {
    dane.SetStopBits(sb2BITS);
    dane.SetParity(ptEVEN);
    dane.SetDataBits(db8BITS);
    LineSettings s = dane.BuildLineSettings();
    EXPECT_EQ(s.byteSize, 8);
    EXPECT_EQ(s.parity, 2);
    EXPECT_EQ(s.stopBits, 2);
    EXPECT_FALSE(s.parityCheck);
    EXPECT_EQ(s.dtrControl, DtrControl::Enable);
    EXPECT_EQ(s.rtsControl, RtsControl::Enable);
    EXPECT_FALSE(s.outxCtsFlow);

    dane.SetDataBits(db5BITS);
    dane.SetParity(ptSPACE);
    dane.SetHwFlow(hfRTSCTS);
    dane.SetSwFlow(sfXONXOFF);
    dane.SetInBufSize(8192);
    s = dane.BuildLineSettings();
    EXPECT_EQ(s.byteSize, 5);
    EXPECT_EQ(s.parity, 4);
    EXPECT_EQ(s.rtsControl, RtsControl::Handshake);
    EXPECT_TRUE(s.outxCtsFlow);
    EXPECT_TRUE(s.outX && s.inX);
    EXPECT_EQ(s.xonLim, 2048);
}

TEST_F(DriverProperties, LineSettingWritesApplyAtOnceWhileOpen) {
    OpenOn(kCom2);
    dane.SetBaudRateValue(56000);
    dane.SetParity(ptODD);
    dane.SetPacketMode(pmPass);  // not a line setting
    const auto& settings = backend.Record(kCom2).settings;
    ASSERT_EQ(settings.size(), 3u);
    EXPECT_EQ(settings[1].settings.baudRate, 56000u);
    EXPECT_EQ(settings[2].settings.parity, 1);
}

}  // namespace
