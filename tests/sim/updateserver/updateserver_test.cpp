#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "BaseDirectory.h"
#include "CatalogueServer.h"
#include "Cp1250.h"
#include "DemoCatalogue.h"
#include "DeviceConfig.h"
#include "HttpClient.h"
#include "LiveUpdate.h"
#include "ServerThread.h"

namespace fs = std::filesystem;
using ::testing::ElementsAreArray;

namespace {

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class TempDir {
  public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "tandel-updateserver-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempDir() { fs::remove_all(path_); }
    const fs::path& Path() const { return path_; }

  private:
    fs::path path_;
};

class Host : public LiveUpdateHost {
  public:
    explicit Host(std::string base) : base_(std::move(base)) {}
    void LogClear() override { log.clear(); }
    void LogAppend(const std::string& line) override { log.push_back(line); }
    void ProcessMessages() override {}
    void PaintOnlyPass() override {}
    std::vector<std::string> DeviceTypeLines() override { return lines; }
    std::string BaseDirectory() override { return base_; }

    std::vector<std::string> lines;
    std::vector<std::string> log;

  private:
    std::string base_;
};

}  // namespace

TEST(DemoCatalogue, OneTypeOfEachKindAndItFillsTheStoreThroughTheServer) {
    TempDir temp;
    WriteDemoCatalogue((temp.Path() / "server").string());
    const fs::path base = temp.Path() / "client";
    fs::create_directory(base);
    const std::vector<std::string> lines = SplitTextLines(DemoInitCfg());
    ASSERT_EQ(lines.size(), DemoDeviceTypes().size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(CutDeviceKind(lines[i]), i + 1) << lines[i];
        EXPECT_EQ(CutFolder(lines[i]), DemoDeviceTypes()[i].folder);
    }
    CreateDeviceFolders(base.string(), lines);

    ServerThread server(temp.Path() / "server");
    setenv("TANDEL_LIVEUPDATE_URL", server.BaseAddress().c_str(), 1);
    HttpClient http;
    Host host(base.string());
    host.lines = lines;
    RunLiveUpdate(host, http);
    ASSERT_EQ(host.log.back(), "Aktualizacja oprogramowania zakończona.");

    for (const auto& type : DemoDeviceTypes()) {
        const fs::path store = base / type.folder;
        ASSERT_GE(type.firmware.size(), 2u);
        for (const auto& name : type.firmware) {
            EXPECT_EQ(ReadFile(store / (name + ".bin")), DemoFirmware(type.folder, name));
        }
        const std::string description = Cp1250ToUtf8(ReadFile(store / "opis.txt"));
        EXPECT_EQ(SplitTextLines(description).front(),
                  type.description.substr(0, type.description.find('\n')));
    }
    EXPECT_NE(Cp1250ToUtf8(ReadFile(base / "pelta_serwer" / "opis.txt")).find("obsługa"),
              std::string::npos);
    EXPECT_NE(DemoFirmware("a", "b"), DemoFirmware("a", "c"));

    // A second run finds everything present.
    RunLiveUpdate(host, http);
    EXPECT_EQ(host.log[2], DemoDeviceTypes()[0].firmware[0] + ".bin : JEST");
    unsetenv("TANDEL_LIVEUPDATE_URL");
}

TEST(CatalogueServer, ServesOnlyRegularFilesInsideTheCatalogueByTheirCp1250Names) {
    TempDir temp;
    const fs::path catalogue = temp.Path() / "liveupdate";
    fs::create_directories(catalogue / "moje urządzenia" / "katalog.bin");
    std::ofstream(catalogue / "moje urządzenia" / "lista.txt", std::ios::binary) << "a\r\n";
    std::ofstream(temp.Path() / "tajne.txt") << "poza katalogiem";

    ServerThread server(temp.Path());
    HttpClient http;
    const std::string base = server.BaseAddress();
    EXPECT_EQ(http.Get(base + "moje%20urz%B9dzenia/lista.txt", 100), "a\r\n");
    for (const std::string path :
         {"moje%20urz%B9dzenia/katalog.bin", "moje%20urz%B9dzenia/brak.txt", "%2E%2E/tajne.txt",
          "moje%20urz%B9dzenia/%2E%2E/%2E%2E/tajne.txt", "moje%20urz%B9dzenia//lista.txt"}) {
        try {
            http.Get(base + path, 100);
            ADD_FAILURE() << path << " was served";
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "HTTP/1.1 404 Not Found") << path;
        }
    }
}

TEST(UpdateServerProgram, WritesTheDemoThenPrintsItsAddressAndServesUntilKilled) {
    TempDir temp;
    const std::string root = (temp.Path() / "katalog").string();
    const std::string initCfg = (temp.Path() / "init.cfg").string();
    const std::string make = std::string(TANDEL_UPDATESERVER) + " --make-demo '" + root +
                             "' --init-cfg '" + initCfg + "'";
    ASSERT_EQ(std::system(make.c_str()), 0);
    EXPECT_EQ(ReadFile(initCfg), DemoInitCfg());

    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execl(TANDEL_UPDATESERVER, TANDEL_UPDATESERVER, root.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
    close(out[0]);
    EXPECT_THAT(line, ::testing::MatchesRegex("http://127\\.0\\.0\\.1:[0-9]+/liveupdate/"));

    HttpClient http;
    const auto& first = DemoDeviceTypes().front();
    EXPECT_EQ(http.GetAtMost(line + first.folder + "/" + first.firmware.front() + ".bin", 15180),
              DemoFirmware(first.folder, first.firmware.front()));
    http.EndOfRun();  // else the server waits for the kept-alive connection to time out

    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(CatalogueServer, KeepsConnectionsAliveAndChargesTheRoundTripOfAWideAreaLink) {
    using namespace std::chrono_literals;
    TempDir temp;
    WriteDemoCatalogue(temp.Path().string());
    constexpr auto kRoundTrip = 150ms;
    ServerThread server(temp.Path(), kRoundTrip);
    const std::string url = server.BaseAddress() + DemoDeviceTypes()[0].folder + "/lista.txt";
    HttpClient http;
    std::vector<int> codes;
    http.SetOnStatus([&](int code, const std::string&) { codes.push_back(code); });
    auto timed = [&] {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(http.Get(url, 1 << 20).empty());
        return std::chrono::steady_clock::now() - start;
    };

    EXPECT_GE(timed(), 2 * kRoundTrip);  // connection set-up and the response
    for (int i = 0; i < 2; ++i) {
        const auto again = timed();
        EXPECT_GE(again, kRoundTrip);
        EXPECT_LT(again, 2 * kRoundTrip - 10ms);
    }
    http.EndOfRun();
    EXPECT_GE(timed(), 2 * kRoundTrip);  // a new connection pays its set-up again
    http.EndOfRun();
    EXPECT_EQ(codes, (std::vector<int>{0, 1, 2, 3, 4, 0, 1, 2, 3, 4}));
}
