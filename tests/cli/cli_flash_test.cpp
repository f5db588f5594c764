// tandel-cli flash and info in the test's process, against the simulated devices in virtual
// time: the endings, their statuses and reasons, the JSON events, the log file, the journal.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <csignal>

#include "CliBench.h"
#include "DemoWork.h"
#include "Report.h"
#include "RunJournal.h"
#include "TerminalFlashHost.h"
#include "UpdateRun.h"

namespace {

using namespace clitest;

const std::string kWrongSize =
    "Błąd : niewłąściwy rozmiar pliku, wykonaj aktualizacje jeszcze raz...";

using CliFlash = DemoWork;

TEST_F(CliFlash, FailuresEndWithTheirStatusAndOneReasonLine) {
    {
        CliBench locked({"server:erase=94"});
        const CliRun run = locked.Run(work, FlashArgs(1, "COM1"));
        EXPECT_EQ(run.exit, 1);
        EXPECT_EQ(run.OutLines().back(), "SerialPort wolny...");
        EXPECT_EQ(
            run.err,
            "tandel-cli: COM1: the device refused the erase step (reply 0x94, LOCK); its flash "
            "was not touched\n");
    }
    {
        CliBench none({}, false);
        const CliRun run = none.Run(work, FlashArgs(2));
        EXPECT_EQ(run.exit, 3);
        EXPECT_EQ(run.OutLines().back(), "Nie wykryto serwera !!!");
        EXPECT_EQ(run.OutLines().size(), 21u);
        EXPECT_EQ(run.err, "tandel-cli: Auto: Nie wykryto serwera !!!\n");
    }
    CliBench bench;
    {
        const CliRun run = bench.Run(work, FlashArgs(1, "xyz"));  // no port's name: nothing opened
        EXPECT_EQ(run.exit, 3);
        EXPECT_EQ(run.err,
                  "tandel-cli: Błąd otwarcia SerialPort... xyz: no such port (COM1 to COM20 or a "
                  "/dev path)\n");
    }
    {
        const CliRun run = bench.Run(work, {"flash", "--folder", Type(1).folder, "--kind", "1",
                                            "--firmware", "absent.bin", "--port", "COM1"});
        EXPECT_EQ(run.exit, 4);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "tandel-cli: COM1: File not found. (" +
                               (work / Type(1).folder / "absent.bin").string() + ")\n");
    }
    {
        // A name that is no entry of the folder's list is refused like a missing file.
        const CliRun run = bench.Run(work, {"flash", "--folder", Type(1).folder, "--kind", "1",
                                            "--firmware", "../init.cfg", "--port", "COM1"});
        EXPECT_EQ(run.exit, 4);
    }
    {
        const CliRun run = bench.Run(work, FlashArgs(4, "COM2"));  // no terminal, no --yes
        EXPECT_EQ(run.exit, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("--yes"), std::string::npos);
    }
    {
        const CliRun run = bench.Run(work, FlashArgs(1, "auto"));
        EXPECT_EQ(run.exit, 2);
        EXPECT_EQ(run.out, "");
    }
    // Nothing above reached the reader, and the server saw no frame.
    EXPECT_TRUE(bench.ReaderCard().Boot().Steps().empty());
    EXPECT_TRUE(bench.Server().Boot().Steps().empty());
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
        CliBench bench({c.fault});
        const std::string port = c.kind == 4 ? "COM2" : "COM1";
        std::vector<std::string> args = FlashArgs(c.kind, port);
        args.push_back("--yes");
        const CliRun run = bench.Run(work, args);
        EXPECT_EQ(run.exit, c.exitCode);
        EXPECT_EQ(run.err, "tandel-cli: " + port + ": " + c.reason + "\n");
    }
}

