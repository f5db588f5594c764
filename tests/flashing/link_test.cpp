#include <gtest/gtest.h>

#include <functional>

#include "Bench.h"
#include "BootLink.h"
#include "FirmwareImage.h"

TEST(BoundedWait, ExpiresAfterItsBoundWhileTheWindowKeepsWorking) {
    LinkBench t;
    const uint32_t start = t.b.clock.TickMs();
    const Reply reply = t.link.AwaitReply();
    EXPECT_EQ(reply.end, WaitEnd::Expired);
    EXPECT_EQ(t.b.clock.TickMs() - start, 5000u);
    EXPECT_EQ(t.b.passes, 5000 / 20);
    const Reply erase = t.link.AwaitReply(t.link.Bounds().eraseMs);
    EXPECT_EQ(erase.end, WaitEnd::Expired);
    EXPECT_EQ(t.b.clock.TickMs() - start, 65000u);
}

TEST(BoundedWait, EndsOnStopAndOnAClosedPort) {
    {
        LinkBench t;
        t.b.AtPass(3, [&] { t.b.run.Stop(); });
        EXPECT_EQ(t.link.AwaitReply().end, WaitEnd::Stopped);
        EXPECT_EQ(t.b.log, Lines{"SerialPort wolny..."});
        EXPECT_LE(t.b.clock.TickMs(), 80u);
    }
    {
        LinkBench t;
        t.b.AtPass(2, [&] { t.b.dane.ClosePort(); });
        EXPECT_EQ(t.link.AwaitReply().end, WaitEnd::Closed);
        t.link.DrainInput();  // a closed port has nothing to drain and ends at once
        EXPECT_LE(t.b.clock.TickMs(), 60u);
    }
    {
        // A wait without time limit ends only on STOP.
        LinkBench t;
        t.b.AtPass(1000, [&] { t.b.run.Stop(); });
        EXPECT_EQ(t.link.AwaitReply(kNoTimeLimit).end, WaitEnd::Stopped);
        EXPECT_EQ(t.b.clock.TickMs(), 1000u * 20u);
    }
}

TEST(BoundedWait, TheDriversPollCannotTakeTheAwaitedByte) {
    LinkBench t;
    t.b.passCostMs = 7;  // the reply arrives while the window is busy
    t.device.onByte = [](SimLine& line, uint8_t) { line.Send(0x90, line.Now() + 25); };
    for (int i = 0; i < 20; ++i) {
        t.link.SendFrame(kFrameEraseFlash);
        const Reply reply = t.link.AwaitReply();
        ASSERT_TRUE(reply.Ok()) << i;
    }
    EXPECT_GT(t.b.passes, 0);
}

TEST(EchoingLink, EachByteCostsOneEchoThenTheReply) {
    LinkBench t;
    size_t frameBytes = 0;
    size_t frameLength = 0;
    // Echo every byte; after the last byte of a frame answer 0x90.
    t.device.onByte = [&](SimLine& line, uint8_t b) {
        line.Send(b, line.Now());
        ++frameBytes;
        if (frameBytes == 2) frameLength = b + 3u;
        if (frameBytes == frameLength) {
            line.Send(0x90, line.Now() + 1);
            frameBytes = 0;
        }
    };
    EXPECT_TRUE(t.link.SendFrameEchoed(kFrameBitLockOn).Got());
    EXPECT_EQ(t.b.dane.BytesWaiting(), 0);
    EXPECT_TRUE(t.link.AwaitReply().Ok());

    FirmwareImage image;
    image.bytes[0] = 0x90;  // an echo that looks like the reply
    t.link.SendFrame(BuildWriteFrame(image, 0));
    EXPECT_EQ(t.link.SkipEchoes(74).value, 0x00);
    EXPECT_EQ(t.link.SkipEchoes(1).value, BuildWriteFrame(image, 0)[74]);
    EXPECT_TRUE(t.link.AwaitReply().Ok());
    EXPECT_FALSE(t.b.dane.WaitForInput(100));
}

TEST(LinkPrimitives, DrainInput) {
    LinkBench t;
    uint32_t start = t.b.clock.TickMs();
    t.link.DrainInput();
    EXPECT_GE(t.b.clock.TickMs() - start, 200u);  // the driver's input time-out

    t.device.line_->Send(std::vector<uint8_t>{1, 2, 3, 4, 5}, t.b.clock.TickMs());
    start = t.b.clock.TickMs();
    t.link.DrainInput();
    EXPECT_EQ(t.b.dane.BytesWaiting(), 0);
    EXPECT_LT(t.b.clock.TickMs() - start, 200u);
}

TEST(LinkPrimitives, ReleaseLogsEvenWhenClosedAndResetPulses) {
    LinkBench t;
    t.link.ReleasePort();
    t.link.ReleasePort();
    EXPECT_EQ(t.b.log, (Lines{"SerialPort wolny...", "SerialPort wolny..."}));
    EXPECT_FALSE(t.b.dane.IsPortOpen());

    ASSERT_TRUE(t.b.dane.OpenPort());
    const uint32_t start = t.b.clock.TickMs();
    t.link.ResetAndReleasePort();
    const auto& lines = t.b.backend.Record("\\\\.\\COM1").lines;
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(lines[0].high);
    EXPECT_EQ(lines[0].tick, start);
    EXPECT_EQ(lines[1].tick, start + 100);
    EXPECT_EQ(t.b.clock.TickMs(), start + 200);
    EXPECT_FALSE(t.b.dane.IsPortOpen());
    EXPECT_EQ(t.b.log.size(), 3u);
}
