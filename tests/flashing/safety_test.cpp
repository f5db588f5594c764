// Runs under bench conditions: lines that drop at any step, STOP at any message pass, a server
// that talks before its reset, a card that holds its line low while it resets.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "Bench.h"
#include "BootLink.h"
#include "PortNames.h"

namespace {

const std::string kFree = "SerialPort wolny...";

Lines Join(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A device on COM1 for kind 1 (server greeting at power-on), 3 (card behind a server) or 4
// (card in a reader), whose models the test can reach.
struct Device {
    Device(Bench& b, int kind, BootLoader::Options boot, LineFault own = LineFault::None)
        : kind(kind) {
        if (kind == 4) {
            CardModel::Options c;
            c.inReader = true;
            c.boot = std::move(boot);
            c.atAnswerToReset = own;
            card = &b.Add<CardModel>(c);
            b.ports.Attach(1, *card);
            return;
        }
        ServerModel::Options s;
        if (kind == 1) {
            s.greetOnPowerOn = true;
            s.greetDelayMs = 300;
            s.boot = std::move(boot);
            s.atGreeting = own;
        } else {
            CardModel::Options c;
            c.boot = std::move(boot);
            card = &b.Add<CardModel>(c);
            s.atProbe = own;
        }
        server = &b.AddServer(s, card);
        b.ports.Attach(1, *server);
    }
    const BootLoader& Loader() const { return kind == 1 ? server->Boot() : card->Boot(); }
    void Replug() {
        if (server) server->Replugged();
        if (card) card->Replugged();
    }

    int kind;
    ServerModel* server = nullptr;
    CardModel* card = nullptr;
};

// The lines of a run of `kind` up to and including the step's line before the one that fails.
Lines EntryLines(int kind) {
    if (kind == 1)
        return {"Czekam na dane z serwera...", "BOOT >> v5", "Tryb Boot dla serwera aktywny.",
                "Aktualnie masz wgrane oprogramowanie nr: 105"};
    if (kind == 3)
        return {"Inicjalizacja serwera... Czekaj (max 10sek)", "Tryb Via Serwer aktywny."};
    return {"SerialPort załączony : \\\\.\\COM1", "Czekam na ATR...", "BOOT >> v5",
            "Tryb Boot dla karty aktywny.", "Aktualnie masz wgrane oprogramowanie nr: 105"};
}
Lines UpToBitLock(int kind) {
    Lines l = EntryLines(kind);
    if (kind == 3) l = Join(l, {"Inicjalizacja karty...", "Inicjalizacja karty : OK"});
    return l;
}
Lines UpToWrite(int kind) {
    return Join(UpToBitLock(kind), {"Bit_lock : OK", "Kasowanie flasha : OK", "Zapis flasha..."});
}

struct HangUp {
    const char* name;
    std::optional<StepFault> fault;  // a boot-loader step; none: the device's own step
    Lines before;                    // the log before the lost-line line
};

StepFault Drop(BootStep step, size_t afterBytes = StepFault::kWholeFrame, int record = -1) {
    StepFault f{step, StepFault::DropLine};
    f.afterBytes = afterBytes;
    f.record = record;
    return f;
}

std::vector<HangUp> HangUps(int kind) {
    std::vector<HangUp> cases;
    if (kind == 1) cases.push_back({"greeting", std::nullopt, {"Czekam na dane z serwera..."}});
    if (kind == 3)
        cases.push_back(
            {"activation", std::nullopt, {"Inicjalizacja serwera... Czekaj (max 10sek)"}});
    if (kind == 4) {
        const Lines entry = EntryLines(4);
        cases.push_back({"answer to reset", std::nullopt, Lines(entry.begin(), entry.begin() + 2)});
    }
    if (kind != 3) {
        Lines l = EntryLines(kind);
        l.pop_back();
        cases.push_back({"firmware number", Drop(BootStep::ReadFirmwareNumber), l});
    }
    if (kind == 3)
        cases.push_back({"card init", Drop(BootStep::CardInit),
                         Join(EntryLines(3), {"Inicjalizacja karty..."})});
    cases.push_back({"bitlock on", Drop(BootStep::BitLockOn), UpToBitLock(kind)});
    cases.push_back({"erase", Drop(BootStep::Erase), Join(UpToBitLock(kind), {"Bit_lock : OK"})});
    for (int record : {0, 17, 219}) {
        cases.push_back(
            {"inside a write frame", Drop(BootStep::Write, 40, record), UpToWrite(kind)});
        cases.push_back({"in a write reply", Drop(BootStep::Write, StepFault::kWholeFrame, record),
                         UpToWrite(kind)});
    }
    const char* written = kind == 3 ? "Zapisu flasha : OK" : "Zapis flasha : OK";
    if (kind == 1)
        cases.push_back(
            {"reset frame", Drop(BootStep::ResetServer, 2), Join(UpToWrite(1), {written})});
    else
        cases.push_back(
            {"bitlock off", Drop(BootStep::BitLockOff), Join(UpToWrite(kind), {written})});
    return cases;
}

uint32_t LastWrittenTick(Bench& b) {
    const auto& written = b.ports.Record(1).written;
    return written.empty() ? 0 : written.back().tick;
}

}  // namespace

// Wherever the line drops, the run ends at once with the lost-line line and the release, the
// port is closed, and once the device is back the next START programs it.
TEST(HangUp, EveryStepEndsTheRunAtOnceAndAReplugWorks) {
    for (int kind : {1, 3, 4}) {
        for (const HangUp& c : HangUps(kind)) {
            SCOPED_TRACE(testing::Message() << "kind " << kind << ": " << c.name << " "
                                            << (c.fault ? c.fault->record : -1));
            Bench b;
            BootLoader::Options boot;
            if (c.fault) boot.faults = {*c.fault};
            Device device(b, kind, boot, c.fault ? LineFault::None : LineFault::Drop);
            b.run.Start(kind);
            EXPECT_EQ(b.log, Join(c.before, {kLinePortLost, kFree}));
            EXPECT_FALSE(b.dane.IsPortOpen());
            EXPECT_FALSE(b.backend.IsOpen(ComPortName(1)));
            EXPECT_FALSE(b.run.Running());
            // From the drop to the end of the run: the drop comes with the last byte written,
            // or with the greeting that never came (300 ms after the open).
            const uint32_t opened = b.ports.Record(1).settings.front().tick;
            const uint32_t dropped = c.name == std::string("greeting") ? opened + 300
                                     : c.name == std::string("answer to reset")
                                         ? b.ports.Record(1).lines.back().tick + 20
                                         : LastWrittenTick(b);
            EXPECT_LE(b.clock.TickMs() - dropped, 1000u);
            if (c.name != std::string("answer to reset")) {
                EXPECT_LE(b.clock.TickMs() - dropped, 200u);
            }

            device.Replug();
            b.run.Start(kind);
            EXPECT_EQ(b.log.back(), kFree);
            EXPECT_EQ(device.Loader().Flash(), b.ExpectedFlash());
        }
    }
}

// The automatic search gives a port whose line drops up and goes on to the next.
TEST(HangUp, SearchGivesALostPortUpAndGoesOn) {
    Bench b;
    ServerModel::Options dropping;
    dropping.atGreeting = LineFault::Drop;
    b.ports.Attach(1, b.AddServer(dropping));
    ServerModel& server = b.AddServer({});
    b.ports.Attach(2, server);
    b.run.Start(2);
    EXPECT_EQ(Lines(b.log.begin(), b.log.begin() + 7),
              (Lines{"COM:1 +", "Czekam na dane z serwera...", "Reset...", "COM:2 +",
                     "Czekam na dane z serwera...", "Reset...", "BOOT >> v5"}));
    EXPECT_EQ(server.Boot().Flash(), b.ExpectedFlash());
    // COM1 was given up at the drop, not after its 50 cycles.
    const uint32_t com1Reset = b.ports.Record(1).lines[1].tick;
    EXPECT_LE(b.ports.Record(2).settings.front().tick - com1Reset, 100u);
}

namespace {

// What reached the devices and which ports were opened, summed over COM1 to COM20.
struct Traffic {
    size_t opens = 0, bytes = 0, lineChanges = 0;
    bool operator==(const Traffic&) const = default;
};
Traffic TrafficOf(Bench& b) {
    Traffic t;
    t.opens = b.backend.AbsentOpens().size();
    for (int n = 1; n <= SimPortSet::kPorts; ++n) {
        const auto& r = b.ports.Record(n);
        t.opens += r.opens + r.failedOpens;
        t.bytes += r.written.size();
        t.lineChanges += r.lines.size();
    }
    return t;
}

// A run of `kind` against COM1 silent, COM2 absent and a server (with a card) on COM3, with
// STOP pressed at message pass `pass`: after the STOP nothing is opened, sent or pulsed.
// Returns false when the run had fewer passes.
bool StopAtPass(int kind, int pass) {
    Bench b;
    b.ports.SetSilent(1);
    CardModel& card = b.Add<CardModel>(CardModel::Options{});
    ServerModel::Options o;
    if (kind == 5) o.probeBaud = 19200;
    o.greetOnPowerOn = kind == 1;  // the fixed-port server entry gives no reset pulse
    ServerModel& server = b.AddServer(o, &card);
    b.ports.Attach(3, server);
    b.portBox = "COM3";
    std::optional<Traffic> atStop;
    size_t linesAtStop = 0;
    b.AtPass(pass, [&] {
        b.run.Stop();
        atStop = TrafficOf(b);
        linesAtStop = b.log.size();
    });
    b.run.Start(kind);
    if (!atStop) return false;
    EXPECT_EQ(TrafficOf(b), *atStop) << "pass " << pass;
    EXPECT_FALSE(b.dane.IsPortOpen());
    EXPECT_FALSE(b.run.Running());
    // After the STOP's own line only the failure of the step it ended, if any; a write phase
    // whose last frame was answered before the STOP still says so.
    Lines after(b.log.begin() + static_cast<std::ptrdiff_t>(linesAtStop), b.log.end());
    if (!after.empty() && (after[0] == "Zapis flasha : OK" || after[0] == "Zapisu flasha : OK"))
        after.erase(after.begin());
    EXPECT_TRUE(after.empty() || after == (Lines{kLineStopped, kFree}) || after == Lines{kFree})
        << "pass " << pass << ": " << testing::PrintToString(after);
    return true;
}

}  // namespace

// Every pass of the search (after " -", " +", "Reset..." and in the wait cycles), of the
// entries' waits and activation loops and of the programming sequences.
TEST(StopIsFinal, AtEveryMessagePassOfEveryKind) {
    for (int kind : {2, 5, 1, 3}) {
        SCOPED_TRACE(kind);
        int pass = 1;
        // Every pass of the search and the entries (the first 120 for the automatic kinds),
        // then a sample of the programming sequences' passes.
        const int every = kind == 2 || kind == 5 ? 120 : 40;
        while (StopAtPass(kind, pass)) pass += pass < every ? 1 : 97;
        EXPECT_GT(pass, 200);
    }
}

// A server whose own program talks until it is reset is still found by the search.
TEST(LineDetails, ChatterBeforeTheResetDoesNotHideTheGreeting) {
    Bench b;
    ServerModel::Options o;
    o.chatter.assign(60, 0x4B);
    ServerModel& server = b.AddServer(o);
    b.ports.Attach(1, server);
    b.run.Start(2);
    EXPECT_EQ(Lines(b.log.begin(), b.log.begin() + 4),
              (Lines{"COM:1 +", "Czekam na dane z serwera...", "Reset...", "BOOT >> v5"}));
    EXPECT_EQ(server.Boot().Flash(), b.ExpectedFlash());
}

// A card that holds its line low while it resets gives the reader entry no 0x00 before its
// answer to reset.
TEST(LineDetails, ABreakInTheCardsResetIsNoByte) {
    Bench b;
    CardModel::Options o;
    o.inReader = true;
    o.breakInReset = true;
    CardModel& card = b.Add<CardModel>(o);
    b.ports.Attach(1, card);
    b.run.Start(4);
    EXPECT_EQ(Lines(b.log.begin(), b.log.begin() + 3),
              (Lines{"SerialPort załączony : \\\\.\\COM1", "Czekam na ATR...", "BOOT >> v5"}));
    EXPECT_EQ(card.Boot().Flash(), b.ExpectedFlash());
    EXPECT_TRUE(b.ports.Record(1).settings.back().settings.ignoreBreak);
}