// The port is the one named: no port text gives no run, and no port is opened for it.
TEST_F(CliFlash, OnlyTheNamedPortIsOpened) {
    CliBench bench;
    for (const std::optional<std::string>& port :
         {std::optional<std::string>(""), std::optional<std::string>()}) {
        std::vector<std::string> args{"flash", "--type", Type(1).display, "--firmware",
                                      Type(1).firmware.front() + ".bin"};
        if (port) args.insert(args.end(), {"--port", *port});
        const CliRun run = bench.Run(work, args);
        EXPECT_EQ(run.exit, 2);
        EXPECT_EQ(run.out, "");
    }
    EXPECT_TRUE(bench.Server().Boot().Steps().empty());
    EXPECT_EQ(bench.Server().GreetingCount(), 0);
}

// Every programming run appends one journal line, on a line of its own after one that a power
// cut left without its end; its firmware fields are the bytes the run loaded, whatever the name
// holds at its end. history prints them; a journal that cannot be written does not stop the run.
TEST_F(CliFlash, EveryRunIsJournalledAndHistoryPrintsIt) {
    std::map<std::string, std::string> env{{"XDG_STATE_HOME", (dir.path / "state").string()}};
    WriteFile(dir.path / "state/tandel/journal.jsonl", "{\"schema\":1,\"cut");
    const fs::path file = work / Type(1).folder / (Type(1).firmware.front() + ".bin");
    const std::string loaded = ReadFile(file);
    bool replaced = false;
    for (const char* fault : {"server:write@17=94", "server:erase=94"}) {
        CliBench bench({fault});
        bench.afterByte = [&] {
            if (replaced || bench.Server().Boot().WriteAddresses().size() != 10) return;
            WriteFile(work / "new", loaded + "a longer file");
            fs::rename(work / "new", file);
            replaced = true;
        };
        bench.Run(work, FlashArgs(1, "COM1"), env);
    }
    CliBench bench;
    const Lines journal = SplitLines(ReadFile(dir.path / "state/tandel/journal.jsonl"));
    ASSERT_EQ(journal.size(), 3u);
    const QJsonObject damaged =
        QJsonDocument::fromJson(QByteArray::fromStdString(journal[1])).object();
    EXPECT_EQ(damaged["result"].toObject(), (QJsonObject{{"end", "damaged"},
                                                         {"step", "write"},
                                                         {"wait", "byte"},
                                                         {"frame", 17},
                                                         {"reply", "94"}}));
    EXPECT_EQ(damaged["firmwareNumberBefore"].toInt(), 105);
    EXPECT_EQ(damaged["port"].toObject()["text"].toString(), "COM1");
    const QJsonObject firmware = damaged["firmware"].toObject();
    EXPECT_EQ(firmware["name"].toString().toStdString(), Type(1).firmware.front() + ".bin");
    const auto sha256 = [](const std::string& bytes) {
        return QCryptographicHash::hash(QByteArray::fromStdString(bytes),
                                        QCryptographicHash::Sha256)
            .toHex();
    };
    EXPECT_EQ(firmware["size"].toInteger(), static_cast<qint64>(loaded.size()));
    EXPECT_EQ(firmware["sha256"].toString(), sha256(loaded));
    EXPECT_EQ(firmware["sentImageSha256"].toString(), sha256(FlashAfter(1).substr(0, 15180)));
    EXPECT_EQ(damaged["kind"].toInt(), 1);

    struct Query {
        std::vector<std::string> args;
        size_t runs;
    };
    for (const Query& q : {Query{{"history"}, 2}, Query{{"history", "--port", "COM1"}, 2},
                           Query{{"history", "--port", "COM2"}, 0},
                           Query{{"history", "--since", "2999-01-01"}, 0}}) {
        const CliRun history = bench.Run(work, q.args, env);
        EXPECT_EQ(history.exit, 0);
        EXPECT_EQ(history.OutLines().size(), q.runs) << q.args.back();
    }
    const CliRun text = bench.Run(work, {"history"}, env);
    EXPECT_NE(text.OutLines().at(0).find(": damaged at write frame 17 reply 0x94"),
              std::string::npos)
        << text.out;

    // Journal and log are regular files only: a named pipe would hold the run for ever.
    WriteFile(dir.path / "blocked", "a file where the journal's folder would be");
    fs::create_directories(dir.path / "piped/tandel");
    ASSERT_EQ(mkfifo((dir.path / "piped/tandel/journal.jsonl").c_str(), 0600), 0);
    for (const char* state : {"blocked", "piped"}) {
        env["XDG_STATE_HOME"] = (dir.path / state).string();
        const CliRun blocked = bench.Run(work, FlashArgs(1, "COM1"), env);
        EXPECT_EQ(blocked.exit, 0);
        EXPECT_NE(blocked.err.find("tandel-cli: journal not written: "), std::string::npos);
    }
    EXPECT_EQ(bench.Run(work, {"history"}, env).exit, 4);
    std::vector<std::string> logged = FlashArgs(1, "COM1");
    logged.insert(logged.begin(), {"--log", "/dev/full"});
    const CliRun full = bench.Run(work, logged, env);
    EXPECT_EQ(full.exit, 4);
    EXPECT_NE(full.err.find("\"/dev/full\". Not a regular file"), std::string::npos) << full.err;
}

