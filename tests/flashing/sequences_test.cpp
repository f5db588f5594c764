#include <gtest/gtest.h>

#include <stdexcept>

#include "Bench.h"
#include "BootLink.h"
#include "FirmwareImage.h"

namespace {

const std::string kFree = "SerialPort wolny...";

// One device set-up per sequence: kind 1 server (FlashServer), kind 3 card behind a server
// (FlashCardViaServer), kind 4 card in a reader (FlashCardDirect). The boot loader under
// test carries `boot`.
struct Rig {
    explicit Rig(int kind, BootLoader::Options boot = {}) : kind(kind) {
        if (kind == 1) {
            ServerModel::Options o;
            o.greetOnPowerOn = true;
            o.boot = std::move(boot);
            ServerModel& server = b.AddServer(o);
            loader = &server.Boot();
            b.ports.Attach(1, server);
            entryLines = 4;
        } else if (kind == 3) {
            CardModel::Options c;
            c.boot = std::move(boot);
            CardModel& card = b.Add<CardModel>(c);
            ServerModel& server = b.AddServer({}, &card);
            loader = &card.Boot();
            b.ports.Attach(1, server);
            entryLines = 2;
        } else {
            CardModel::Options c;
            c.inReader = true;
            c.boot = std::move(boot);
            CardModel& card = b.Add<CardModel>(c);
            loader = &card.Boot();
            b.ports.Attach(1, card);
            entryLines = 5;
        }
    }
    // The sequence's own lines (after those of the boot-mode entry).
    Lines SequenceLines() const {
        return Lines(b.log.begin() + std::min(entryLines, b.log.size()), b.log.end());
    }
    // The lines of the sequence up to and including "Bit_lock : OK".
    Lines UpToBitLock() const {
        if (kind == 3)
            return {"Inicjalizacja karty...", "Inicjalizacja karty : OK", "Bit_lock : OK"};
        return {"Bit_lock : OK"};
    }
    Lines UpToWrite() const {
        Lines l = UpToBitLock();
        l.push_back("Kasowanie flasha : OK");
        l.push_back("Zapis flasha...");
        return l;
    }
    int RtsPulses() const {
        int pulses = 0;
        for (const auto& l : b.ports.Record(1).lines)
            if (l.line == SimulatedBackend::Line::Rts && l.high) ++pulses;
        return pulses;
    }
    int EntryRtsPulses() const { return kind == 1 ? 0 : 1; }
    uint32_t LastWriteTick() const { return b.ports.Record(1).written.back().tick; }

