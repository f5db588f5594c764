// tandel-cli's listing commands, LiveUpdate against a loopback catalogue server, and usage.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <iterator>
#include <memory>
#include <thread>

#include "CliHarness.h"
#include "DemoCatalogue.h"

namespace {

using namespace clitest;

TEST(CliLiveUpdate, FillsTheStoreAndAnHttpErrorEndsWithFive) {
    TempDir dir;
    WriteDemoCatalogue((dir.path / "server").string());
    ServerThread catalogue(dir.path / "server");
    const std::map<std::string, std::string> env{
        {"TANDEL_LIVEUPDATE_URL", catalogue.BaseAddress()}};
    const fs::path work = dir.path / "work";
    WriteFile(work / "init.cfg", DemoInitCfg());
    {
        Cli cli(work, {"liveupdate"}, env);
        EXPECT_EQ(cli.Finish(), 0) << cli.err;
        EXPECT_EQ(cli.OutLines().back(), "Aktualizacja oprogramowania zakończona.");
        EXPECT_EQ(cli.err, "");  // the connection states only on a terminal
        for (const DemoDeviceType& type : DemoDeviceTypes()) {
            for (const std::string& name : type.firmware) {
                EXPECT_EQ(ReadFile(work / type.folder / (name + ".bin")),
                          DemoFirmware(type.folder, name));
            }
        }
    }
    {
        // With --json the connection states are events, and the run's lines are log events.
        Cli cli(work, {"liveupdate", "--json"}, env);
        EXPECT_EQ(cli.Finish(), 0);
        int states = 0;
        for (const std::string& line : cli.OutLines()) {
            const QJsonObject event =
                QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
            if (event["event"] == "status") ++states;
        }
        EXPECT_GE(states, 5);
        const QJsonObject result =
            QJsonDocument::fromJson(QByteArray::fromStdString(cli.OutLines().back())).object();
        size_t files = 0;
        for (const DemoDeviceType& type : DemoDeviceTypes()) files += type.firmware.size();
        EXPECT_EQ(result["present"].toInt(), static_cast<int>(files));
        EXPECT_EQ(result["stored"].toInt(), 0);
    }
    {
        // A device type skipped for its folder name: done, but with a status of its own.
        WriteFile(work / "init.cfg", "Poza:.. 1\r\n" + DemoInitCfg());
        Cli cli(work, {"liveupdate"}, env);
        EXPECT_EQ(cli.Finish(), 7);
        EXPECT_NE(cli.err.find("refused or skipped: 0 stored, "), std::string::npos) << cli.err;
        EXPECT_NE(cli.err.find(" 1 device types skipped"), std::string::npos) << cli.err;
    }
    WriteFile(work / "init.cfg", "Nieznany:nie_ma_takiego 1\r\n");
    Cli cli(work, {"liveupdate"}, env);
    EXPECT_EQ(cli.Finish(), 5);
    EXPECT_EQ(cli.OutLines(), std::vector<std::string>{"Pobieram listę oprogramowania dla : "
                                                       "nie_ma_takiego"});
    EXPECT_EQ(cli.err, "tandel-cli: HTTP/1.1 404 Not Found. (" + catalogue.BaseAddress() +
                           "nie_ma_takiego/lista.txt)\n");
    Cli refused(work, {"liveupdate"},
                {{"TANDEL_LIVEUPDATE_URL", "http://127.0.0.1:1/liveupdate/"}});
    EXPECT_EQ(refused.Finish(), 5);
    EXPECT_EQ(refused.err, "tandel-cli: Socket Error # 111 Connection refused. "
                           "(http://127.0.0.1:1/liveupdate/nie_ma_takiego/lista.txt)\n");
}

// --sequential asks for one file at a time, on one connection; without it the run fetches
// ahead on several. Both store the same.
TEST(CliLiveUpdate, SequentialFetchesOneAtATimeOnOneConnection) {
    for (const bool sequential : {true, false}) {
        SCOPED_TRACE(sequential ? "--sequential" : "fetching ahead");
        TempDir dir;
        WriteDemoCatalogue((dir.path / "server").string());
        ServerThread catalogue(dir.path / "server");
        const fs::path work = dir.path / "work";
        WriteFile(work / "init.cfg", DemoInitCfg());
        std::vector<std::string> args = {"liveupdate"};
        if (sequential) args.push_back("--sequential");
        Cli cli(work, args, {{"TANDEL_LIVEUPDATE_URL", catalogue.BaseAddress()}});
        ASSERT_EQ(cli.Finish(), 0) << cli.err;
        for (const DemoDeviceType& type : DemoDeviceTypes()) {
            for (const std::string& name : type.firmware)
                EXPECT_EQ(ReadFile(work / type.folder / (name + ".bin")),
                          DemoFirmware(type.folder, name));
        }
        EXPECT_EQ(catalogue.Connections() == 1, sequential) << catalogue.Connections();
    }
}

TEST(CliListings, PortsAndTypesOfThisFolder) {
    TempDir dir;
    Devices devices(dir.path, {Pacing{0, false}, {}, {}});
    fs::create_symlink(dir.path / "gone", devices.portDir / "COM4");
    const std::map<std::string, std::string> env{{"TANDEL_PORTS", devices.portDir.string()}};
    const fs::path work = dir.path / "work";
    WriteFile(work / "init.cfg", DemoInitCfg());
    WriteFile(work / "pelta_serwer" / "b.bin", "");
    WriteFile(work / "pelta_serwer" / "a.bin", "");
    WriteFile(work / "pelta_serwer" / "opis.txt", "");

    WriteFile(devices.portDir / "COM5", "");  // a plain file: no terminal
    Cli present(work, {"ports"}, env);
    EXPECT_EQ(present.Finish(), 0);
    EXPECT_EQ(present.OutLines(),
              (std::vector<std::string>{
                  "COM1 = " + fs::canonical(devices.portDir / "COM1").string(),
                  "COM2 = " + fs::canonical(devices.portDir / "COM2").string()}));

    Cli ports(work, {"ports", "--all"}, env);
    EXPECT_EQ(ports.Finish(), 0);
    const auto lines = ports.OutLines();
    ASSERT_EQ(lines.size(), 20u);
    EXPECT_EQ(lines[0], "COM1 = " + fs::canonical(devices.portDir / "COM1").string());
    EXPECT_EQ(lines[1], "COM2 = " + fs::canonical(devices.portDir / "COM2").string());
    EXPECT_EQ(lines[2], "COM3: no such port");
    EXPECT_EQ(lines[3], "COM4: no such port");

    Cli json(work, {"ports", "--json"}, env);
    EXPECT_EQ(json.Finish(), 0);
    const QJsonObject com1 =
        QJsonDocument::fromJson(QByteArray::fromStdString(json.OutLines().front())).object();
    EXPECT_EQ(com1["port"].toString(), "COM1");
    EXPECT_EQ(com1["path"].toString().toStdString(), (devices.portDir / "COM1").string());
    EXPECT_TRUE(com1["mayOpen"].toBool());

    Cli types(work, {"types", "--json"}, {});
    EXPECT_EQ(types.Finish(), 0);
    ASSERT_EQ(types.OutLines().size(), 6u);  // five types and the result
    const QJsonObject pelta =
        QJsonDocument::fromJson(QByteArray::fromStdString(types.OutLines().front())).object();
    EXPECT_EQ(pelta["text"].toString(), "Serwer PELTA");
    EXPECT_EQ(pelta["folder"].toString(), "pelta_serwer");
    EXPECT_EQ(pelta["kind"].toInt(), 1);
    EXPECT_EQ(pelta["firmware"].toArray().size(), 2);

    Cli noConfig(dir.path, {"types"}, {});
    EXPECT_EQ(noConfig.Finish(), 4);
    EXPECT_NE(noConfig.err.find("init.cfg"), std::string::npos);
}

TEST(CliUsage, HelpVersionAndMistakes) {
    TempDir dir;
    struct Case {
        std::vector<std::string> args;
        int exit;
        const char* reasonNames = "";  // what the reason must name
    };
    const Case cases[] = {
        {{"--help"}, 0},
        {{"flash", "--help"}, 0},
        {{"--version"}, 0},
        {{"-V"}, 0},
        {{"-v"}, 2},  // --verbose, not the version: no command
        {{"--version", "ports"}, 2},
        {{"-V", "flash", "--type", "A", "--firmware", "x.bin", "--port", "COM1"}, 2},
        {{"--help-all"}, 2},
        {{"bogus"}, 2},
        {{"types", "--all"}, 2},
        {{}, 2},
        {{"erase"}, 2},
        {{"ports", "--bogus"}, 2},
        {{"ports", "extra"}, 2},
        {{"flash", "--firmware", "x.bin"}, 2},
        {{"flash", "--type", "A", "--folder", "f", "--kind", "1", "--firmware", "x.bin"}, 2},
        {{"flash", "--folder", "f", "--kind", "x", "--firmware", "x.bin"}, 2},
        {{"flash", "--folder", "f", "--kind", "7", "--firmware", "x.bin"}, 2},
        {{"flash", "--type", "", "--firmware", "x.bin", "--port", "COM1"}, 2, "--type"},
        {{"--log", (dir.path / "no" / "such" / "log").string(), "ports"}, 4},
        {{"--timeout", "none", "-C", (dir.path / "none").string(), "types"}, 4},
    };
    for (const Case& c : cases) {
        Cli cli(dir.path, c.args, {});
        EXPECT_EQ(cli.Finish(), c.exit) << (c.args.empty() ? "" : c.args[0]) << cli.err;
        if (c.exit == 0) {
            EXPECT_FALSE(cli.out.empty());
        } else {
            EXPECT_EQ(std::count(cli.err.begin(), cli.err.end(), '\n'), 1) << cli.err;
            EXPECT_NE(cli.err.find(c.reasonNames), std::string::npos) << cli.err;
        }
    }
    // With --json every ending, help, version and those the parser finds included, ends with
    // one result object; help and version come before it as one event.
    for (const Case& c : cases) {
        std::vector<std::string> args{"--json"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Cli cli(dir.path, args, {});
        EXPECT_EQ(cli.Finish(), c.exit);
        ASSERT_EQ(cli.OutLines().size(), c.exit == 0 ? 2u : 1u) << cli.out;
        const QJsonObject result =
            QJsonDocument::fromJson(QByteArray::fromStdString(cli.OutLines().back())).object();
        EXPECT_EQ(result["event"].toString(), "result") << cli.out;
        EXPECT_EQ(result["schema"].toInt(), 1);
        EXPECT_EQ(result["exit"].toInt(), c.exit);
        EXPECT_EQ(result["reason"].toString().isEmpty(), c.exit == 0);
    }
    Cli help(dir.path, {"--help"}, {});
    help.Finish();
    for (const char* text : {"-V, --version", "-v, --verbose", "Exit status:", "Environment:"})
        EXPECT_NE(help.out.find(text), std::string::npos) << text;
    EXPECT_EQ(help.out.find("help-all"), std::string::npos);
    // A command's help: its own options, once; the exit statuses only in the one above.
    Cli flash(dir.path, {"flash", "--help"}, {});
    flash.Finish();
    for (const char* text : {"-p, --port", "-t, --type", "-f, --firmware", "-y, --yes", "--tag"})
        EXPECT_NE(flash.out.find(text), std::string::npos) << text;
    for (const char* text : {"Exit status:", "Arguments:", "--sequential", "--verbose"})
        EXPECT_EQ(flash.out.find(text), std::string::npos) << text;

    Cli version(dir.path, {"--version"}, {});
    version.Finish();
    EXPECT_EQ(version.out, "tandel-cli 1.0.0\n");
}

}  // namespace

namespace {

// Answers every connection on a loopback port with `reply`, then closes it.
class RawHttpServer {
  public:
    // `drip`: after the reply, one byte every 5 ms until the client goes; an empty reply is
    // never sent: the request stalls.
    explicit RawHttpServer(std::string reply, bool drip = false) : reply_(std::move(reply)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            ::listen(listener_, 4) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            std::abort();
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this, drip] {
            for (int client; (client = ::accept(listener_, nullptr, nullptr)) >= 0;) {
                char request[4096];
                (void)!::read(client, request, sizeof request);
                if (reply_.empty()) {  // holds the request until the client gives up
                    while (::read(client, request, sizeof request) > 0) {
                    }
                } else {
                    (void)!::write(client, reply_.data(), reply_.size());
                    while (drip && ::send(client, "x", 1, MSG_NOSIGNAL) == 1)
                        std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
                ::close(client);
            }
        });
    }
    ~RawHttpServer() {
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
    }
    std::string BaseAddress() const {
        return "http://127.0.0.1:" + std::to_string(port_) + "/liveupdate/";
    }