// history shows times in local time with their offset, the zone --since reads, and the
// journal's outside texts with their control characters escaped, one run on one line.
TEST_F(CliFlash, HistoryShowsLocalTimesAndOutsideTextsEscaped) {
    // A line longer than any record (a damaged journal) is passed over, not held.
    WriteFile(
        dir.path / "state/tandel/journal.jsonl",
        std::string(kLongestJournalLine + 1, '{') + "\n" +
            R"({"start":"2026-12-09T19:50:00.000Z","user":"u","host":"h",)"
            R"("port":{"text":"COM1\u001b]0;x\u0007","name":"\\\\.\\COM1"},"deviceType":"A\nB",)"
            R"("firmware":{"name":"f.bin"},"result":{"end":"programmed"}})"
            "\n");
    const std::map<std::string, std::string> env{{"XDG_STATE_HOME", dir.path / "state"},
                                                 {"TZ", "Europe/Warsaw"}};
    CliBench bench;
    EXPECT_EQ(bench.Run(work, {"history"}, env).out,
              "2026-12-09T20:50:00+01:00 u@h COM1\\x1b]0;x\\x07 \"A\\x0aB\" f.bin: programmed\n");
    for (const auto& [since, runs] : {std::pair{"2026-12-09T20:50", 1u}, {"2026-12-09T20:51", 0u}})
        EXPECT_EQ(bench.Run(work, {"history", "--since", since}, env).OutLines().size(), runs);
    for (const auto& [port, runs] : {std::pair{"com1", 1u}, {"COM2", 0u}})
        EXPECT_EQ(bench.Run(work, {"history", "--port", port}, env).OutLines().size(), runs);
}

// Output lost to a full disk or a closed pipe: a listing fails (4); a run keeps its device's
// status. Both say so on standard error.
TEST_F(CliFlash, LostOutputIsNeverASilentSuccess) {
    CliBench bench;
    bench.outFile = "/dev/full";
    for (const auto& [args, exitCode] : {std::pair{Lines{"types"}, 4},
                                         {Lines{"--json", "types"}, 4},
                                         {Lines{"--help"}, 4},
                                         {FlashArgs(1, "COM1"), 0}}) {
        SCOPED_TRACE(args.front());
        const CliRun run = bench.Run(work, args);
        EXPECT_EQ(run.exit, exitCode);
        EXPECT_NE(run.err.find("standard output not written: No space left on device"),
                  std::string::npos)
            << run.err;
    }
}

