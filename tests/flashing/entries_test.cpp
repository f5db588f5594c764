#include <grp.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "AsNobody.h"
#include "Bench.h"
#include "BootLink.h"
#include "PortNames.h"
#include "PortSearch.h"
#include "PosixBackend.h"

namespace {

const std::string kFree = "SerialPort wolny...";
const std::string kCom1 = "\\\\.\\COM1";
const std::string kViaServerInit = "Inicjalizacja serwera... Czekaj (max 10sek)";

ServerModel::Options FixedPortServer(std::vector<uint8_t> greeting = {0xAA, 0xAA, 0xD3}) {
    ServerModel::Options o;
    o.greetOnPowerOn = true;
    o.greetDelayMs = 300;
    o.greeting = std::move(greeting);
    return o;
}

CardModel::Options ReaderCard(std::vector<uint8_t> atr) {
    CardModel::Options o;
    o.inReader = true;
    o.atr = std::move(atr);
    return o;
}

Lines Head(const Lines& log, size_t n) {
    return Lines(log.begin(), log.begin() + std::min(n, log.size()));
}

Lines NoServerLines() {
    Lines l;
    for (int n = 1; n <= 20; ++n) l.push_back("COM:" + std::to_string(n) + " -");
    l.push_back("Nie wykryto serwera !!!");
    return l;
}

}  // namespace

TEST(PortSelection, PortBoxTexts) {
    const std::pair<const char*, const char*> named[] = {
        {"COM3", "\\\\.\\COM3"},   {"COM10", "\\\\.\\COM10"},        {"COM11", "\\\\.\\COM11"},
        {"COM20", "\\\\.\\COM20"}, {"/dev/ttyUSB0", "/dev/ttyUSB0"},
    };
    for (const auto& [text, name] : named) EXPECT_EQ(PortNameForBox(text), name) << text;
    Bench b;
    b.dane.SetPortName("\\\\.\\COM7");
    for (const char* text :
         {"Auto", "com3", "COM21", "COM0", "COM011", "COM1 ", " COM1", "", "xyz", "dev/ttyS0"}) {
        EXPECT_EQ(PortNameForBox(text), std::nullopt) << text;
        EXPECT_FALSE(SelectFixedPort(b.dane, text));
        EXPECT_EQ(b.dane.PortName(), "\\\\.\\COM7") << text;
    }
}

// A text that names no port never opens the one used before: the box, nothing opened.
TEST(PortSelection, TextNamingNoPortShowsTheBoxAndOpensNothing) {
    for (int kind : {1, 3, 4}) {
        for (const char* text : {"com3", "xyz", "Auto"}) {
            SCOPED_TRACE(testing::Message() << kind << " " << text);
            Bench b;
            b.ports.SetSilent(2);  // the driver's starting PortName
            b.ports.SetSilent(3);
            b.portBox = text;
            b.run.Start(kind);
            EXPECT_EQ(b.messages, (Lines{"Błąd otwarcia SerialPort..."}));
            EXPECT_TRUE(b.log.empty());
            EXPECT_EQ(b.ports.Record(2).opens + b.ports.Record(3).opens, 0u);
            EXPECT_TRUE(b.backend.AbsentOpens().empty());
        }
    }
}

TEST(PortSelection, Com11AndADevicePathOpenWhatTheyName) {
    Bench b;
    ServerModel::Options o;
    o.greetOnPowerOn = true;
    ServerModel& server = b.AddServer(o);
    b.ports.Attach(11, server);
    b.portBox = "COM11";
    b.run.Start(1);
    EXPECT_EQ(server.Boot().Flash(), b.ExpectedFlash());

    ScriptDevice device;
    b.backend.AttachDevice("/dev/ttyUSB0", device);
    b.portBox = "/dev/ttyUSB0";
    b.run.Start(4);
    EXPECT_EQ(b.backend.Record("/dev/ttyUSB0").opens, 1u);
    EXPECT_EQ(b.log.front(), "SerialPort załączony : /dev/ttyUSB0");
}