  private:
    std::string reply_;
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
};

}  // namespace

// SIGINT and SIGTERM end a LiveUpdate within half a second also while a request stalls or
// drips; the transfer is dropped and nothing of it is stored.
// The four runs start side by side, each in a folder of its own, and are signalled one by one.
TEST(CliSignals, ASignalEndsALiveUpdateDuringARequest) {
    TempDir dir;
    const std::string drip = "HTTP/1.1 200 OK\r\nContent-Length: 15180\r\n\r\n";
    struct Case {
        bool dripping;
        int signal;
    };
    const Case cases[] = {{false, SIGINT}, {false, SIGTERM}, {true, SIGINT}, {true, SIGTERM}};
    std::vector<std::unique_ptr<RawHttpServer>> servers;
    std::vector<std::unique_ptr<Cli>> updates;
    std::vector<fs::path> works;
    for (const Case& c : cases) {
        works.push_back(dir.path / ("work" + std::to_string(works.size())));
        WriteFile(works.back() / "init.cfg", "Typ:typ 1\r\n");
        servers.push_back(
            std::make_unique<RawHttpServer>(c.dripping ? drip : std::string(), c.dripping));
        updates.push_back(
            std::make_unique<Cli>(works.back(), std::vector<std::string>{"liveupdate"},
                                  std::map<std::string, std::string>{
                                      {"TANDEL_LIVEUPDATE_URL", servers.back()->BaseAddress()}}));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(std::string(c.dripping ? "dripping " : "stalled ") + std::to_string(c.signal));
        Cli& update = *updates[i];
        update.Signal(c.signal);
        const auto signalled = Steady::now();
        EXPECT_EQ(update.Finish(), c.signal == SIGINT ? 130 : 143);
        EXPECT_LT(Steady::now() - signalled, std::chrono::milliseconds(500));
        EXPECT_FALSE(fs::exists(works[i] / "typ" / "opis.txt"));
    }
}