// info asks for the firmware number and nothing more: the flash keeps its firmware.
TEST_F(CliFlash, InfoTellsTheFirmwareNumberWithoutErasing) {
    struct Case {
        int kind;
        const char* port;
        int exitCode;
    };
    for (const Case& c :
         {Case{1, "COM1", 0}, Case{2, nullptr, 0}, Case{4, "COM2", 0}, Case{3, "COM1", 2}}) {
        SCOPED_TRACE(c.kind);
        CliBench bench;
        std::vector<std::string> args{"info", "--type", Type(c.kind).display};
        if (c.port) args.insert(args.end(), {"--port", c.port});
        const CliRun run = bench.Run(work, args);
        ASSERT_EQ(run.exit, c.exitCode) << run.err;
        const BootLoader& boot = c.kind == 4 ? bench.ReaderCard().Boot() : bench.Server().Boot();
        if (c.exitCode != 0) {
            EXPECT_TRUE(boot.Steps().empty());
            continue;
        }
        EXPECT_EQ(run.OutLines().back(), "firmware number: 105");
        EXPECT_EQ(boot.Steps(), std::vector<BootStep>{BootStep::ReadFirmwareNumber});
    }
}

// The signal comes through the program's own handler while the server takes the 60th frame of
// the write, and again at once.
TEST_F(CliFlash, SignalDuringTheWriteIsTheStopAction) {
    CliBench bench;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        const size_t before = bench.Server().Boot().WriteAddresses().size();
        bool raised = false;
        bench.afterByte = [&] {
            if (raised || bench.Server().Boot().WriteAddresses().size() - before < 60) return;
            raised = true;
            std::raise(signal);
            std::raise(signal);  // a second one does nothing more
        };
        const CliRun run = bench.Run(work, FlashArgs(1, "COM1"));
        EXPECT_EQ(run.exit, 128 + signal);
        const Lines lines = run.OutLines();
        ASSERT_GE(lines.size(), 2u);
        const auto write = std::find(lines.begin(), lines.end(), "Zapis flasha...");
        EXPECT_EQ(Lines(write, lines.end()),
                  (Lines{"Zapis flasha...", "SerialPort wolny...",
                         "Błąd : przerwano przez użytkownika", "SerialPort wolny..."}));
        // The status is the signal's; the reason says that the flash is partly written.
        EXPECT_EQ(
            run.err.rfind("tandel-cli: COM1: Błąd : przerwano przez użytkownika; the device's "
                          "flash is erased or partly written (write frame ",
                          0),
            0u)
            << run.err;
    }
    // Neither run got to the end of the write, let alone the reset.
    const BootLoader& boot = bench.Server().Boot();
    EXPECT_GT(boot.WriteAddresses().size(), 0u);
    EXPECT_LT(boot.WriteAddresses().size(), 3 * 220u - 40);
    EXPECT_EQ(std::count(boot.Steps().begin(), boot.Steps().end(), BootStep::ResetServer), 0);
}