TEST(PortSelection, FixedPortThatDoesNotOpenShowsTheMessageOnly) {
    for (int kind : {1, 3, 4}) {
        SCOPED_TRACE(kind);
        Bench b;
        b.ports.SetInUse(1);
        b.log = {"typed by the user"};
        b.run.Start(kind);
        EXPECT_EQ(b.messages, (Lines{"Błąd otwarcia SerialPort..."}));
        EXPECT_TRUE(b.log.empty());
        EXPECT_FALSE(b.dane.IsPortOpen());
    }
}

TEST(PortSearch, NoServerAnywhere) {
    for (int kind : {2, 5}) {
        SCOPED_TRACE(kind);
        Bench b;
        b.run.Start(kind);
        EXPECT_EQ(b.log, NoServerLines());
        EXPECT_FALSE(b.dane.IsPortOpen());
        EXPECT_EQ(b.dane.PortName(), "\\\\.\\COM20");
        EXPECT_EQ(b.backend.AbsentOpens().size(), 20u);
    }
}

TEST(PortSearch, SilentCom1ThenServerOnCom2) {
    Bench b;
    ServerModel& server = b.AddServer({});
    b.ports.SetSilent(1);
    b.ports.Attach(2, server);
    b.run.Start(2);
    EXPECT_EQ(Head(b.log, 7),
              (Lines{"COM:1 +", "Czekam na dane z serwera...", "Reset...", "COM:2 +",
                     "Czekam na dane z serwera...", "Reset...", "BOOT >> v5"}));
    EXPECT_EQ(b.dane.PortName(), "\\\\.\\COM2");
    EXPECT_EQ(server.Boot().Flash(), b.ExpectedFlash());
    // COM1: RTS up 500 ms after the open, for 100 ms; 50 cycles of 10 ms and a last read of
    // the input time-out before COM2 is opened.
    const auto& com1 = b.ports.Record(1);
    ASSERT_EQ(com1.lines.size(), 2u);
    const uint32_t opened = com1.settings.front().tick;
    EXPECT_EQ(com1.lines[0].tick - opened, 500u);
    EXPECT_EQ(com1.lines[1].tick - com1.lines[0].tick, 100u);
    const uint32_t gap = b.ports.Record(2).settings.front().tick - com1.lines[1].tick;
    EXPECT_GE(gap, 500u + 200u);
    EXPECT_LE(gap, 500u + 210u);
}

TEST(PortSearch, BytesBeforeTheGreetingAreDropped) {
    ServerModel::Options o;
    o.greeting = {0x55, 0xAA, 0xAA, 0xD3};
    Bench b;
    ServerModel& server = b.AddServer(o);
    b.ports.Attach(1, server);
    b.run.Start(2);
    EXPECT_EQ(Head(b.log, 5), (Lines{"COM:1 +", "Czekam na dane z serwera...", "Reset...",
                                     "BOOT >> v5", "Tryb Boot dla serwera aktywny."}));
    EXPECT_EQ(b.log.back(), kFree);
    EXPECT_EQ(server.Boot().Flash(), b.ExpectedFlash());
}

TEST(PortSearch, StopWhileWaitingOnAPort) {
    Bench b;
    b.ports.SetSilent(1);
    b.PressStopAtPass(10);
    b.run.Start(2);
    EXPECT_EQ(b.log, (Lines{"COM:1 +", "Czekam na dane z serwera...", "Reset...", kFree}));
    EXPECT_FALSE(b.dane.IsPortOpen());
    EXPECT_EQ(b.dane.PortName(), kCom1);
}

// STOP is final: pressed at any message pass of the search, on an absent or a silent port,
// it ends the search before another port is opened.
TEST(PortSearch, StopAtAnyPassOpensNoFurtherPort) {
    for (int pass : {1, 2, 3}) {
        SCOPED_TRACE(pass);
        Bench b;
        b.ports.SetSilent(1);
        b.ports.SetSilent(2);
        b.PressStopAtPass(pass);
        b.run.Start(2);
        EXPECT_EQ(b.ports.Record(2).opens, 0u);
        EXPECT_FALSE(b.dane.IsPortOpen());
        EXPECT_EQ(std::count(b.log.begin(), b.log.end(), kFree), 1);
    }
    Bench b;
    b.ports.SetSilent(2);
    b.PressStopAtPass(1);  // at the pass after "COM:1 -"
    b.run.Start(5);
    EXPECT_EQ(b.log, (Lines{"COM:1 -"}));
    EXPECT_EQ(b.ports.Record(2).opens, 0u);
}

