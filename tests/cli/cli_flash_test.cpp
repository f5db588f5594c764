// tandel-cli flash against the simulated devices, with the real termios backend.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include "CliHarness.h"
#include "DemoCatalogue.h"

namespace {

using namespace clitest;

using Lines = std::vector<std::string>;

const Lines kServerBoot{"BOOT >> v5", "Tryb Boot dla serwera aktywny.",
                        "Aktualnie masz wgrane oprogramowanie nr: 105"};
const Lines kFlashServer{"Bit_lock : OK",     "Kasowanie flasha : OK", "Zapis flasha...",
                         "Zapis flasha : OK", "Reset serwera : OK",    "SerialPort wolny..."};
const Lines kViaServer{"Tryb Via Serwer aktywny.", "Inicjalizacja karty...",
                       "Inicjalizacja karty : OK", "Bit_lock : OK",
                       "Kasowanie flasha : OK",    "Zapis flasha...",
                       "Zapisu flasha : OK",       "Bit_lock OFF : OK",
                       "SerialPort wolny..."};
const std::string kWrongSize =
    "Błąd : niewłąściwy rozmiar pliku, wykonaj aktualizacje jeszcze raz...";
const Lines kSearchFound{"COM:1 +", "Czekam na dane z serwera...", "Reset..."};

Lines Join(std::initializer_list<Lines> parts) {
    Lines all;
    for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// A working folder holding the demo's init.cfg and the demo firmware in its store, and the
// simulated devices.
struct CliFlash : ::testing::Test {
    TempDir dir;
    fs::path work = dir.path / "work";

    void SetUp() override {
        WriteFile(work / "init.cfg", DemoInitCfg());
        for (const DemoDeviceType& type : DemoDeviceTypes()) {
            for (const std::string& name : type.firmware) {
                WriteFile(work / type.folder / (name + ".bin"), DemoFirmware(type.folder, name));
            }
        }
    }
    const DemoDeviceType& Type(int kind) const {
        for (const DemoDeviceType& type : DemoDeviceTypes()) {
            if (type.kind == kind) return type;
        }
        std::abort();
    }
    // What a device's flash holds after the file went in: all of it but its last byte.
    std::string FlashAfter(int kind) const {
        std::string flash = DemoFirmware(Type(kind).folder, Type(kind).firmware.front());
        flash.back() = '\0';
        return flash;
    }
    std::vector<std::string> FlashArgs(int kind, const std::string& port = "") const {
        std::vector<std::string> args{"flash", "--type", Type(kind).display, "--firmware",
                                      Type(kind).firmware.front() + ".bin"};
        if (!port.empty()) args.insert(args.end(), {"--port", port});
        return args;
    }
    std::map<std::string, std::string> Env(const Devices& devices) const {
        return {{"TANDEL_PORTS", devices.portDir.string()}};
    }
    static bool FlashFileHolds(const fs::path& file, const std::string& expected) {
        const auto deadline = Steady::now() + std::chrono::seconds(10);
        while (ReadFile(file) != expected && Steady::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return ReadFile(file) == expected;
    }
};

TEST_F(CliFlash, EveryKindProgramsItsDeviceWithTheWindowsLog) {
    Devices devices(dir.path, {Pacing{0, false}, {}, {}});
    struct Case {
        int kind;
        std::string port;
        Lines lines;
        const char* flashFile;
    };
    const Case cases[] = {
        {1, "COM1", Join({{"Czekam na dane z serwera..."}, kServerBoot, kFlashServer}),
         "COM1-server.bin"},
        {2, "", Join({kSearchFound, kServerBoot, kFlashServer}), "COM1-server.bin"},
        {3, "COM1", Join({{"Inicjalizacja serwera... Czekaj (max 10sek)"}, kViaServer}),
         "COM1-card.bin"},
        {4,
         "COM2",
         {"SerialPort załączony : \\\\.\\COM2", "Czekam na ATR...", "BOOT >> v5",
          "Tryb Boot dla karty aktywny.", "Aktualnie masz wgrane oprogramowanie nr: 105",
          "Bit_lock : OK", "Kasowanie flasha : OK", "Zapis flasha...", "Zapis flasha : OK",
          "Bit_lock OFF : OK", "SerialPort wolny..."},
         "COM2-card.bin"},
        {5, "", Join({kSearchFound, {"Inicjalizacja serwera... Czekaj (max 10sek)"}, kViaServer}),
         "COM1-card.bin"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("kind " + std::to_string(c.kind));
        std::vector<std::string> args = FlashArgs(c.kind, c.port);
        if (c.kind == 4) args.push_back("--yes");
        Cli cli(work, args, Env(devices));
        EXPECT_EQ(cli.Finish(), 0) << cli.err;
        EXPECT_EQ(cli.OutLines(), c.lines);
        EXPECT_EQ(cli.err, "");  // no terminal: neither progress nor question on stderr
        EXPECT_TRUE(FlashFileHolds(devices.flashDir / c.flashFile, FlashAfter(c.kind)));
    }
}

TEST_F(CliFlash, FailuresEndWithTheirStatusAndOneReasonLine) {
    {
        PtyDeviceSet::Options locked{Pacing{0, false}, {*ParseDeviceFault("server:erase=94")}, {}};
        Devices devices(dir.path / "locked", locked);
        Cli cli(work, FlashArgs(1, "COM1"), Env(devices));
        EXPECT_EQ(cli.Finish(), 1);
        EXPECT_EQ(cli.OutLines().back(), "SerialPort wolny...");
        EXPECT_EQ(cli.err,
                  "tandel-cli: the device refused the erase step (reply 0x94, LOCK); its flash "
                  "was not touched\n");
    }
    Devices devices(dir.path, {Pacing{0, false}, {}, {}});
    {
        fs::create_directories(dir.path / "none");
        Cli cli(work, FlashArgs(2), {{"TANDEL_PORTS", (dir.path / "none").string()}});
        EXPECT_EQ(cli.Finish(), 3);
        EXPECT_EQ(cli.OutLines().back(), "Nie wykryto serwera !!!");
        EXPECT_EQ(cli.OutLines().size(), 21u);
        EXPECT_EQ(cli.err, "tandel-cli: Nie wykryto serwera !!!\n");
    }
    {
        Cli cli(work, FlashArgs(1, "COM7"), Env(devices));
        EXPECT_EQ(cli.Finish(), 3);
        EXPECT_EQ(cli.err, "tandel-cli: Błąd otwarcia SerialPort... COM7: no such port\n");
    }
    {
        Cli cli(work, FlashArgs(1, "xyz"), Env(devices));  // no port's name: nothing opened
        EXPECT_EQ(cli.Finish(), 3);
        EXPECT_EQ(cli.err,
                  "tandel-cli: Błąd otwarcia SerialPort... xyz: no such port (COM1 to COM20 or a "
                  "/dev path)\n");
    }
    {
        Cli cli(work,
                {"flash", "--folder", Type(1).folder, "--kind", "1", "--firmware", "absent.bin",
                 "--port", "COM1"},
                Env(devices));
        EXPECT_EQ(cli.Finish(), 4);
        EXPECT_EQ(cli.out, "");
        EXPECT_EQ(cli.err, "tandel-cli: File not found. (" +
                               (work / Type(1).folder / "absent.bin").string() + ")\n");
    }
    {
        // A name that is no entry of the folder's list is refused like a missing file.
        Cli cli(work,
                {"flash", "--folder", Type(1).folder, "--kind", "1", "--firmware", "../init.cfg",
                 "--port", "COM1"},
                Env(devices));
        EXPECT_EQ(cli.Finish(), 4);
    }
    {
        Cli cli(work, FlashArgs(4, "COM2"), Env(devices));  // no terminal, no --yes
        EXPECT_EQ(cli.Finish(), 2);
        EXPECT_EQ(cli.out, "");
        EXPECT_NE(cli.err.find("--yes"), std::string::npos);
    }
    {
        Cli cli(work, FlashArgs(1, "auto"), Env(devices));
        EXPECT_EQ(cli.Finish(), 2);
        EXPECT_EQ(cli.out, "");
    }
    devices.Stop();
    // Nothing above reached the reader, and the server saw no frame.
    EXPECT_TRUE(devices.Set().ReaderCard().Boot().Steps().empty());
    EXPECT_TRUE(devices.Set().Server().Boot().Steps().empty());
}

// The exit status and reason come from how the run ended, not from its log lines.
TEST_F(CliFlash, EachEndingHasItsStatusAndAReasonWithStepFrameAndCode) {
    struct Case {
        const char* fault;  // a fault of the device simulator
        int kind;
        int exitCode;
        const char* reason;
    };
    const Case cases[] = {
        {"server:erase=93", 1, 1,
         "the device refused the erase step (reply 0x93); its flash was not touched"},
        {"server:write@17=drop@40", 1, 6,
         "the device's flash is erased or partly written (write frame 17, the line was lost): "
         "program it again"},
        {"server:write@17=94", 1, 6,
         "the device's flash is erased or partly written (write frame 17, reply 0x94): program "
         "it again"},
        {"reader:bitlock-on=silent", 4, 3, "no answer at the BitLock on step; nothing was written"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        Devices devices(dir.path / c.fault, {Pacing{0, false}, {*ParseDeviceFault(c.fault)}, {}});
        std::vector<std::string> args = FlashArgs(c.kind, c.kind == 4 ? "COM2" : "COM1");
        args.push_back("--yes");
        Cli cli(work, args, Env(devices));
        EXPECT_EQ(cli.Finish(), c.exitCode);
        EXPECT_EQ(cli.err, std::string("tandel-cli: ") + c.reason + "\n");
    }
}

// The port is the one named, and only a free one: no port text gives no run, a port another
// program holds (lock file or an open descriptor alone) is in use and the search passes it.
TEST_F(CliFlash, OnlyTheNamedFreePortIsOpened) {
    Devices devices(dir.path, {Pacing{0, false}, {}, {}});
    for (const std::optional<std::string>& port : {std::optional<std::string>(""),
                                                   std::optional<std::string>()}) {
        std::vector<std::string> args{"flash", "--type", Type(1).display, "--firmware",
                                      Type(1).firmware.front() + ".bin"};
        if (port) args.insert(args.end(), {"--port", *port});
        Cli cli(work, args, Env(devices));
        EXPECT_EQ(cli.Finish(), 2);
        EXPECT_EQ(cli.out, "");
    }
    const std::string com1 = fs::canonical(devices.portDir / "COM1").string();
    pid_t holder = ::fork();  // a terminal program left running on the line, without a lock
    if (holder == 0) {
        const int fd = ::open(com1.c_str(), O_RDWR | O_NOCTTY);
        ::pause();
        ::_exit(fd);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    {
        Cli cli(work, FlashArgs(1, "COM1"), Env(devices));
        EXPECT_EQ(cli.Finish(), 3);
        EXPECT_NE(cli.err.find("in use by cli_tests (PID " + std::to_string(holder)),
                  std::string::npos)
            << cli.err;
        Cli search(work, FlashArgs(2), Env(devices));
        EXPECT_EQ(search.Finish(), 3);
        EXPECT_EQ(search.OutLines().front(), "COM:1 -");
    }
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    devices.Stop();
    EXPECT_TRUE(devices.Set().Server().Boot().Steps().empty());
    EXPECT_EQ(devices.Set().Server().GreetingCount(), 0);
}

// Every programming run appends one journal line; history prints them; a journal that cannot
// be written does not stop the run.
TEST_F(CliFlash, EveryRunIsJournalledAndHistoryPrintsIt) {
    std::map<std::string, std::string> env{{"XDG_STATE_HOME", (dir.path / "state").string()}};
    for (const char* fault : {"server:write@17=94", "server:erase=94"}) {
        const std::vector<DeviceFault> faults{*ParseDeviceFault(fault)};
        Devices devices(dir.path / fault, {Pacing{0, false}, faults, {}});
        env["TANDEL_PORTS"] = devices.portDir.string();
        Cli cli(work, FlashArgs(1, "COM1"), env);
        cli.Finish();
    }
    Devices devices(dir.path, {Pacing{0, false}, {}, {}});
    env["TANDEL_PORTS"] = devices.portDir.string();
    const Lines journal = SplitLines(ReadFile(dir.path / "state/tandel/journal.jsonl"));
    ASSERT_EQ(journal.size(), 2u);
    const QJsonObject damaged = QJsonDocument::fromJson(QByteArray::fromStdString(journal[0])).object();
    EXPECT_EQ(damaged["result"].toObject(),
              (QJsonObject{{"end", "damaged"}, {"step", "write"}, {"wait", "byte"}, {"frame", 17},
                           {"reply", "94"}}));
    EXPECT_EQ(damaged["firmwareNumberBefore"].toInt(), 105);
    EXPECT_EQ(damaged["port"].toObject()["text"].toString(), "COM1");
    const QJsonObject firmware = damaged["firmware"].toObject();
    EXPECT_EQ(firmware["name"].toString().toStdString(), Type(1).firmware.front() + ".bin");
    EXPECT_EQ(firmware["sha256"].toString().size(), 64);
    EXPECT_EQ(damaged["kind"].toInt(), 1);

    struct Query {
        std::vector<std::string> args;
        size_t runs;
    };
    for (const Query& q : {Query{{"history"}, 2}, Query{{"history", "--port", "COM1"}, 2},
                           Query{{"history", "--port", "COM2"}, 0},
                           Query{{"history", "--since", "2999-01-01"}, 0}}) {
        Cli history(work, q.args, env);
        EXPECT_EQ(history.Finish(), 0);
        EXPECT_EQ(history.OutLines().size(), q.runs) << q.args.back();
    }
    Cli text(work, {"history"}, env);
    text.Finish();
    EXPECT_NE(text.OutLines().at(0).find(": damaged at write frame 17 reply 0x94"),
              std::string::npos)
        << text.out;

    WriteFile(dir.path / "blocked", "a file where the journal's folder would be");
    env["XDG_STATE_HOME"] = (dir.path / "blocked").string();
    Cli blocked(work, FlashArgs(1, "COM1"), env);
    EXPECT_EQ(blocked.Finish(), 0);
    EXPECT_NE(blocked.err.find("tandel-cli: journal not written: "), std::string::npos);
}

// info asks for the firmware number and nothing more: the flash keeps its firmware.
TEST_F(CliFlash, InfoTellsTheFirmwareNumberWithoutErasing) {
    struct Case {
        int kind;
        const char* port;
        int exitCode;
    };
    for (const Case& c : {Case{1, "COM1", 0}, Case{2, nullptr, 0}, Case{4, "COM2", 0},
                          Case{3, "COM1", 2}}) {
        SCOPED_TRACE(c.kind);
        Devices devices(dir.path / std::to_string(c.kind), {Pacing{0, false}, {}, {}});
        std::vector<std::string> args{"info", "--type", Type(c.kind).display};
        if (c.port) args.insert(args.end(), {"--port", c.port});
        Cli cli(work, args, Env(devices));
        ASSERT_EQ(cli.Finish(), c.exitCode) << cli.err;
        devices.Stop();
        const BootLoader& boot =
            c.kind == 4 ? devices.Set().ReaderCard().Boot() : devices.Set().Server().Boot();
        if (c.exitCode != 0) {
            EXPECT_TRUE(boot.Steps().empty());
            continue;
        }
        EXPECT_EQ(cli.OutLines().back(), "firmware number: 105");
        EXPECT_EQ(boot.Steps(), std::vector<BootStep>{BootStep::ReadFirmwareNumber});
    }
}

// At the line's real rate, so that the signal lands inside the write phase.
TEST_F(CliFlash, SignalDuringTheWriteIsTheStopAction) {
    Devices devices(dir.path, {Pacing{9600, false}, {}, {}});
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        Cli cli(work, FlashArgs(1, "COM1"), Env(devices));
        ASSERT_TRUE(cli.WaitForLine("Zapis flasha..."));
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        cli.Signal(signal);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        cli.Signal(signal);  // a second one does nothing more
        EXPECT_EQ(cli.Finish(), signal == SIGINT ? 130 : 143);
        const Lines lines = cli.OutLines();
        ASSERT_GE(lines.size(), 2u);
        const auto write = std::find(lines.begin(), lines.end(), "Zapis flasha...");
        EXPECT_EQ(Lines(write, lines.end()),
                  (Lines{"Zapis flasha...", "SerialPort wolny...",
                         "Błąd : przerwano przez użytkownika", "SerialPort wolny..."}));
        // The status is the signal's; the reason says that the flash is partly written.
        EXPECT_EQ(cli.err.rfind("tandel-cli: Błąd : przerwano przez użytkownika; the device's "
                                "flash is erased or partly written (write frame ",
                                0),
                  0u)
            << cli.err;
    }
    devices.Stop();
    // Neither run got to the end of the write, let alone the reset.
    const BootLoader& boot = devices.Set().Server().Boot();
    EXPECT_GT(boot.WriteAddresses().size(), 0u);
    EXPECT_LT(boot.WriteAddresses().size(), 2 * 220u - 40);
    EXPECT_EQ(std::count(boot.Steps().begin(), boot.Steps().end(), BootStep::ResetServer), 0);
}

TEST_F(CliFlash, ProcessesOnTwoPortsRunSideBySideAndASecondOnOnePortIsRefused) {
    Devices devices(dir.path, {Pacing{0, false}, {}, {}});
    {
        std::vector<std::string> reader = FlashArgs(4, "COM2");
        reader.push_back("--yes");
        Cli server(work, FlashArgs(1, "COM1"), Env(devices));
        Cli card(work, reader, Env(devices));
        EXPECT_EQ(server.Finish(), 0) << server.err;
        EXPECT_EQ(card.Finish(), 0) << card.err;
        EXPECT_TRUE(FlashFileHolds(devices.flashDir / "COM1-server.bin", FlashAfter(1)));
        EXPECT_TRUE(FlashFileHolds(devices.flashDir / "COM2-card.bin", FlashAfter(4)));
    }
    {
        // A reader of the log that goes away does not end the run half-way through the flash.
        Cli gone(work, FlashArgs(1, "COM1"), Env(devices));
        gone.CloseOutput();
        EXPECT_EQ(gone.Finish(), 0) << gone.err;
        EXPECT_TRUE(FlashFileHolds(devices.flashDir / "COM1-server.bin", FlashAfter(1)));
    }
    Cli first(work, FlashArgs(1, "COM1"), Env(devices));
    ASSERT_TRUE(first.WaitForLine("Czekam na dane z serwera..."));
    Cli second(work, FlashArgs(1, "COM1"), Env(devices));
    EXPECT_EQ(second.Finish(), 3);
    EXPECT_EQ(second.out, "");
    EXPECT_EQ(second.err, "tandel-cli: Błąd otwarcia SerialPort... COM1 = " +
                              (devices.portDir / "COM1").string() +
                              ": Device or resource busy; The port is in use by tandel-cli (PID " +
                              std::to_string(first.Pid()) + ").\n");
    EXPECT_EQ(first.Finish(), 0) << first.err;
}

// On a terminal the card in a reader is asked about, and the write phase draws one line that
// it redraws in place.
TEST_F(CliFlash, OnATerminalTheQuestionIsAskedAndTheProgressRedrawn) {
    Devices devices(dir.path, {Pacing{0, false}, {}, {}});
    const std::string question =
        "Twoja karta ma wgrane oprogramowanie nr:" + Type(4).firmware.front() +
        ".bin czy kontynuować ? [t/N] ";
    {
        Cli cli(work, FlashArgs(4, "COM2"), Env(devices), true);
        ASSERT_TRUE(cli.WaitForError(question)) << cli.err;
        cli.Type("t\n");
        EXPECT_EQ(cli.Finish(), 0) << cli.err;
        EXPECT_EQ(cli.OutLines().back(), "SerialPort wolny...");
        EXPECT_NE(cli.err.find("\r\033[Kframe 1/220, 69/15180 bytes, "), std::string::npos);
        EXPECT_NE(cli.err.find("\r\033[Kframe 220/220, 15180/15180 bytes, "), std::string::npos);
        size_t redraws = 0;
        for (size_t at = 0; (at = cli.err.find("\r\033[Kframe ", at)) != std::string::npos; ++at) {
            ++redraws;
        }
        EXPECT_EQ(redraws, 221u);  // frame 0 to 220, each once
        EXPECT_TRUE(FlashFileHolds(devices.flashDir / "COM2-card.bin", FlashAfter(4)));
    }
    Cli cli(work, FlashArgs(4, "COM2"), Env(devices), true);
    ASSERT_TRUE(cli.WaitForError(question));
    cli.Type("n\n");
    EXPECT_EQ(cli.Finish(), 1);
    EXPECT_EQ(cli.OutLines().back(), "Aktualnie masz wgrane oprogramowanie nr: 105");
    EXPECT_NE(cli.err.find("tandel-cli: answered No: the card was not programmed"),
              std::string::npos);
}

TEST_F(CliFlash, JsonEventsCarryTheTextModesLogAndTheLogFileKeepsIt) {
    Devices devices(dir.path, {Pacing{0, false}, {}, {}});
    const fs::path logFile = dir.path / "bench.log";
    std::vector<std::string> args = FlashArgs(1, "COM1");
    args.insert(args.begin(), {"--json", "--log", logFile.string()});
    Cli cli(work, args, Env(devices));
    ASSERT_EQ(cli.Finish(), 0) << cli.err;

    Lines logTexts;
    std::vector<int> positions;
    QJsonObject result;
    for (const std::string& line : cli.OutLines()) {
        QJsonParseError error{};
        const QJsonObject event =
            QJsonDocument::fromJson(QByteArray::fromStdString(line), &error).object();
        ASSERT_EQ(error.error, QJsonParseError::NoError) << line;
        const QString kind = event["event"].toString();
        if (kind == "log") {
            logTexts.push_back(event["text"].toString().toStdString());
        } else if (kind == "progress") {
            EXPECT_EQ(event["max"].toInt(), 3520);
            positions.push_back(event["position"].toInt());
        } else {
            EXPECT_EQ(kind, "result");
            result = event;
        }
    }
    EXPECT_EQ(logTexts, Join({{"Czekam na dane z serwera..."}, kServerBoot, kFlashServer}));
    ASSERT_EQ(positions.size(), 221u);  // one event per frame, and the full bar
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    EXPECT_EQ(positions.back(), 3520);
    EXPECT_EQ(result, (QJsonObject{{"event", "result"},
                                   {"schema", 1},
                                   {"ok", true},
                                   {"exit", 0},
                                   {"result", "programmed"},
                                   {"step", "finish"},
                                   {"firmwareNumber", 105}}));

    // "<ISO time stamp> [<port>] <line>" for every log line, between a header and the result.
    Lines stamped;
    for (const std::string& line : SplitLines(ReadFile(logFile))) {
        ASSERT_GT(line.size(), 25u);
        EXPECT_EQ(line[4], '-');
        EXPECT_EQ(line[10], 'T');
        EXPECT_EQ(line[23], 'Z');
        stamped.push_back(line.substr(25));
    }
    Lines tagged{"[COM1] tandel-cli 1.0.0 flash --type \"" + Type(1).display +
                 "\" --firmware \"" + Type(1).firmware.front() + ".bin\" --port COM1"};
    for (const std::string& text : logTexts) tagged.push_back("[COM1] " + text);
    tagged.push_back("[COM1] result: exit 0 (ok)");
    EXPECT_EQ(stamped, tagged);
}

TEST_F(CliFlash, FirmwareIsAFolderEntryOrAPathAndTheSizeRuleHoldsForBoth) {
    Devices devices(dir.path, {Pacing{0, false}, {}, {}});
    const std::string good = DemoFirmware(Type(1).folder, Type(1).firmware.front());
    WriteFile(work / "usb" / "x.bin", good);
    WriteFile(dir.path / "media" / "y.bin", good);
    WriteFile(work / "usb" / "short.bin", good.substr(0, 15179));
    WriteFile(work / Type(1).folder / "short.bin", good.substr(0, 15179));
    const std::string absolute = (dir.path / "media" / "y.bin").string();
    const std::string missing = (dir.path / "none" / "z.bin").string();
    struct Case {
        std::string firmware;
        int exit;
        std::string err;  // the reason line; empty: none
    };
    const Case cases[] = {
        {"./usb/x.bin", 0, ""},
        {absolute, 0, ""},
        {"usb/short.bin", 4, kWrongSize + " (usb/short.bin)"},
        {"short.bin", 4,
         kWrongSize + " (" + work.string() + "/" + Type(1).folder +
             "/short.bin)"},
        {missing, 4, "File not found. (" + missing + ")"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.firmware);
        Cli cli(work, {"flash", "--type", Type(1).display, "--firmware", c.firmware, "--port", "COM1"},
                Env(devices));
        EXPECT_EQ(cli.Finish(), c.exit);
        EXPECT_EQ(cli.err, c.err.empty() ? "" : "tandel-cli: " + c.err + "\n");
    }
    Cli unknown(work, {"flash", "--type", "Nic", "--firmware", "a.bin", "--port", "COM1"},
                Env(devices));
    EXPECT_EQ(unknown.Finish(), 2);
    EXPECT_NE(unknown.err.find("; it has: \"" + Type(1).display + "\""), std::string::npos)
        << unknown.err;
}

TEST_F(CliFlash, VerboseTellsTheLinesEventsOnStandardError) {
    Devices devices(dir.path, {Pacing{0, false}, {}, {}});
    std::vector<std::string> args = FlashArgs(1, "COM1");
    args.insert(args.begin(), "-v");
    Cli cli(work, args, Env(devices));
    EXPECT_EQ(cli.Finish(), 0) << cli.err;
    EXPECT_EQ(cli.OutLines(), Join({{"Czekam na dane z serwera..."}, kServerBoot, kFlashServer}));
    const std::string port =
        "tandel-cli: line: port \\\\.\\COM1 = " + (devices.portDir / "COM1").string();
    for (const std::string& text : {port + " opened, 9600 bit/s 8N1\n",
                                    std::string("tandel-cli: line: sent 16500 bytes, received 220 "
                                                "bytes\n"),
                                    port + " closed\n"}) {
        EXPECT_NE(cli.err.find(text), std::string::npos) << text << "\n" << cli.err;
    }
}

TEST_F(CliFlash, TimeoutEndsTheWaitsWithoutALimitAsStopDoes) {
    struct Case {
        const char* fault;  // the device stays silent there
        int kind;
        double seconds;  // at most: the bound, and for kind 3 the server's start before it
        Lines lines;
    };
    const Case cases[] = {
        {"server:greeting=silent", 1, 4.0, {"Czekam na dane z serwera...", "SerialPort wolny..."}},
        {"server:probe=silent",
         3,
         14.0,
         {"Inicjalizacja serwera... Czekaj (max 10sek)", "SerialPort wolny..."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        Devices devices(dir.path / c.fault, {Pacing{0, false}, {*ParseDeviceFault(c.fault)}, {}});
        std::vector<std::string> args = FlashArgs(c.kind, "COM1");
        args.insert(args.begin(), {"--json", "--timeout", "1"});
        Cli cli(work, args, Env(devices));
        EXPECT_EQ(cli.Finish(), 3);
        EXPECT_LT(cli.Seconds(), c.seconds);
        EXPECT_EQ(cli.err, "tandel-cli: time-out after 1 s\n");
        Lines texts;
        QJsonObject result;
        for (const std::string& line : cli.OutLines()) {
            const QJsonObject event =
                QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
            if (event["event"] == "log") texts.push_back(event["text"].toString().toStdString());
            if (event["event"] == "result") result = event;
        }
        EXPECT_EQ(texts, c.lines);
        EXPECT_EQ(result["result"].toString(), "stopped");
    }
    Cli bad(work, {"--timeout", "0", "ports"}, {});
    EXPECT_EQ(bad.Finish(), 2);
}

}  // namespace
