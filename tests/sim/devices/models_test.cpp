#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "BootLoader.h"
#include "CardModel.h"
#include "ServerModel.h"

namespace {

// Collects what a model sends, with the ticks, and whether it dropped the line.
struct Recorder : DeviceLine {
    void Send(uint8_t byte, uint32_t atTick) override { sent.push_back({byte, atTick}); }
    void Break(uint32_t atTick) override { breaks.push_back(atTick); }
    void Drop(uint32_t atTick) override { dropAt = atTick; }
    std::vector<uint8_t> Bytes() const {
        std::vector<uint8_t> out;
        for (auto& [b, t] : sent) out.push_back(b);
        return out;
    }
    std::vector<std::pair<uint8_t, uint32_t>> sent;
    int64_t dropAt = -1;
    std::vector<uint32_t> breaks;
};

std::vector<uint8_t> WriteFrame(uint16_t address, uint8_t fill) {
    std::vector<uint8_t> f{0xCC, 0x48, 0x40, uint8_t(address >> 8), uint8_t(address & 0xFF)};
    f.insert(f.end(), 69, fill);
    uint8_t check = 0;
    for (uint8_t b : f) check ^= b;
    f.push_back(check);
    return f;
}

BootLoader::Outcome FeedAll(BootLoader& boot, const std::vector<uint8_t>& frame) {
    BootLoader::Outcome out;
    for (uint8_t b : frame) out = boot.Feed(b);
    return out;
}

uint8_t ReplyOf(BootLoader& boot, const std::vector<uint8_t>& frame) {
    const BootLoader::Outcome out = FeedAll(boot, frame);
    EXPECT_EQ(out.kind, BootLoader::Outcome::Answer);
    return out.reply.empty() ? 0 : out.reply[0];
}

const std::vector<uint8_t> kBitLockOn{0xCC, 0x02, 0x20, 0x55, 0xBB};
const std::vector<uint8_t> kBitLockOff{0xCC, 0x02, 0x20, 0x22, 0xCC};
const std::vector<uint8_t> kErase{0xCC, 0x01, 0x10, 0xDD};
const std::vector<uint8_t> kCardInit{0xCC, 0x01, 0x01, 0xCC};
const std::vector<uint8_t> kReadNumber{0xCC, 0x01, 0x60, 0xAD};
const std::vector<uint8_t> kResetServer{0xCC, 0x01, 0x50, 0x9D};

}  // namespace

TEST(BootLoaderCore, ProgrammingNeedsBitLockAndAnErase) {
    BootLoader boot({});
    EXPECT_EQ(ReplyOf(boot, kErase), 0x94);
    EXPECT_EQ(ReplyOf(boot, WriteFrame(0, 1)), 0x94);
    EXPECT_EQ(ReplyOf(boot, kBitLockOn), 0x90);
    EXPECT_EQ(ReplyOf(boot, WriteFrame(0, 1)), 0x92);  // not erased
    EXPECT_EQ(ReplyOf(boot, kErase), 0x90);
    EXPECT_EQ(boot.Flash(), std::vector<uint8_t>(BootLoader::kFlashSize, 0xFF));
    EXPECT_EQ(ReplyOf(boot, WriteFrame(0x10, 7)), 0x90);
    EXPECT_EQ(ReplyOf(boot, WriteFrame(0x0DB0, 9)), 0x90);
    EXPECT_EQ(ReplyOf(boot, WriteFrame(0x0DC0, 9)), 0x92);  // past the last record
    EXPECT_EQ(ReplyOf(boot, WriteFrame(0x0011, 9)), 0x92);  // not a record address
    // Record n lands at 69 n.
    EXPECT_EQ(boot.Flash()[68], 0xFF);
    EXPECT_EQ(boot.Flash()[69], 7);
    EXPECT_EQ(boot.Flash()[137], 7);
    EXPECT_EQ(boot.Flash()[138], 0xFF);
    EXPECT_EQ(boot.Flash()[219 * 69], 9);
    EXPECT_EQ(boot.WriteAddresses(), (std::vector<uint16_t>{0x10, 0x0DB0}));
    EXPECT_EQ(ReplyOf(boot, kBitLockOff), 0x90);
    EXPECT_FALSE(boot.BitLock());
}

TEST(BootLoaderCore, ChecksumAndCommands) {
    BootLoader card({});
    std::vector<uint8_t> bad = kBitLockOn;
    bad.back() ^= 1;
    EXPECT_EQ(ReplyOf(card, bad), 0x91);
    EXPECT_FALSE(card.BitLock());
    EXPECT_EQ(ReplyOf(card, kCardInit), 0x90);
    EXPECT_EQ(ReplyOf(card, kResetServer), 0x92);  // a card is no server
    const BootLoader::Outcome number = FeedAll(card, kReadNumber);
    ASSERT_EQ(number.reply.size(), 3u);
    EXPECT_EQ(number.reply[1], 0x69);
    // Bytes outside a frame are left to the caller.
    EXPECT_EQ(card.Feed(0xD3).kind, BootLoader::Outcome::Stray);

    BootLoader::Options o;
    o.server = true;
    BootLoader server(o);
    EXPECT_EQ(ReplyOf(server, kCardInit), 0x92);
    EXPECT_EQ(FeedAll(server, kResetServer).kind, BootLoader::Outcome::Restart);
}