TEST(ServerEntry, GreetingWithLeadingNoiseOnFixedPort) {
    Bench b;
    ServerModel& server = b.AddServer(FixedPortServer({0x11, 0xAA, 0xAA, 0xD3}));
    b.ports.Attach(1, server);
    b.run.Start(1);
    EXPECT_EQ(Head(b.log, 4),
              (Lines{"Czekam na dane z serwera...", "BOOT >> v5", "Tryb Boot dla serwera aktywny.",
                     "Aktualnie masz wgrane oprogramowanie nr: 105"}));
    const auto& written = b.ports.Record(1).written;
    ASSERT_GE(written.size(), 5u);
    EXPECT_EQ(written[0].value, 0xD3);
    EXPECT_EQ(written[1].value, 0xCC);
    EXPECT_EQ(written[1].tick - written[0].tick, 1100u);
}

TEST(ServerEntry, RefusedGreetings) {
    const std::pair<std::vector<uint8_t>, Lines> cases[] = {
        {{0xAA, 0x55}, {"Błąd startu serwera !!!"}},
        {{0xAA, 0xAA, 0x42}, {"Błąd startu serwera !!!"}},
        {{0xAA, 0xAA, 0xDD}, {"BOOT >> v2", "Program obsługuje tylko urządzenia Quorvant II"}},
        {{0xAA, 0xAA, 0xD1}, {"BOOT >> v3", "Program obsługuje tylko urządzenia Quorvant II"}},
    };
    for (const auto& [greeting, lines] : cases) {
        SCOPED_TRACE(lines.front());
        Bench b;
        ServerModel& server = b.AddServer(FixedPortServer(greeting));
        b.ports.Attach(1, server);
        b.run.Start(1);
        Lines expected{"Czekam na dane z serwera..."};
        expected.insert(expected.end(), lines.begin(), lines.end());
        EXPECT_EQ(b.log, expected);
        EXPECT_TRUE(b.Written(1).empty());
        EXPECT_FALSE(b.dane.IsPortOpen());
    }
}

TEST(ServerEntry, GreetingThatStopsHalfWayEndsAfterTheBound) {
    Bench b;
    ServerModel& server = b.AddServer(FixedPortServer({0xAA}));
    b.ports.Attach(1, server);
    b.run.Start(1);
    EXPECT_EQ(b.log, (Lines{"Czekam na dane z serwera...", "Błąd startu serwera !!!"}));
    EXPECT_FALSE(b.dane.IsPortOpen());
    EXPECT_GE(b.clock.TickMs(), 300u + 5000u);
    EXPECT_LE(b.clock.TickMs(), 300u + 5100u);
}

TEST(ServerEntry, UnansweredFirmwareQuery) {
    ServerModel::Options o = FixedPortServer();
    o.boot.faults = {{BootStep::ReadFirmwareNumber, StepFault::Silent}};
    Bench b;
    ServerModel& server = b.AddServer(o);
    b.ports.Attach(1, server);
    b.run.Start(1);
    EXPECT_EQ(b.log, (Lines{"Czekam na dane z serwera...", "BOOT >> v5",
                            "Tryb Boot dla serwera aktywny.", kLineNoAnswer}));
    EXPECT_FALSE(b.dane.IsPortOpen());
}

TEST(ServerEntry, StopBeforeTheServerSendsAnything) {
    Bench b;
    ServerModel::Options o = FixedPortServer();
    o.greetOnPowerOn = false;
    ServerModel& server = b.AddServer(o);
    b.ports.Attach(1, server);
    b.PressStopAtPass(100);
    b.run.Start(1);
    EXPECT_EQ(b.log, (Lines{"Czekam na dane z serwera...", kFree}));
    EXPECT_TRUE(b.Written(1).empty());
    EXPECT_FALSE(b.run.Running());
}