TEST_F(CliFlash, JsonEventsCarryTheTextModesLogAndTheLogFileKeepsIt) {
    CliBench bench;
    const fs::path logFile = dir.path / "bench.log";
    std::vector<std::string> args = FlashArgs(1, "COM1");
    args.insert(args.begin(), {"--json", "--log", logFile.string()});
    const CliRun run = bench.Run(work, args);
    ASSERT_EQ(run.exit, 0) << run.err;

    Lines logTexts;
    std::vector<int> positions;
    QJsonObject result;
    for (const std::string& line : run.OutLines()) {
        QJsonParseError error{};
        const QJsonObject event =
            QJsonDocument::fromJson(QByteArray::fromStdString(line), &error).object();
        ASSERT_EQ(error.error, QJsonParseError::NoError) << line;
        const QString kind = event["event"].toString();
        EXPECT_EQ(event["port"].toString(), "COM1") << line;
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
    // What the run worked on, then how it ended.
    const QByteArray file =
        QByteArray::fromStdString(DemoFirmware(Type(1).folder, Type(1).firmware.front()));
    EXPECT_EQ(result.take("firmware")["sha256"].toString(),
              QCryptographicHash::hash(file, QCryptographicHash::Sha256).toHex());
    EXPECT_EQ(result.take("path"), QString::fromStdString((bench.portDir / "COM1").string()));
    EXPECT_EQ(result.take("deviceType"), QString::fromStdString(Type(1).display));
    EXPECT_EQ(result, (QJsonObject{{"event", "result"},
                                   {"schema", 1},
                                   {"ok", true},
                                   {"exit", 0},
                                   {"result", "programmed"},
                                   {"step", "finish"},
                                   {"firmwareNumber", 105},
                                   {"port", "COM1"},
                                   {"kind", 1},
                                   {"before", 105}}));

    // "<ISO time stamp> [<port>] <line>" for every log line, between a header and the result.
    Lines stamped;
    for (const std::string& line : SplitLines(ReadFile(logFile))) {
        ASSERT_GT(line.size(), 25u);
        EXPECT_EQ(line[4], '-');
        EXPECT_EQ(line[10], 'T');
        EXPECT_EQ(line[23], 'Z');
        stamped.push_back(line.substr(25));
    }
    Lines tagged{"[COM1] tandel-cli 1.0.0 flash --type \"" + Type(1).display + "\" --firmware \"" +
                 Type(1).firmware.front() + ".bin\" --port COM1"};
    for (const std::string& text : logTexts) tagged.push_back("[COM1] " + text);
    tagged.push_back("[COM1] result: exit 0 (ok)");
    EXPECT_EQ(stamped, tagged);
}

TEST_F(CliFlash, FirmwareIsAFolderEntryOrAPathAndTheSizeRuleHoldsForBoth) {
    CliBench bench;
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
        {"short.bin", 4, kWrongSize + " (" + work.string() + "/" + Type(1).folder + "/short.bin)"},
        {missing, 4, "File not found. (" + missing + ")"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.firmware);
        const CliRun run = bench.Run(
            work, {"flash", "--type", Type(1).display, "--firmware", c.firmware, "--port", "COM1"});
        EXPECT_EQ(run.exit, c.exit);
        EXPECT_EQ(run.err, c.err.empty() ? "" : "tandel-cli: COM1: " + c.err + "\n");
    }
    const CliRun unknown =
        bench.Run(work, {"flash", "--type", "Nic", "--firmware", "a.bin", "--port", "COM1"});
    EXPECT_EQ(unknown.exit, 2);
    EXPECT_NE(unknown.err.find("; it has: \"" + Type(1).display + "\""), std::string::npos)
        << unknown.err;
}

TEST_F(CliFlash, VerboseTellsTheLinesEventsOnStandardError) {
    CliBench bench;
    std::vector<std::string> args = FlashArgs(1, "COM1");
    args.insert(args.begin(), "-v");
    const CliRun run = bench.Run(work, args);
    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(run.OutLines(), Join({{"Czekam na dane z serwera..."}, kServerBoot, kFlashServer}));
    const std::string port =
        "tandel-cli: line: port \\\\.\\COM1 = " + (bench.portDir / "COM1").string();
    for (const std::string& text : {port + " opened, 9600 bit/s 8N1\n",
                                    std::string("tandel-cli: line: sent 16500 bytes, received 220 "
                                                "bytes\n"),
                                    port + " closed\n"}) {
        EXPECT_NE(run.err.find(text), std::string::npos) << text << "\n" << run.err;
    }
}

