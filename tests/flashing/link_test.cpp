#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>

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

// The window's passes run the driver's poll, as its timer does there. Only the designed pass
// between steps may let it sweep the input queue; every pass the link makes itself holds it.
TEST(LinkPasses, OnlyTheDesignedPassLetsThePollTakeWaitingInput) {
    const struct {
        const char* pass;
        std::function<void(BootLink&)> make;
        int32_t left;  // bytes still waiting after it
    } cases[] = {
        {"the designed pass", [](BootLink& link) { link.ProcessMessages(); }, 0},
        {"a wait's pass", [](BootLink& link) { link.WaitPass(); }, 1},
        {"the paint-only passes of a pause", [](BootLink& link) { link.Sleep(100); }, 1},
    };
    for (const auto& c : cases) {
        LinkBench t;
        t.b.onPaintPass = [&t] { t.b.dane.PollTick(); };
        t.device.line_->Send(0x5A, t.b.clock.TickMs());
        c.make(t.link);
        EXPECT_EQ(t.b.dane.BytesWaiting(), c.left) << c.pass;
    }
}

// With a bound, the waits that have none of their own (the fixed-port server's greeting, the
// via-server probes) end after it as STOP ends them: port released, nothing more sent.
TEST(OpenWait, ABoundEndsTheWaitAsStopWould) {
    const struct {
        int kind;
        uint32_t earliestMs, latestMs;  // when the run ends: the bound after the wait began
    } cases[] = {
        {1, 3000, 3000 + 20},  // within a slice
        // after the reset pulse and the 8-second pause, within a probe cycle
        {3, 8600 + 3000, 8600 + 3000 + 300},
    };
    for (const auto& c : cases) {
        Bench b;
        b.ports.SetSilent(1);
        LinkBounds bounds;
        bounds.unboundedWaitMs = 3000;
        UpdateRun run(b, bounds);
        b.AtPass(1000, [&run] { run.Stop(); });  // long after the bound: a wait that ignores it
        const RunResult r = run.Start(static_cast<uint8_t>(c.kind));
        const uint32_t end = b.clock.TickMs();
        EXPECT_EQ(std::tuple(r.end, r.wait, b.stop, b.dane.IsPortOpen(), b.log.back(),
                             end >= c.earliestMs && end <= c.latestMs),
                  std::tuple(RunEnd::Stopped, WaitEnd::Expired, true, false,
                             std::string(kLinePortFree), true))
            << c.kind << " ended at " << end;
    }
}