// Bytes other than the greeting arriving faster than the wait's slice must not keep the
// window, and with it STOP, out of the wait.
TEST(ServerEntry, StopActsWhileOtherBytesKeepComing) {
    Bench b;
    ScriptDevice babbler;
    babbler.onOpen = [](SimLine& line) {
        for (uint32_t i = 1; i <= 1000; ++i) line.Send(0x55, line.Now() + 10 * i);
    };
    b.backend.AttachDevice(kCom1, babbler);
    b.PressStopAtPass(3);
    const uint32_t start = b.clock.TickMs();
    b.run.Start(1);
    EXPECT_EQ(b.log, (Lines{"Czekam na dane z serwera...", kFree}));
    EXPECT_LT(b.clock.TickMs() - start, 1000u);
}

TEST(ViaServerEntry, WrongAnswerLeavesThePortOpen) {
    for (uint8_t answer : {uint8_t{0x0A}, uint8_t{0x5F}}) {
        Bench b;
        CardModel& card = b.Add<CardModel>(CardModel::Options{});
        ServerModel::Options o;
        o.probeAnswer = answer;
        ServerModel& server = b.AddServer(o, &card);
        b.ports.Attach(1, server);
        b.run.Start(3);
        EXPECT_EQ(b.log, (Lines{"Inicjalizacja serwera... Czekaj (max 10sek)",
                                "Błąd startu serwera !!! [" + HexByte(answer) + "]"}));
        EXPECT_TRUE(b.dane.IsPortOpen());
        EXPECT_TRUE(card.Received().empty());
        // STOP twice: one line.
        b.run.Stop();
        b.run.Stop();
        EXPECT_EQ(b.log.back(), kFree);
        EXPECT_EQ(b.log.size(), 3u);
    }
}

TEST(ViaServerEntry, StopDuringActivationLogsThePortReleaseTwice) {
    Bench b;
    ServerModel::Options o;
    o.probeAnswer.reset();
    ServerModel& server = b.AddServer(o);
    b.ports.Attach(1, server);
    b.PressStopAtPass(6);
    b.run.Start(3);
    EXPECT_EQ(b.log, (Lines{"Inicjalizacja serwera... Czekaj (max 10sek)", kFree, kFree}));
    // Probes every 300 ms, the first 8.6 s after the open.
    std::vector<uint32_t> probes;
    for (const auto& w : b.ports.Record(1).written)
        if (w.value == 0xAA) probes.push_back(w.tick);
    ASSERT_GE(probes.size(), 3u);
    EXPECT_EQ(probes[0] - b.ports.Record(1).settings.front().tick, 8600u);
    EXPECT_EQ(probes[1] - probes[0], 300u);
    EXPECT_EQ(probes[2] - probes[1], 300u);
}

TEST(ViaServerEntry, StopAtTheFirstPassSendsNoProbe) {
    for (uint8_t kind : {3, 5}) {
        SCOPED_TRACE(int{kind});
        Bench b;
        ServerModel& server = b.AddServer({});
        b.ports.Attach(1, server);
        // Kind 3: the pass after its first line; kind 5: the first pass after the search found
        // the server (its three passes on COM1 and the wait's passes until the greeting).
        b.When([&] { return !b.log.empty() && b.log.back() == kViaServerInit; },
               [&] { b.run.Stop(); });
        b.run.Start(kind);
        for (const auto& w : b.ports.Record(1).written) EXPECT_NE(w.value, 0xBB);  // no probe
        EXPECT_EQ(b.log.back(), kFree);
        EXPECT_FALSE(b.dane.IsPortOpen());
    }
}

TEST(ViaServerEntry, AutoSwitchesTo19200BeforeTheWait) {
    Bench b;
    CardModel& card = b.Add<CardModel>(CardModel::Options{});
    ServerModel::Options o;
    o.probeBaud = 19200;
    ServerModel& server = b.AddServer(o, &card);
    b.ports.Attach(1, server);
    b.run.Start(5);
    const auto& settings = b.ports.Record(1).settings;
    ASSERT_GE(settings.size(), 2u);
    EXPECT_EQ(settings.front().settings.baudRate, 9600u);
    EXPECT_EQ(settings.back().settings.baudRate, 19200u);
    EXPECT_EQ(b.ports.Record(1).written.front().tick - settings.back().tick, 8000u);
    EXPECT_EQ(card.Boot().Flash(), b.ExpectedFlash());
}

