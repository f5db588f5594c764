#include <gtest/gtest.h>

#include <algorithm>

#include "Bench.h"
#include "BootLink.h"

namespace {

// The longest stretch between `from`, the passes of either kind and `to`.
uint32_t LongestGap(const Bench& b, uint32_t from, uint32_t to) {
    std::vector<uint32_t> ticks = b.passTicks;
    ticks.insert(ticks.end(), b.paintTicks.begin(), b.paintTicks.end());
    ticks.push_back(from);
    ticks.push_back(to);
    std::sort(ticks.begin(), ticks.end());
    uint32_t longest = 0;
    for (size_t i = 1; i < ticks.size(); ++i) longest = std::max(longest, ticks[i] - ticks[i - 1]);
    return longest;
}

}  // namespace

TEST(PaintOnlyPass, LongPausesPaintInSlicesAndKeepTheirLength) {
    LinkBench t;
    uint32_t start = t.b.clock.TickMs();
    t.link.Sleep(8000);
    EXPECT_EQ(t.b.clock.TickMs() - start, 8000u);
    EXPECT_EQ(t.b.paintPasses, 8000 / 20);
    EXPECT_LE(LongestGap(t.b, start, t.b.clock.TickMs()), 20u);
    EXPECT_EQ(t.b.passes, 0);  // no pass that would let user input act

    // An odd length ends exactly, without a pass after its last slice.
    start = t.b.clock.TickMs();
    t.b.paintPasses = 0;
    t.link.Sleep(1100);
    EXPECT_EQ(t.b.clock.TickMs() - start, 1100u);
    EXPECT_EQ(t.b.paintPasses, 55);

    // The short pauses of the write loops stay plain sleeps.
    t.b.paintPasses = 0;
    start = t.b.clock.TickMs();
    t.link.Sleep(1);
    t.link.Sleep(10);
    t.link.Sleep(20);
    EXPECT_EQ(t.b.clock.TickMs() - start, 31u);
    EXPECT_EQ(t.b.paintPasses, 0);
}

TEST(PaintOnlyPass, TimedReadsPaintWhileNothingComes) {
    LinkBench t;
    Byte b = 0;
    uint32_t start = t.b.clock.TickMs();
    EXPECT_FALSE(t.link.ReadByte(b));
    EXPECT_EQ(t.b.clock.TickMs() - start, 200u);  // the driver's input time-out
    EXPECT_LE(LongestGap(t.b, start, t.b.clock.TickMs()), 20u);

    // A byte within the time-out is read when it comes, and it was not swept by a pass.
    start = t.b.clock.TickMs();
    t.device.line_->Send(0x5A, start + 130);
    EXPECT_TRUE(t.link.ReadByte(b));
    EXPECT_EQ(b, 0x5A);
    EXPECT_EQ(t.b.clock.TickMs() - start, 130u);
    EXPECT_EQ(t.b.passes, 0);

    // A closing window ends the read at its next slice.
    t.b.onPaintPass = [&] { t.b.closing = true; };
    start = t.b.clock.TickMs();
    EXPECT_FALSE(t.link.ReadByte(b));
    EXPECT_LE(t.b.clock.TickMs() - start, 40u);
}

TEST(PaintOnlyPass, AChainOfQuickWaitsPaintsToo) {
    LinkBench t;
    // 75 echoes a millisecond apart: no single wait is long, the chain is.
    uint32_t sent = 0;
    t.device.onByte = [&](SimLine& line, uint8_t b) { line.Send(b, line.Now() + ++sent); };
    const uint32_t start = t.b.clock.TickMs();
    for (int k = 0; k < 75; ++k) t.b.dane.WriteByte(0x11);
    EXPECT_TRUE(t.link.SkipEchoes(75).Got());
    EXPECT_EQ(t.b.clock.TickMs() - start, 75u);
    EXPECT_LE(LongestGap(t.b, start, t.b.clock.TickMs()), 21u);
    EXPECT_EQ(t.b.passes, 0);
}

// Every kind, start to end: the window gets a pass of one kind or the other at least every
// 50 ms, though the 8-second wait, the handshake's pause, the erase and the writes.
TEST(PaintOnlyPass, EveryKindPassesAtLeastEvery50Ms) {
    for (int kind = 1; kind <= 5; ++kind) {
        SCOPED_TRACE(kind);
        Bench b;
        CardModel::Options cardOptions;
        cardOptions.inReader = kind == 4;
        CardModel& card = b.Add<CardModel>(cardOptions);
        ServerModel::Options serverOptions;
        serverOptions.greetOnPowerOn = kind == 1;
        if (kind == 5) serverOptions.probeBaud = 19200;
        ServerModel& server = b.AddServer(serverOptions, &card);
        if (kind == 4) {
            b.ports.Attach(1, card);
        } else {
            b.ports.Attach(1, server);
        }
        const uint32_t start = b.clock.TickMs();
        b.run.Start(static_cast<uint8_t>(kind));
        ASSERT_FALSE(b.log.empty());
        EXPECT_EQ(b.log.back(), "SerialPort wolny...");
        EXPECT_EQ(b.progress, 3520);
        EXPECT_LE(LongestGap(b, start, b.clock.TickMs()), 50u);
    }
}

// A close during the 8-second wait of the via-server entry: the run ends in that slice, the
// port released, and nothing more goes to the device.
TEST(PaintOnlyPass, ClosingDuringAPauseEndsTheRunAtOnce) {
    Bench b;
    ServerModel::Options options;
    options.probeAnswer = std::nullopt;
    b.ports.Attach(1, b.AddServer(options, &b.Add<CardModel>(CardModel::Options{})));
    uint32_t closedAt = 0;
    b.onPaintPass = [&] {
        if (b.paintPasses != 100 || b.closing) return;
        closedAt = b.clock.TickMs();
        b.closing = true;
        b.run.Abandon();
    };
    b.run.Start(3);
    EXPECT_EQ(b.log, (Lines{"Inicjalizacja serwera... Czekaj (max 10sek)", "SerialPort wolny...",
                            "SerialPort wolny..."}));
    EXPECT_GT(closedAt, 600u);  // inside the 8-second wait
    EXPECT_LE(b.clock.TickMs() - closedAt, 20u);
    EXPECT_TRUE(b.ports.Record(1).written.empty());
    EXPECT_FALSE(b.dane.IsPortOpen());
    EXPECT_FALSE(b.run.Running());
}