TEST_F(CliFlash, TimeoutEndsTheWaitsWithoutALimitAsStopDoes) {
    struct Case {
        const char* fault;  // the device stays silent there
        int kind;
        uint32_t ms;  // at most: the bound, and for kind 3 the server's start before it
        Lines lines;
    };
    const Case cases[] = {
        {"server:greeting=silent", 1, 4000, {"Czekam na dane z serwera...", "SerialPort wolny..."}},
        {"server:probe=silent",
         3,
         14000,
         {"Inicjalizacja serwera... Czekaj (max 10sek)", "SerialPort wolny..."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        CliBench bench({c.fault});
        std::vector<std::string> args = FlashArgs(c.kind, "COM1");
        args.insert(args.begin(), {"--json", "--timeout", "1"});
        const CliRun run = bench.Run(work, args);
        EXPECT_EQ(run.exit, 3);
        EXPECT_LT(run.ms, c.ms);
        EXPECT_EQ(run.err, "tandel-cli: COM1: time-out after 1 s\n");
        Lines texts;
        QJsonObject result;
        for (const std::string& line : run.OutLines()) {
            const QJsonObject event =
                QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
            if (event["event"] == "log") texts.push_back(event["text"].toString().toStdString());
            if (event["event"] == "result") result = event;
        }
        EXPECT_EQ(texts, c.lines);
        EXPECT_EQ(result["result"].toString(), "stopped");
    }
    CliBench bench;
    EXPECT_EQ(bench.Run(work, {"--timeout", "0", "ports"}).exit, 2);
    // Without a terminal on standard input nobody would stop it: a default bound.
    CliBench silent({"server:greeting=silent"});
    const CliRun run = silent.Run(work, FlashArgs(1, "COM1"));
    EXPECT_EQ(run.exit, 3);
    EXPECT_GE(run.ms, 120000u);
    const std::string defaultBound =
        "tandel-cli: COM1: time-out after 120 s (the limit without a terminal; --timeout "
        "SECONDS sets another)\n";
    EXPECT_EQ(run.err, defaultBound);
    const CliRun info = silent.Run(work, {"info", "-t", Type(1).display, "-p", "COM1"});
    EXPECT_EQ(info.err, defaultBound);  // the same bound, reason
}

// Short options, -C DIR, -q and --tag; com1 names COM1.
TEST_F(CliFlash, ShortOptionsAnotherFolderQuietAndTaggedLines) {
    std::vector<std::string> args{"-C", "work",          "-q", "flash",
                                  "-t", Type(1).display, "-f", Type(1).firmware.front() + ".bin",
                                  "-p", "com1"};
    CliBench bench;
    CliRun run = bench.Run(dir.path, args);
    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(run.out + run.err, "");

    CliBench locked({"server:erase=94"});
    args.erase(args.begin(), args.begin() + 3);
    args.push_back("--tag");
    run = locked.Run(work, args);
    EXPECT_EQ(run.exit, 1);
    EXPECT_EQ(run.OutLines().back(), "[COM1] SerialPort wolny...");
    for (const std::string& line : run.OutLines()) EXPECT_EQ(line.rfind("[COM1] ", 0), 0u) << line;
    EXPECT_EQ(run.err,
              "[COM1] tandel-cli: COM1: the device refused the erase step (reply 0x94, LOCK); its "
              "flash was not touched\n");
}

// The terminal's one input, a stop signal, is acted on in the message pass, as the window
// acts on a click there, and never in a paint-only pass.
TEST(CliTerminalHost, AStopSignalActsInTheMessagePassOnly) {
    VirtualClock clock;
    SimulatedBackend backend{clock};
    FILE* sink = std::fopen("/dev/null", "w");
    Report report(false, sink, sink);
    TerminalFlashHost host(report, {}, {backend, clock, sink, sink, -1});
    UpdateRun run(host);
    host.SetRun(&run);
    StopSignal::Install();
    std::raise(SIGINT);
    host.PaintOnlyPass();
    EXPECT_FALSE(host.StopRequested());
    host.ProcessMessages();
    EXPECT_TRUE(host.StopRequested());
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) std::signal(signal, SIG_DFL);
    std::fclose(sink);
}

}  // namespace