TEST(CardEntry, RefusedAnswersToReset) {
    const Lines head{"SerialPort załączony : " + kCom1, "Czekam na ATR..."};
    const std::pair<std::vector<uint8_t>, Lines> cases[] = {
        {{0xAA, 0xAA, 0xD3}, {"Błąd : ATR", kFree}},
        {{0xAA, 0x3B}, {"Błąd : ATR", kFree}},
        {{0xAA, 0xAA, 0xBB},
         {"BOOT >> v2", "Program obsługuje tylko urzadzenia Quorvant II", kFree}},
        {{0x3B, 0xAA, 0xAA, 0xB3}, {"Błąd : przekroczony czas oczekiwania", kFree}},
        {{}, {"Błąd : przekroczony czas oczekiwania", kFree}},
    };
    for (const auto& [atr, lines] : cases) {
        SCOPED_TRACE(lines.front());
        Bench b;
        CardModel& card = b.Add<CardModel>(ReaderCard(atr));
        b.ports.Attach(1, card);
        b.run.Start(4);
        Lines expected = head;
        expected.insert(expected.end(), lines.begin(), lines.end());
        EXPECT_EQ(b.log, expected);
        EXPECT_FALSE(b.dane.IsPortOpen());
        EXPECT_TRUE(b.Written(1).empty());
        if (atr.empty()) {
            // About 1 s after RTS drops: the 800 ms pause and the 200 ms read.
            const auto& rts = b.ports.Record(1).lines;
            EXPECT_GE(b.clock.TickMs() - rts[1].tick, 1000u);
            EXPECT_LE(b.clock.TickMs() - rts[1].tick, 1010u);
        }
    }
}

TEST(CardEntry, AnswerToResetThatStopsHalfWay) {
    Bench b;
    CardModel& card = b.Add<CardModel>(ReaderCard({0xAA}));
    b.ports.Attach(1, card);
    b.run.Start(4);
    EXPECT_EQ(b.log,
              (Lines{"SerialPort załączony : " + kCom1, "Czekam na ATR...", "Błąd : ATR", kFree}));
}

TEST(CardEntry, NoToTheQuestion) {
    Bench b;
    CardModel& card = b.Add<CardModel>(ReaderCard({0xAA, 0xAA, 0xB3, 0x3B, 0x00}));
    b.ports.Attach(1, card);
    b.answerYes = false;
    b.run.Start(4);
    EXPECT_EQ(b.log, (Lines{"SerialPort załączony : " + kCom1, "Czekam na ATR...", "BOOT >> v5",
                            "Tryb Boot dla karty aktywny.",
                            "Aktualnie masz wgrane oprogramowanie nr: 105"}));
    EXPECT_EQ(b.questions,
              (Lines{"?|Twoja karta ma wgrane oprogramowanie nr:105.bin czy kontynuować ?"}));
    EXPECT_FALSE(b.dane.IsPortOpen());
    EXPECT_EQ(card.Boot().Steps(), std::vector<BootStep>{BootStep::ReadFirmwareNumber});
    // The query went out byte by byte, each after the echo of the one before.
    EXPECT_EQ(b.Written(1), (std::vector<uint8_t>{0xCC, 0x01, 0x60, 0xAD}));
}

TEST(UpdateRunControl, OtherKindsDoNothing) {
    for (int kind : {0, 6, 9, 255}) {
        Bench b;
        b.log = {"typed"};
        b.run.Start(static_cast<uint8_t>(kind));
        EXPECT_EQ(b.log, Lines{"typed"});
        EXPECT_EQ(b.logClears, 0);
        EXPECT_EQ(b.passes, 0);
        EXPECT_TRUE(b.messages.empty());
        EXPECT_EQ(b.ports.Record(2).opens + b.backend.AbsentOpens().size(), 0u);
    }
}