// Control characters from init.cfg and from a server never reach a terminal raw: they show as
// \xNN there, JSON keeps escaping them, and the log file keeps the text without them.
TEST(CliTerminal, ControlCharactersFromOutsideAreShownEscaped) {
    TempDir dir;
    const fs::path work = dir.path / "work";
    WriteFile(work / "init.cfg",
              "Z\xB3"
              "a\x1b[31m:fw\x07\x7f 1\r\n");

    Cli types(work, {"types"}, {});
    EXPECT_EQ(types.Finish(), 0);
    EXPECT_EQ(types.out, "Zła\\x1b[31m (fw\\x07\\x7f, kind 1)\n");
    Cli json(work, {"types", "--json"}, {});
    EXPECT_EQ(json.Finish(), 0);
    EXPECT_NE(json.out.find("\"text\":\"Zła\\u001b[31m\""), std::string::npos) << json.out;

    RawHttpServer server("HTTP/1.1 404 Nie ma\x1b]0;przej\xc4\x99te\x07\xc2\x9b" "2J\r\n"
                         "Content-Length: 0\r\n\r\n");
    const fs::path log = dir.path / "run.log";
    Cli update(work, {"liveupdate", "--log", log.string()},
               {{"TANDEL_LIVEUPDATE_URL", server.BaseAddress()}}, true);
    EXPECT_EQ(update.Finish(), 5);
    EXPECT_NE(update.err.find("tandel-cli: HTTP/1.1 404 Nie ma\\x1b]0;przejęte\\x07\\x9b2J."),
              std::string::npos)
        << update.err;
    EXPECT_EQ(update.err.find('\x1b'), std::string::npos);
    const std::string written = ReadFile(log);
    EXPECT_NE(written.find("] HTTP/1.1 404 Nie ma]0;przejęte2J. (http://"), std::string::npos) << written;
}