TEST(BootLoaderCore, ScriptedFaults) {
    BootLoader::Options o;
    o.faults = {{BootStep::Write, StepFault::Answer, 0x91, 2},
                {BootStep::Write, StepFault::DropLine, 0, 4, 30}};
    o.stepTimeMs[BootStep::Erase] = 45000;
    BootLoader boot(o);
    ReplyOf(boot, kBitLockOn);
    EXPECT_EQ(FeedAll(boot, kErase).delayMs, 45000u);
    EXPECT_EQ(ReplyOf(boot, WriteFrame(0x10, 1)), 0x90);
    EXPECT_EQ(ReplyOf(boot, WriteFrame(0x20, 1)), 0x91);
    EXPECT_EQ(ReplyOf(boot, WriteFrame(0x30, 1)), 0x90);
    const std::vector<uint8_t> frame = WriteFrame(0x40, 1);
    for (size_t i = 0; i < 29; ++i)
        EXPECT_EQ(boot.Feed(frame[i]).kind, BootLoader::Outcome::Pending);
    EXPECT_EQ(boot.Feed(frame[29]).kind, BootLoader::Outcome::Drop);
    EXPECT_TRUE(boot.Dead());
    EXPECT_EQ(boot.Feed(0xCC).kind, BootLoader::Outcome::Quiet);

    BootLoader::Options s;
    s.faults = {{BootStep::Erase, StepFault::Silent}};
    BootLoader silent(s);
    ReplyOf(silent, kBitLockOn);
    EXPECT_EQ(FeedAll(silent, kErase).kind, BootLoader::Outcome::Quiet);
    EXPECT_EQ(FeedAll(silent, kBitLockOff).kind, BootLoader::Outcome::Quiet);
}

TEST(ReaderCard, EchoesEveryByteAndAnswersResetWithItsAtr) {
    CardModel::Options o;
    o.inReader = true;
    o.atr = {0xAA, 0xAA, 0xB3, 0x3B};
    CardModel card(o);
    Recorder line;
    card.Attach(&line);
    card.RtsChanged(true, 100);
    EXPECT_TRUE(line.sent.empty());
    card.RtsChanged(false, 200);
    EXPECT_EQ(line.Bytes(), (std::vector<uint8_t>{0xAA, 0xAA, 0xB3, 0x3B}));
    EXPECT_EQ(line.sent[0].second, 220u);
    line.sent.clear();
    for (uint8_t b : kBitLockOn) card.Receive(b, 1000);
    // Five echoes, then the reply after the echo of the check byte.
    EXPECT_EQ(line.Bytes(), (std::vector<uint8_t>{0xCC, 0x02, 0x20, 0x55, 0xBB, 0x90}));
    EXPECT_GT(line.sent.back().second, 1000u);

    // On a line without RTS the card can answer when the port opens.
    CardModel::Options p = o;
    p.atrOnPowerOn = true;
    CardModel powered(p);
    Recorder line2;
    powered.Attach(&line2);
    powered.PowerOn(40);
    EXPECT_EQ(line2.Bytes(), o.atr);
    EXPECT_EQ(line2.sent[0].second, 60u);
}

TEST(ServerModelStates, GreetingAcknowledgementAndQuery) {
    ServerModel::Options o;
    o.greeting = {0xAA, 0xAA, 0xD3};
    ServerModel server(o);
    Recorder line;
    server.Attach(&line);
    server.PowerOn(0);  // no greeting at power-on unless asked for
    EXPECT_TRUE(line.sent.empty());
    server.RtsChanged(true, 500);
    server.RtsChanged(false, 600);
    EXPECT_EQ(line.Bytes(), (std::vector<uint8_t>{0xAA, 0xAA, 0xD3}));
    EXPECT_EQ(line.sent[0].second, 650u);
    server.Receive(0xD3, 700);
    EXPECT_TRUE(server.Acknowledged());
    EXPECT_EQ(server.CurrentState(), ServerModel::State::Boot);
    line.sent.clear();
    for (uint8_t b : kReadNumber) server.Receive(b, 2000);
    EXPECT_EQ(line.Bytes(), (std::vector<uint8_t>{0x60, 0x69, 0x90}));
    for (uint8_t b : kResetServer) server.Receive(b, 3000);
    EXPECT_EQ(server.CurrentState(), ServerModel::State::Program);
}

TEST(ServerModelStates, ProbeOpensThePassThroughOnceReady) {
    CardModel card({});
    ServerModel::Options o;
    o.probeBaud = 19200;
    ServerModel server(o, &card);
    Recorder line;
    server.Attach(&line);
    server.RtsChanged(true, 0);
    server.RtsChanged(false, 100);
    line.sent.clear();
    server.LineChanged({19200, 8, 0, 0});
    // Before the server has initialised the probe goes unanswered.
    server.Receive(0xAA, 1000);
    server.Receive(0xBB, 1000);
    EXPECT_TRUE(line.sent.empty());
    // At the wrong speed it is garbage.
    server.LineChanged({9600, 8, 0, 0});
    server.Receive(0xAA, 3000);
    server.Receive(0xBB, 3000);
    EXPECT_TRUE(line.sent.empty());
    server.LineChanged({19200, 8, 0, 0});
    server.Receive(0xAA, 3300);
    server.Receive(0xBB, 3300);
    EXPECT_EQ(line.Bytes(), std::vector<uint8_t>{0xAA});
    EXPECT_EQ(server.CurrentState(), ServerModel::State::PassThrough);
    line.sent.clear();
    for (uint8_t b : kCardInit) server.Receive(b, 4000);
    EXPECT_EQ(line.Bytes(), std::vector<uint8_t>{0x90});
    EXPECT_EQ(card.ReceivedBytes(), kCardInit);
}

TEST(ServerModelStates, UnansweredAcknowledgementLeavesTheBootLoader) {
    ServerModel server({});
    Recorder line;
    server.Attach(&line);
    server.RtsChanged(true, 0);
    server.RtsChanged(false, 100);
    server.Receive(0xD3, 100 + 50 + 500);  // after the boot window
    EXPECT_FALSE(server.Acknowledged());
    EXPECT_EQ(server.CurrentState(), ServerModel::State::Program);
}
