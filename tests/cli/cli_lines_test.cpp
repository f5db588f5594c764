// tandel-cli flash as a program of its own on the simulated devices' pseudo-terminals, with the
// real termios backend: one run of each kind from start to end, and what only a process and a
// real port show (ports another program holds, two processes side by side, a terminal).
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <regex>

#include "CliHarness.h"
#include "DemoWork.h"
#include "DeviceFaults.h"

namespace {

using namespace clitest;

// The demo's working folder, and the simulated devices' flash files.
struct CliFlash : DemoWork {
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

// The name of this program as another program sees it holding a port.
std::string ThisProgramsName() {
    std::string name = ReadFile("/proc/self/comm");
    if (!name.empty() && name.back() == '\n') name.pop_back();
    return name;
}

// The kinds run side by side, each on a device set of its own: kinds 3 and 5 spend most of
// their time in the designed 8-second pause.
TEST_F(CliFlash, EveryKindProgramsItsDeviceWithTheWindowsLog) {
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
    std::vector<std::unique_ptr<Devices>> devices;
    std::vector<std::unique_ptr<Cli>> runs;
    for (const Case& c : cases) {
        devices.push_back(
            std::make_unique<Devices>(dir.path / ("kind" + std::to_string(c.kind)),
                                      PtyDeviceSet::Options{Pacing{0, false}, {}, {}}));
        std::vector<std::string> args = FlashArgs(c.kind, c.port);
        if (c.kind == 4) args.push_back("--yes");
        runs.push_back(std::make_unique<Cli>(work, args, Env(*devices.back())));
    }
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        Cli& cli = *runs[i];
        SCOPED_TRACE("kind " + std::to_string(c.kind));
        EXPECT_EQ(cli.Finish(), 0) << cli.err;
        EXPECT_EQ(cli.OutLines(), c.lines);
        EXPECT_EQ(cli.err, "");  // no terminal: neither progress nor question on stderr
        EXPECT_TRUE(FlashFileHolds(devices[i]->flashDir / c.flashFile, FlashAfter(c.kind)));
    }
}

// The port is the one named, and only a free one: a name the machine does not map is no port,
// a port another program holds (lock file or an open descriptor alone) is in use and the
// search passes it.
TEST_F(CliFlash, OnlyTheNamedFreePortIsOpened) {
    Devices devices(dir.path, {Pacing{0, false}, {}, {}});
    {
        Cli cli(work, FlashArgs(1, "COM7"), Env(devices));
        EXPECT_EQ(cli.Finish(), 3);
        EXPECT_EQ(cli.err, "tandel-cli: Błąd otwarcia SerialPort... COM7: no such port\n");
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
        EXPECT_NE(
            cli.err.find("in use by " + ThisProgramsName() + " (PID " + std::to_string(holder)),
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
// it redraws in place, short of the last column, also after the terminal narrowed under it.
TEST_F(CliFlash, OnATerminalTheQuestionIsAskedAndTheProgressRedrawn) {
    Devices devices(dir.path, {Pacing{115200, false}, {}, {}});
    const std::string question =
        "Twoja karta ma wgrane oprogramowanie nr:" + Type(4).firmware.front() +
        ".bin czy kontynuować ? [t/N] ";
    {
        Cli cli(work, FlashArgs(4, "COM2"), Env(devices), true);
        cli.Resize(40);
        ASSERT_TRUE(cli.WaitForError(question)) << cli.err;
        cli.Type("t\n");
        ASSERT_TRUE(cli.WaitForError("% frame 50/220"));
        cli.Resize(20);
        EXPECT_EQ(cli.Finish(), 0) << cli.err;
        EXPECT_EQ(cli.OutLines().back(), "SerialPort wolny...");
        // Each redraw: a carriage return, the erasing, the line; frame 0 to 220 and the resize.
        size_t widest = 0, redraws = 0;
        bool narrowed = false;
        for (std::string line : SplitLines(std::regex_replace(cli.err, std::regex("\r"), "\n"))) {
            narrowed = narrowed || line.rfind("\033[1A\033[J", 0) == 0;
            line = std::regex_replace(line, std::regex("\033\\[[0-9]*[AJK]"), "");
            if (line.find("% frame ") == std::string::npos) continue;
            EXPECT_LT(line.size(), narrowed ? 20u : 40u) << line;
            widest = std::max(widest, line.size());
            ++redraws;
        }
        EXPECT_TRUE(narrowed && widest == 39 && redraws >= 221) << widest << " " << redraws;
        EXPECT_TRUE(FlashFileHolds(devices.flashDir / "COM2-card.bin", FlashAfter(4)));
    }
    {
        // A wait without a limit of its own is told, with how to end it.
        Devices silent(dir.path / "silent",
                       {{}, {ParseDeviceFault("server:greeting=silent").value()}, {}});
        Cli waiting(work, FlashArgs(1, "COM1"), Env(silent), true);
        ASSERT_TRUE(waiting.WaitForError("tandel-cli: waiting for the server on COM1 to greet"));
        waiting.Signal(SIGINT);
        EXPECT_EQ(waiting.Finish(), 130);
    }
    {
        // Ctrl+C at the question is STOP: its status, and the journal says stopped, not No.
        auto env = Env(devices);
        env["XDG_STATE_HOME"] = (dir.path / "state").string();
        Cli stopped(work, FlashArgs(4, "COM2"), env, true);
        ASSERT_TRUE(stopped.WaitForError(question));
        stopped.Signal(SIGINT);
        EXPECT_EQ(stopped.Finish(), 130);
        EXPECT_NE(ReadFile(dir.path / "state/tandel/journal.jsonl").find(R"("end":"stopped")"),
                  std::string::npos);
    }
    // No, with --tag: the question carries the tag as every other line does.
    Lines tagged = FlashArgs(4, "COM2");
    tagged.push_back("--tag");
    Cli cli(work, tagged, Env(devices), true);
    ASSERT_TRUE(cli.WaitForError("[COM2] " + question));
    cli.Type("n\n");
    EXPECT_EQ(cli.Finish(), 1);
    EXPECT_EQ(cli.OutLines().back(), "[COM2] Aktualnie masz wgrane oprogramowanie nr: 105");
    EXPECT_NE(cli.err.find("tandel-cli: COM2: answered No: the card was not programmed"),
              std::string::npos);
}

// The README's loop over every adapter, run on four simulated servers at once: four streams,
// each line tagged with its port, and four results in the log file.
TEST_F(CliFlash, TheReadmesLoopOverEveryAdapterGivesFourTaggedStreams) {
    const std::string readme = ReadFile(TANDEL_SOURCE_DIR "/README.md");
    const size_t begin = readme.find("    for port in $(tandel-cli ports");
    const size_t end = readme.find("    wait\n", begin);
    ASSERT_NE(end, std::string::npos);
    std::vector<std::unique_ptr<Devices>> servers;
    for (int n = 1; n <= 4; ++n) {  // COMn of the bench is the server COM1 of simulator n
        servers.push_back(std::make_unique<Devices>(
            dir.path / std::to_string(n), PtyDeviceSet::Options{Pacing{0, false}, {}, {}}));
        fs::create_directories(dir.path / "bench");
        fs::create_symlink(servers.back()->portDir / "COM1",
                           dir.path / "bench" / ("COM" + std::to_string(n)));
    }
    Cli loop(work, {"-c", readme.substr(begin, end + 9 - begin)},
             {{"TANDEL_PORTS", (dir.path / "bench").string()},
              {"PATH", fs::path(TANDEL_CLI).parent_path().string() + ":" + std::getenv("PATH")}},
             false, "/bin/bash");
    EXPECT_EQ(loop.Finish(120000), 0);
    std::map<std::string, Lines> streams;
    for (const std::string& line : loop.OutLines())
        streams[line.substr(0, 7)].push_back(line.substr(7));
    const std::string log = ReadFile(work / "bench.log");
    for (const char* tag : {"[COM1] ", "[COM2] ", "[COM3] ", "[COM4] "}) {
        EXPECT_EQ(streams[tag], Join({{"Czekam na dane z serwera..."}, kServerBoot, kFlashServer}));
        EXPECT_NE(log.find(tag + std::string("result: exit 0 (ok)")), std::string::npos) << tag;
    }
    EXPECT_EQ(streams.size(), 4u) << loop.err;
}

}  // namespace