    int kind;
    Bench b;
    const BootLoader* loader = nullptr;
    size_t entryLines = 0;
};

BootLoader::Options Faults(std::vector<StepFault> faults) {
    BootLoader::Options o;
    o.faults = std::move(faults);
    return o;
}

Lines Plus(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

TEST(FlashServerWire, WholeRunPutsExactlyTheseBytesOnTheLine) {
    Rig r(1);
    r.b.run.Start(1);
    std::vector<uint8_t> expected{0xD3};
    auto add = [&](std::span<const Byte> s) {
        expected.insert(expected.end(), s.begin(), s.end());
    };
    add(kFrameReadFirmwareNumber);
    add(kFrameBitLockOn);
    add(kFrameEraseFlash);
    const FirmwareImage image = LoadFirmwareImage(r.b.BaseDirectory(), "PELTA", "105.bin");
    for (size_t n = 0; n < kRecordCount; ++n) add(BuildWriteFrame(image, n));
    add(kFrameResetServer);
    EXPECT_EQ(r.b.Written(1), expected);
    std::vector<uint16_t> addresses;
    for (size_t n = 0; n < kRecordCount; ++n) addresses.push_back(RecordAddress(n));
    EXPECT_EQ(r.loader->WriteAddresses(), addresses);
}

TEST(Sequences, EraseFailureCodes) {
    const std::pair<uint8_t, Lines> cases[] = {
        {0x91, {"Bład kasowanie flasha : CRC", kFree}},
        {0x92, {"Bład kasowanie flasha : PROCES", kFree}},
        {0x94, {"Bład kasowanie flasha : LOCK", kFree}},
        {0x93, {kFree}},
    };
    for (int kind : {1, 3, 4}) {
        for (const auto& [code, lines] : cases) {
            SCOPED_TRACE(testing::Message() << "kind " << kind << " code " << int(code));
            Rig r(kind, Faults({{BootStep::Erase, StepFault::Answer, code}}));
            r.b.run.Start(kind);
            EXPECT_EQ(r.SequenceLines(), Plus(r.UpToBitLock(), lines));
            EXPECT_FALSE(r.b.dane.IsPortOpen());
            EXPECT_EQ(r.RtsPulses(), r.EntryRtsPulses());  // none of the sequence's own
        }
    }
}

TEST(Sequences, BitLockOnFailure) {
    for (int kind : {1, 3, 4}) {
        SCOPED_TRACE(kind);
        Rig r(kind, Faults({{BootStep::BitLockOn, StepFault::Answer, 0x92}}));
        r.b.run.Start(kind);
        Lines expected = r.UpToBitLock();
        expected.back() = "Błąd bit_lock : 92";
        EXPECT_EQ(r.SequenceLines(), Plus(expected, {kFree}));
    }
}

TEST(Sequences, WriteFrameFailures) {
    struct Case {
        int kind;
        int record;
        uint8_t code;
        Lines tail;
        int progress;
    };
    const Case cases[] = {
        {1, 0, 0x91, {"Błąd zapisu flasha : CRC", kFree}, 0},
        {1, 5, 0x92, {"Błąd zapisu flasha : PROCES", kFree}, 80},
        {1, 5, 0x94, {kFree}, 80},
        {3, 17, 0x91, {"Błąd zapisu flasha : CRC", "91", kFree}, 272},
        {3, 2, 0x93, {"93", kFree}, 32},
        {4, 9, 0x92, {"Błąd zapisu flasha : PROCES", kFree, "92"}, 144},
        {4, 219, 0x94, {kFree, "94"}, 3504},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "kind " << c.kind << " record " << c.record);
        Rig r(c.kind, Faults({{BootStep::Write, StepFault::Answer, c.code, c.record}}));
        r.b.run.Start(c.kind);
        EXPECT_EQ(r.SequenceLines(), Plus(r.UpToWrite(), c.tail));
        EXPECT_EQ(r.b.progressMax, 3520);
        EXPECT_EQ(r.b.progress, c.progress);
        EXPECT_EQ(r.loader->WriteAddresses().size(), size_t(c.record));
        EXPECT_FALSE(r.b.dane.IsPortOpen());
    }
}

TEST(Sequences, ProgressUpdatesPerFrame) {
    for (auto [kind, perFrame] : {std::pair{1, 1}, std::pair{3, 32}, std::pair{4, 32}}) {
        SCOPED_TRACE(kind);
        Rig r(kind);
        r.b.run.Start(kind);
        EXPECT_EQ(r.b.progressUpdates, 220 * perFrame + 1);
        EXPECT_EQ(r.b.progress, 3520);
    }
}

TEST(Sequences, CardInitFailurePulsesRtsBeforeRelease) {
    Rig r(3, Faults({{BootStep::CardInit, StepFault::Answer, 0x00}}));
    r.b.run.Start(3);
    EXPECT_EQ(r.SequenceLines(),
              (Lines{"Inicjalizacja karty...", "Błąd Inicjalizacji karty :00", kFree}));
    const auto& lines = r.b.ports.Record(1).lines;
    // The last two RTS changes: up right after the failing reply, down 100 ms later; the
    // port is closed 100 ms after that.
    std::vector<SimulatedBackend::LineEntry> rts;
    for (const auto& l : lines)
        if (l.line == SimulatedBackend::Line::Rts) rts.push_back(l);
    ASSERT_GE(rts.size(), 2u);
    const auto up = rts[rts.size() - 2], down = rts.back();
    EXPECT_TRUE(up.high);
    EXPECT_FALSE(down.high);
    EXPECT_GT(up.tick, r.LastWriteTick());
    EXPECT_EQ(down.tick - up.tick, 100u);
    EXPECT_EQ(r.b.clock.TickMs() - down.tick, 100u);
    EXPECT_FALSE(r.b.dane.IsPortOpen());
}

TEST(Sequences, BitLockOffFailureStillReleases) {
    for (int kind : {3, 4}) {
        SCOPED_TRACE(kind);
        Rig r(kind, Faults({{BootStep::BitLockOff, StepFault::Answer, 0x91}}));
        r.b.run.Start(kind);
        const Lines tail(r.b.log.end() - 2, r.b.log.end());
        EXPECT_EQ(tail, (Lines{"Błąd bit_lock OFF: 91", kFree}));
        EXPECT_EQ(r.loader->Flash(), r.b.ExpectedFlash());
        EXPECT_FALSE(r.b.dane.IsPortOpen());
    }
}

TEST(Sequences, SilentDeviceEndsWithinTheBound) {
    const BootStep steps[] = {BootStep::CardInit, BootStep::BitLockOn, BootStep::Erase,
                              BootStep::Write, BootStep::BitLockOff};
    for (int kind : {1, 3, 4}) {
        for (BootStep step : steps) {
            if (step == BootStep::CardInit && kind != 3) continue;
            if (step == BootStep::BitLockOff && kind == 1) continue;
            SCOPED_TRACE(testing::Message() << "kind " << kind << " step " << int(step));
            Rig r(kind, Faults({{step, StepFault::Silent, 0, 100}}));
            r.b.run.Start(kind);
            const Lines tail(r.b.log.end() - 2, r.b.log.end());
            EXPECT_EQ(tail, (Lines{kLineNoAnswer, kFree}));
            EXPECT_FALSE(r.b.dane.IsPortOpen());
            const uint32_t bound = step == BootStep::Erase ? 60000 : 5000;
            const uint32_t waited = r.b.clock.TickMs() - r.LastWriteTick();
            EXPECT_GE(waited, bound);
            EXPECT_LE(waited, bound + 300);
        }
    }
}

TEST(Sequences, LongEraseWithinItsBoundSucceeds) {
    BootLoader::Options boot;
    boot.stepTimeMs[BootStep::Erase] = 45000;
    Rig r(1, boot);
    r.b.run.Start(1);
    EXPECT_EQ(r.b.log.back(), kFree);
    EXPECT_EQ(r.b.log[r.b.log.size() - 2], "Reset serwera : OK");
    EXPECT_EQ(r.loader->Flash(), r.b.ExpectedFlash());

    boot.stepTimeMs[BootStep::Erase] = 70000;
    Rig slow(1, boot);
    slow.b.run.Start(1);
    EXPECT_EQ(slow.SequenceLines(), (Lines{"Bit_lock : OK", kLineNoAnswer, kFree}));
    EXPECT_EQ(slow.b.clock.TickMs() - slow.LastWriteTick(), 60000u);
}

TEST(Sequences, LineDroppedMidFrameEndsWithinTheBound) {
    for (int kind : {1, 3, 4}) {
        SCOPED_TRACE(kind);
        StepFault drop{BootStep::Write, StepFault::DropLine, 0, 3};
        drop.afterBytes = 40;
        Rig r(kind, Faults({drop}));
        r.b.run.Start(kind);
        EXPECT_EQ(r.SequenceLines(), Plus(r.UpToWrite(), {kLinePortLost, kFree}));
        EXPECT_FALSE(r.b.dane.IsPortOpen());
        EXPECT_EQ(r.loader->WriteAddresses().size(), 3u);
    }
}

// STOP while the boot loader is erasing: the wait ends at once, and no byte follows.
TEST(Sequences, StopDuringTheEraseSendsNothingMore) {
    for (int kind : {1, 3, 4}) {
        SCOPED_TRACE(kind);
        BootLoader::Options boot;
        boot.stepTimeMs[BootStep::Erase] = 3000;
        Rig r(kind, boot);
        size_t writtenAtStop = 0;
        uint32_t tickAtStop = 0;
        r.b.When(
            [&] {
                return !r.loader->Steps().empty() && r.loader->Steps().back() == BootStep::Erase;
            },
            [&] {
                r.b.run.Stop();
                writtenAtStop = r.b.ports.Record(1).written.size();
                tickAtStop = r.b.clock.TickMs();
            });
        r.b.run.Start(kind);
        EXPECT_EQ(r.SequenceLines(), Plus(r.UpToBitLock(), {kFree, kLineStopped, kFree}));
        EXPECT_EQ(r.b.ports.Record(1).written.size(), writtenAtStop);
        EXPECT_LE(r.b.clock.TickMs() - tickAtStop, 50u);
        EXPECT_TRUE(r.loader->WriteAddresses().empty());
    }
}

TEST(Sequences, StopDuringWritePhaseEndsWithinAFrame) {
    for (int kind : {1, 3, 4}) {
        SCOPED_TRACE(kind);
        Rig r(kind);
        size_t framesAtStop = 0;
        uint32_t tickAtStop = 0;
        r.b.When([&] { return r.b.progress >= 1600; },
                 [&] {
                     framesAtStop = r.loader->WriteAddresses().size();
                     tickAtStop = r.b.clock.TickMs();
                     r.b.run.Stop();
                 });
        r.b.run.Start(kind);
        EXPECT_EQ(r.SequenceLines(), Plus(r.UpToWrite(), {kFree, kLineStopped, kFree}));
        EXPECT_LE(r.loader->WriteAddresses().size(), framesAtStop + 1);
        EXPECT_LE(r.b.clock.TickMs() - tickAtStop, 50u);
        EXPECT_FALSE(r.b.run.Running());
    }
}

TEST(Sequences, PortClosedUnderTheSequenceEndsIt) {
    Rig r(3);
    r.b.When([&] { return r.b.progress >= 800; }, [&] { r.b.dane.ClosePort(); });
    r.b.run.Start(3);
    EXPECT_EQ(r.SequenceLines(), Plus(r.UpToWrite(), {kLinePortClosed, kFree}));
}

TEST(Sequences, UnloadableFileEndsTheRunBeforeAnyByteWithThePortOpen) {
    const std::pair<std::string, std::string> cases[] = {
        {"missing.bin", "File not found"},
        {"dir.bin", "File access denied"},
        {"empty.bin", "Read beyond end of file"},
        {"short.bin", kLineWrongFileSize},
    };
    for (int kind : {1, 3, 4}) {
        for (const auto& [entry, text] : cases) {
            SCOPED_TRACE(testing::Message() << "kind " << kind << " " << entry);
            Rig r(kind);
            std::filesystem::create_directories(r.b.base / "PELTA" / "dir.bin");
            r.b.WriteFirmware("empty.bin", 0);
            r.b.WriteFirmware("short.bin", 15179);
            r.b.selected = entry;
            const RunResult result = r.b.run.Start(kind);
            EXPECT_EQ(result.end, RunEnd::Untouched);
            EXPECT_EQ(result.step, RunStep::Load);
            EXPECT_EQ(result.loadError, text);
            EXPECT_EQ(r.b.log.size(), r.entryLines);
            EXPECT_TRUE(r.b.dane.IsPortOpen());
            EXPECT_FALSE(r.b.run.Running());
            // Only the entry's firmware-number query reached the boot loader.
            EXPECT_EQ(r.loader->Steps().size(), kind == 3 ? 0u : 1u);
        }
    }
}