TEST(UpdateRunControl, StopWhileIdleThenARunGoesNormally) {
    Bench b;
    CardModel& card = b.Add<CardModel>(ReaderCard({0xAA, 0xAA, 0xB3}));
    b.ports.Attach(1, card);
    b.run.Stop();
    b.run.Stop();
    EXPECT_TRUE(b.log.empty());
    EXPECT_TRUE(b.stop);
    b.run.Start(4);
    EXPECT_EQ(b.log.back(), "SerialPort wolny...");
    EXPECT_EQ(b.log[b.log.size() - 2], "Bit_lock OFF : OK");
    EXPECT_EQ(card.Boot().Flash(), b.ExpectedFlash());
}

TEST(UpdateRunControl, StartDuringARunIsIgnored) {
    Bench b;
    ServerModel& server = b.AddServer(FixedPortServer());
    b.ports.Attach(1, server);
    b.AtPass(3, [&] {
        EXPECT_TRUE(b.run.Running());
        b.run.Start(4);
        b.run.Start(2);
    });
    b.run.Start(1);
    EXPECT_EQ(b.logClears, 1);
    EXPECT_EQ(b.log,
              (Lines{"Czekam na dane z serwera...", "BOOT >> v5", "Tryb Boot dla serwera aktywny.",
                     "Aktualnie masz wgrane oprogramowanie nr: 105", "Bit_lock : OK",
                     "Kasowanie flasha : OK", "Zapis flasha...", "Zapis flasha : OK",
                     "Reset serwera : OK", kFree}));
    EXPECT_TRUE(b.messages.empty());
    EXPECT_FALSE(b.run.Running());
}

TEST(UpdateRunControl, EachRunStartsWithAnEmptyLog) {
    Bench b;
    ServerModel& server = b.AddServer(FixedPortServer());
    b.ports.Attach(1, server);
    b.run.Start(2);
    EXPECT_EQ(b.log.back(), kFree);
    b.run.Start(1);
    EXPECT_EQ(b.log.front(), "Czekam na dane z serwera...");
    EXPECT_EQ(b.log.size(), 10u);
    EXPECT_EQ(b.progress, 3520);
}

// A user who may open no port learns why the search found no server: the designed line,
// then the ports refused for want of permission. Real pseudo-terminals through TANDEL_PORTS,
// searched by a child that drops to nobody (root may open anything).
TEST(PortSearch, PortsRefusedForWantOfPermissionAreNamedAfterTheDesignedLine) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to drop to nobody";
    std::string pattern = (std::filesystem::temp_directory_path() / "tandel-perm-XXXXXX").string();
    const std::filesystem::path ports = mkdtemp(pattern.data());
    ASSERT_EQ(::chmod(ports.c_str(), 0755), 0);
    int fds[4];
    for (int i : {0, 2}) {
        char name[128] = {};
        ASSERT_EQ(::openpty(&fds[i], &fds[i + 1], name, nullptr, nullptr), 0);
        ASSERT_EQ(::chown(name, 0, 0), 0);
        ASSERT_EQ(::chmod(name, 0600), 0);
        std::filesystem::create_symlink(name, ports / (i == 0 ? "COM1" : "COM3"));
    }
    setenv("TANDEL_PORTS", ports.c_str(), 1);

    const std::optional<std::string> got = RunAsNobody([] {
        struct RealPorts : Bench {
            TSerialPortDriver real{PosixSerialBackend(), clock};
            TSerialPortDriver& Dane() override { return real; }
        } b;
        b.run.Start(2);
        std::string out;
        for (const std::string& line : b.log) out += line + "\n";
        return out;
    });
    unsetenv("TANDEL_PORTS");
    for (int fd : fds) ::close(fd);
    std::filesystem::remove_all(ports);
    ASSERT_TRUE(got);

    std::string expected;
    for (const std::string& line : NoServerLines()) expected += line + "\n";
    expected += "Brak uprawnień do portów: COM1, COM3\n";
    EXPECT_EQ(got->substr(0, expected.size()), expected);
}
