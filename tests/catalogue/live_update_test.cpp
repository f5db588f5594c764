#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <stdexcept>
#include <thread>

#include "BaseDirectory.h"
#include "HttpClient.h"
#include "LiveUpdate.h"
#include "StoreBatch.h"
#include "http_test_server.h"

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace std::string_literals;

namespace {

const std::string kFinal = "Aktualizacja oprogramowania zakończona.";
const std::string kWrongSize =
    "Błąd : niewłąściwy rozmiar pliku, wykonaj aktualizacje jeszcze raz...";

class FakeHost : public LiveUpdateHost {
  public:
    void LogClear() override { log.clear(); }
    void LogAppend(const std::string& line) override { log.push_back(line); }
    void ProcessMessages() override {
        ++messagePasses;
        if (onMessages) onMessages();
    }
    void PaintOnlyPass() override { ++paintPasses; }
    std::vector<std::string> DeviceTypeLines() override { return lines; }
    std::string BaseDirectory() override { return ::BaseDirectory(); }

    std::vector<std::string> lines;
    int paintPasses = 0;
    std::vector<std::string> log;
    int messagePasses = 0;
    std::function<void()> onMessages;
};

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::set<std::string> Entries(const fs::path& directory) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

// Runs in a fresh working directory <root>/base (the base directory) and points the run
// at a test server.
class LiveUpdateTest : public ::testing::Test {
  protected:
    void SetUp() override {
        previous_ = BaseDirectory();
        std::string pattern = (fs::temp_directory_path() / "tandel-liveupdate-XXXXXX").string();
        root_ = mkdtemp(pattern.data());
        base_ = root_ / "base";
        fs::create_directory(base_);
        ASSERT_EQ(chdir(base_.c_str()), 0);
        setenv("TANDEL_LIVEUPDATE_URL", server_.BaseAddress().c_str(), 1);
        http_.SetOnStatus([this](THttpStatus status, const std::string&) {
            codes_.push_back(status);
            if (auto text = StatusLabelText(status)) label_ = *text;
        });
    }
    void TearDown() override {
        unsetenv("TANDEL_LIVEUPDATE_URL");
        EXPECT_EQ(chdir(previous_.c_str()), 0);
        fs::remove_all(root_);
    }

    // Serves lista.txt and opis.txt of a device folder (the folder as sent in the URL).
    void ServeType(const std::string& folder, const std::string& list,
                   const std::string& description = "Opis") {
        server_.Serve("/liveupdate/" + folder + "/lista.txt", list);
        server_.Serve("/liveupdate/" + folder + "/opis.txt", description);
    }
    void ServeFile(const std::string& folder, const std::string& file, const std::string& body) {
        server_.Serve("/liveupdate/" + folder + "/" + file, body);
    }

    void Run() { RunLiveUpdate(host_, *source_, limits_); }

    std::string RunError() {
        try {
            Run();
        } catch (const std::runtime_error& error) {
            return error.what();
        }
        return "(no error)";
    }

    static HttpTimeouts QuickStall() {
        HttpTimeouts timeouts;
        timeouts.stall = std::chrono::milliseconds(500);
        return timeouts;
    }

    HttpTestServer server_;
    HttpClient http_{QuickStall()};
    HttpSource* source_ = &http_;  // what the run fetches through
    // Fetching ahead unless a test asks for the requests one at a time, in list order.
    LiveUpdateLimits limits_{.transfers = kMaxLiveUpdateTransfers};
    FakeHost host_;
    std::string label_ = "______";
    std::vector<int> codes_;
    std::string previous_;
    fs::path root_;
    fs::path base_;
};

TEST_F(LiveUpdateTest, EmptyDeviceTypeListGivesOnlyTheFinalLine) {
    host_.log = {"z poprzedniego uruchomienia"};
    Run();
    EXPECT_THAT(host_.log, ElementsAre(kFinal));
    EXPECT_EQ(host_.messagePasses, 1);
    EXPECT_THAT(server_.Targets(), IsEmpty());
}

TEST_F(LiveUpdateTest, TwoDeviceTypesFetchOnlyWhatNeitherStoreNorBaseDirectoryHolds) {
    limits_.transfers = 1;
    host_.lines = {"PELTA serwer:fa 1", "Karta w czytniku:fb 4"};
    fs::create_directory(base_ / "fa");
    fs::create_directory(base_ / "fb");
    WriteFile(base_ / "fa" / "obecny.bin", "stary");
    WriteFile(base_ / "wspolny.bin", "w katalogu bazowym");
    ServeType("fa", "obecny\r\nbrak\r\nwspolny\r\n", "Opis fa");
    ServeType("fb", "nowy\r\n", "Opis fb");
    ServeFile("fa", "brak.bin", FirmwareBody(kFirmwareFileSize, 1));
    ServeFile("fb", "nowy.bin", FirmwareBody(kFirmwareFileSize, 2));

    Run();

    EXPECT_THAT(host_.log,
                ElementsAre("Pobieram listę oprogramowania dla : fa", "Pobieram opis dla : fa",
                            "obecny.bin : JEST", "brak.bin : POBIERAM", "wspolny.bin : JEST",
                            "Pobieram listę oprogramowania dla : fb", "Pobieram opis dla : fb",
                            "nowy.bin : POBIERAM", kFinal));
    EXPECT_THAT(server_.Targets(),
                ElementsAre("/liveupdate/fa/lista.txt", "/liveupdate/fa/opis.txt",
                            "/liveupdate/fa/brak.bin", "/liveupdate/fb/lista.txt",
                            "/liveupdate/fb/opis.txt", "/liveupdate/fb/nowy.bin"));
    EXPECT_EQ(Entries(base_ / "fa"), (std::set<std::string>{"obecny.bin", "brak.bin", "opis.txt"}));
    EXPECT_EQ(Entries(base_ / "fb"), (std::set<std::string>{"nowy.bin", "opis.txt"}));
    EXPECT_EQ(ReadFile(base_ / "fa" / "brak.bin"), FirmwareBody(kFirmwareFileSize, 1));
    EXPECT_EQ(ReadFile(base_ / "fb" / "nowy.bin"), FirmwareBody(kFirmwareFileSize, 2));
    EXPECT_EQ(ReadFile(base_ / "fa" / "obecny.bin"), "stary");
    EXPECT_EQ(ReadFile(base_ / "fa" / "opis.txt"), "Opis fa");
    EXPECT_EQ(ReadFile(base_ / "fb" / "opis.txt"), "Opis fb");
    // After clearing the log, and after each stored description.
    EXPECT_EQ(host_.messagePasses, 3);
    EXPECT_EQ(label_, "Rozłączono");
}

TEST_F(LiveUpdateTest, OnlyABodyOfExactlyTheFirmwareSizeIsStored) {
    host_.lines = {"Typ:fa 1"};
    fs::create_directory(base_ / "fa");
    ServeType("fa", "krotki\r\ndobry\r\ndlugi\r\nbez_konca\r\nnastepny\r\n");
    ServeFile("fa", "krotki.bin", FirmwareBody(kFirmwareFileSize - 1, 3));
    ServeFile("fa", "dobry.bin", FirmwareBody(kFirmwareFileSize, 4));
    ServeFile("fa", "dlugi.bin", FirmwareBody(kFirmwareFileSize + 1, 5));
    server_.Handle("/liveupdate/fa/bez_konca.bin",
                   [this](const httplib::Request&, httplib::Response& response) {
                       response.set_chunked_content_provider(
                           "application/octet-stream", [this](size_t, httplib::DataSink& sink) {
                               const std::string chunk(1000, 'x');
                               return !server_.Stopping() && sink.write(chunk.data(), chunk.size());
                           });
                   });
    ServeFile("fa", "nastepny.bin", FirmwareBody(kFirmwareFileSize, 6));

    Run();

    EXPECT_THAT(host_.log,
                ElementsAre("Pobieram listę oprogramowania dla : fa", "Pobieram opis dla : fa",
                            "krotki.bin : POBIERAM", kWrongSize, "dobry.bin : POBIERAM",
                            "dlugi.bin : POBIERAM", kWrongSize, "bez_konca.bin : POBIERAM",
                            kWrongSize, "nastepny.bin : POBIERAM", kFinal));
    EXPECT_EQ(Entries(base_ / "fa"),
              (std::set<std::string>{"opis.txt", "dobry.bin", "nastepny.bin"}));
    EXPECT_EQ(ReadFile(base_ / "fa" / "dobry.bin"), FirmwareBody(kFirmwareFileSize, 4));
}

TEST_F(LiveUpdateTest, NotFoundOnTheSecondListEndsTheRunAfterTheFirstTypesFiles) {
    limits_.transfers = 1;
    host_.lines = {"A:fa 1", "B:fb 2", "C:fc 3"};
    for (const char* folder : {"fa", "fb", "fc"}) fs::create_directory(base_ / folder);
    ServeType("fa", "x\r\n");
    ServeFile("fa", "x.bin", FirmwareBody(kFirmwareFileSize, 7));
    ServeType("fc", "y\r\n");

    EXPECT_EQ(RunError(), "HTTP/1.1 404 Not Found");

    EXPECT_THAT(host_.log,
                ElementsAre("Pobieram listę oprogramowania dla : fa", "Pobieram opis dla : fa",
                            "x.bin : POBIERAM", "Pobieram listę oprogramowania dla : fb"));
    EXPECT_EQ(ReadFile(base_ / "fa" / "x.bin"), FirmwareBody(kFirmwareFileSize, 7));
    EXPECT_EQ(server_.Targets().back(), "/liveupdate/fb/lista.txt");
    // The run's one connection is closed by the failure.
    EXPECT_THAT(codes_, ElementsAre(0, 1, 2, 3, 4));
    EXPECT_EQ(server_.Connections(), 1);
    EXPECT_EQ(label_, "Rozłączono");
}

TEST_F(LiveUpdateTest, ANameEndsOnlyAtACarriageReturnAndAnEmptyNameIsFetchedAsDotBin) {
    host_.lines = {"A:fa 1", "B:fb 1"};
    fs::create_directory(base_ / "fa");
    fs::create_directory(base_ / "fb");
    ServeType("fa", "A\r\nB\r\n\r\n");
    ServeType("fb", "A\r\nB");
    for (const char* folder : {"fa", "fb"}) {
        for (const char* file : {"A.bin", "B.bin", ".bin"}) {
            ServeFile(folder, file, FirmwareBody(kFirmwareFileSize, 8));
        }
    }

    Run();

    EXPECT_THAT(host_.log,
                ElementsAre("Pobieram listę oprogramowania dla : fa", "Pobieram opis dla : fa",
                            "A.bin : POBIERAM", "B.bin : POBIERAM", ".bin : POBIERAM",
                            "Pobieram listę oprogramowania dla : fb", "Pobieram opis dla : fb",
                            "A.bin : POBIERAM", kFinal));
    EXPECT_EQ(Entries(base_ / "fa"), (std::set<std::string>{"opis.txt", "A.bin", "B.bin", ".bin"}));
    EXPECT_EQ(Entries(base_ / "fb"), (std::set<std::string>{"opis.txt", "A.bin"}));
}

TEST_F(LiveUpdateTest, ARunUsesOneKeptAliveConnectionAndClosesItAtTheEnd) {
    limits_.transfers = 1;
    host_.lines = {"A:fa 1", "B:fb 2"};
    for (const char* folder : {"fa", "fb"}) fs::create_directory(base_ / folder);
    ServeType("fa", "1\r\n2\r\n3\r\n");
    ServeType("fb", "4\r\n5\r\n");
    for (int i = 1; i <= 5; ++i) {
        ServeFile(i <= 3 ? "fa" : "fb", std::to_string(i) + ".bin",
                  FirmwareBody(kFirmwareFileSize, static_cast<char>(i)));
    }
    std::vector<int> passesAtStatus;
    http_.SetOnStatus([&](THttpStatus status, const std::string&) {
        codes_.push_back(status);
        passesAtStatus.push_back(host_.messagePasses);
        if (auto text = StatusLabelText(status)) label_ = *text;
    });

    Run();

    EXPECT_EQ(host_.log.back(), kFinal);
    EXPECT_EQ(server_.Targets().size(), 9u);
    EXPECT_EQ(server_.Connections(), 1);
    EXPECT_THAT(codes_, ElementsAre(0, 1, 2, 3, 4));
    // Connected during the first request, closed after the final line.
    EXPECT_THAT(passesAtStatus, ElementsAre(1, 1, 1, 3, 3));
    EXPECT_EQ(label_, "Rozłączono");
    EXPECT_EQ(ReadFile(base_ / "fb" / "5.bin"), FirmwareBody(kFirmwareFileSize, 5));
}

TEST_F(LiveUpdateTest, ASlowResponseRunsThePaintOnlyPassNotTheMessagePass) {
    host_.lines = {"A:fa 1"};
    fs::create_directory(base_ / "fa");
    ServeType("fa", "");
    server_.Handle("/liveupdate/fa/opis.txt", [](const httplib::Request&, httplib::Response& r) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        r.set_content("Opis", "text/plain");
    });
    Run();
    EXPECT_EQ(host_.log.back(), kFinal);
    EXPECT_GE(host_.paintPasses, 5);
    EXPECT_EQ(host_.messagePasses, 2);
}

TEST(FirmwareList, SplittingRules) {
    EXPECT_THAT(SplitFirmwareList("A\r\nB\r\n"), ElementsAre("A", "B"));
    EXPECT_THAT(SplitFirmwareList("A\r\nB"), ElementsAre("A"));
    EXPECT_THAT(SplitFirmwareList("A\nB\nC\n"), IsEmpty());
    EXPECT_THAT(SplitFirmwareList("\nA\nB \r\r\n\r"), ElementsAre("AB ", "", ""));
    std::string longList;
    for (int i = 0; i < 40; ++i) longList += "wersja_" + std::to_string(100 + i) + "\r\n";
    ASSERT_GT(longList.size(), 255u);
    const auto names = SplitFirmwareList(longList);
    ASSERT_EQ(names.size(), 40u);
    EXPECT_EQ(names.back(), "wersja_139");
}

TEST_F(LiveUpdateTest, NamesThatAreNoPlainFileNamesAreRefusedAndNothingLeavesTheStore) {
    limits_.transfers = 1;
    host_.lines = {"A:fa 1"};
    fs::create_directory(base_ / "fa");
    ServeType("fa", "../evil\r\na/b\r\n..\r\n.\r\nc\\d\r\nx\x01y\r\nz\0z\r\nok\r\n"s);
    // Whatever a careless client could reach with those names.
    for (const char* target : {"/liveupdate/evil.bin", "/liveupdate/fa/a/b.bin",
                               "/liveupdate/fa/...bin", "/liveupdate/fa/..bin"}) {
        server_.Serve(target, FirmwareBody(kFirmwareFileSize, 9));
    }
    ServeFile("fa", "ok.bin", FirmwareBody(kFirmwareFileSize, 10));

    Run();

    EXPECT_THAT(
        host_.log,
        ElementsAre(
            "Pobieram listę oprogramowania dla : fa", "Pobieram opis dla : fa",
            "Błąd : niedozwolona nazwa pliku : ../evil.bin",
            "Błąd : niedozwolona nazwa pliku : a/b.bin", "Błąd : niedozwolona nazwa pliku : ...bin",
            "Błąd : niedozwolona nazwa pliku : ..bin", "Błąd : niedozwolona nazwa pliku : c\\d.bin",
            "Błąd : niedozwolona nazwa pliku : x?y.bin",
            "Błąd : niedozwolona nazwa pliku : z?z.bin", "ok.bin : POBIERAM", kFinal));
    EXPECT_THAT(server_.Targets(), ElementsAre("/liveupdate/fa/lista.txt",
                                               "/liveupdate/fa/opis.txt", "/liveupdate/fa/ok.bin"));
    EXPECT_EQ(Entries(root_), (std::set<std::string>{"base"}));
    EXPECT_EQ(Entries(base_), (std::set<std::string>{"fa"}));
    EXPECT_EQ(Entries(base_ / "fa"), (std::set<std::string>{"opis.txt", "ok.bin"}));
}

TEST_F(LiveUpdateTest, ADeviceFolderOutsideTheBaseDirectoryIsRefusedAndSkipped) {
    limits_.transfers = 1;
    host_.lines = {"A:../fa 1", "B:fb 2"};
    fs::create_directory(root_ / "fa");
    fs::create_directory(base_ / "fb");
    ServeType("fb", "ok\r\n");
    ServeFile("fb", "ok.bin", FirmwareBody(kFirmwareFileSize, 12));

    Run();

    EXPECT_THAT(host_.log, ElementsAre("Błąd : niedozwolona nazwa katalogu : ../fa",
                                       "Pobieram listę oprogramowania dla : fb",
                                       "Pobieram opis dla : fb", "ok.bin : POBIERAM", kFinal));
    EXPECT_THAT(server_.Targets(), ElementsAre("/liveupdate/fb/lista.txt",
                                               "/liveupdate/fb/opis.txt", "/liveupdate/fb/ok.bin"));
    EXPECT_THAT(Entries(root_ / "fa"), IsEmpty());
}

TEST_F(LiveUpdateTest, FolderAndNameGoIntoTheAddressPercentEncodedFromCp1250) {
    // "Typ:moje urządzenia 1" and the name "wersja ł", as CP1250 bytes.
    host_.lines = {
        "Typ:moje urz\xB9"
        "dzenia 1"};
    fs::create_directory(base_ / "moje urządzenia");
    server_.Serve("/liveupdate/moje%20urz%B9dzenia/lista.txt", "wersja \xB3\r\n");
    server_.Serve("/liveupdate/moje%20urz%B9dzenia/opis.txt", "Opis: \xB3\xB9");
    server_.Serve("/liveupdate/moje%20urz%B9dzenia/wersja%20%B3.bin",
                  FirmwareBody(kFirmwareFileSize, 11));

    Run();

    EXPECT_THAT(host_.log, ElementsAre("Pobieram listę oprogramowania dla : moje urządzenia",
                                       "Pobieram opis dla : moje urządzenia",
                                       "wersja ł.bin : POBIERAM", kFinal));
    EXPECT_EQ(ReadFile(base_ / "moje urządzenia" / "wersja ł.bin"),
              FirmwareBody(kFirmwareFileSize, 11));
    // The description is stored as received.
    EXPECT_EQ(ReadFile(base_ / "moje urządzenia" / "opis.txt"), "Opis: \xB3\xB9");
}

TEST_F(LiveUpdateTest, MissingDeviceFolderFailsStoringTheDescription) {
    host_.lines = {"A:fa 1"};
    ServeType("fa", "x\r\n");

    EXPECT_EQ(RunError(), "Cannot create file \"" + (base_ / "fa" / "opis.txt").string() +
                              "\". No such file or directory");
    EXPECT_THAT(host_.log,
                ElementsAre("Pobieram listę oprogramowania dla : fa", "Pobieram opis dla : fa"));
    EXPECT_EQ(Entries(base_), std::set<std::string>{});
}

TEST_F(LiveUpdateTest, ADirectoryNamedLikeTheFirmwareIsNotPresentAndIsNeverReplaced) {
    host_.lines = {"A:fa 1"};
    fs::create_directories(base_ / "fa" / "x.bin");
    ServeType("fa", "x\r\n");
    ServeFile("fa", "x.bin", FirmwareBody(kFirmwareFileSize, 13));

    EXPECT_EQ(RunError(),
              "Cannot create file \"" + (base_ / "fa" / "x.bin").string() + "\". Is a directory");
    EXPECT_EQ(host_.log.back(), "x.bin : POBIERAM");
    // No temporary file is left behind.
    EXPECT_EQ(Entries(base_ / "fa"), (std::set<std::string>{"opis.txt", "x.bin"}));
    EXPECT_TRUE(fs::is_directory(base_ / "fa" / "x.bin"));
}

TEST_F(LiveUpdateTest, EveryRunRewritesTheDescriptionEvenWhenEmpty) {
    host_.lines = {"A:fa 1"};
    fs::create_directory(base_ / "fa");
    ServeType("fa", "x\r\n", "Pierwszy opis, dłuższy");
    ServeFile("fa", "x.bin", FirmwareBody(kFirmwareFileSize, 12));
    Run();
    EXPECT_EQ(ReadFile(base_ / "fa" / "opis.txt"), "Pierwszy opis, dłuższy");

    ServeType("fa", "x\r\n", "");
    Run();
    EXPECT_THAT(host_.log, ElementsAre("Pobieram listę oprogramowania dla : fa",
                                       "Pobieram opis dla : fa", "x.bin : JEST", kFinal));
    EXPECT_EQ(ReadFile(base_ / "fa" / "opis.txt"), "");
    EXPECT_EQ(Entries(base_ / "fa"), (std::set<std::string>{"opis.txt", "x.bin"}));
}

TEST_F(LiveUpdateTest, ConnectionRefusedEndsTheRunWithASocketError) {
    host_.lines = {"A:fa 1"};
    fs::create_directory(base_ / "fa");
    {
        // Nothing listens there once this server is gone.
        HttpTestServer gone;
        setenv("TANDEL_LIVEUPDATE_URL", gone.BaseAddress().c_str(), 1);
    }

    EXPECT_EQ(RunError(), "Socket Error # 111\nConnection refused.");
    EXPECT_THAT(host_.log, ElementsAre("Pobieram listę oprogramowania dla : fa"));
    EXPECT_EQ(label_, "Rozłączono");
}

TEST_F(LiveUpdateTest, FirmwareThatStopsMidBodyEndsTheRunAndLeavesNoFile) {
    host_.lines = {"A:fa 1"};
    fs::create_directory(base_ / "fa");
    ServeType("fa", "x\r\n");
    server_.Handle("/liveupdate/fa/x.bin",
                   [this](const httplib::Request&, httplib::Response& response) {
                       response.set_content_provider(
                           kFirmwareFileSize, "application/octet-stream",
                           [this](size_t offset, size_t, httplib::DataSink& sink) {
                               if (offset == 0)
                                   return sink.write(FirmwareBody(5000, 1).data(), 5000);
                               for (int i = 0; i < 200 && !server_.Stopping(); ++i) {
                                   std::this_thread::sleep_for(std::chrono::milliseconds(25));
                               }
                               return false;
                           });
                   });

    EXPECT_EQ(RunError(), "Read timed out.");
    EXPECT_THAT(host_.log, ElementsAre("Pobieram listę oprogramowania dla : fa",
                                       "Pobieram opis dla : fa", "x.bin : POBIERAM"));
    EXPECT_EQ(Entries(base_ / "fa"), std::set<std::string>{"opis.txt"});
}

TEST_F(LiveUpdateTest, StartClickedDuringARunDoesNothing) {
    host_.lines = {"A:fa 1"};
    fs::create_directory(base_ / "fa");
    ServeType("fa", "");
    int nested = 0;
    host_.onMessages = [&] {
        if (nested++ == 0) RunLiveUpdate(host_, http_);
    };
    Run();
    EXPECT_THAT(host_.log, ElementsAre("Pobieram listę oprogramowania dla : fa",
                                       "Pobieram opis dla : fa", kFinal));
    EXPECT_EQ(server_.Targets().size(), 2u);
}

TEST(LiveUpdateStatusLabel, EachConnectionStateHasItsPolishTextAndOtherValuesNone) {
    EXPECT_EQ(StatusLabelText(hsResolving), "Wyszukiwanie hosta");
    EXPECT_EQ(StatusLabelText(hsConnecting), "Łączenie z hostem");
    EXPECT_EQ(StatusLabelText(hsConnected), "Połączenie zestawione");
    EXPECT_EQ(StatusLabelText(hsDisconnecting), "Rozłączanie");
    EXPECT_EQ(StatusLabelText(hsDisconnected), "Rozłączono");
    EXPECT_EQ(StatusLabelText(THttpStatus(5)), std::nullopt);
    EXPECT_EQ(StatusLabelText(THttpStatus(-1)), std::nullopt);
}

TEST(LiveUpdateAddress, EnvironmentReplacesTheBuiltInAddress) {
    unsetenv("TANDEL_LIVEUPDATE_URL");
    EXPECT_EQ(LiveUpdateBaseAddress(), "http://liveupdate.quorvant.example/liveupdate/");
    setenv("TANDEL_LIVEUPDATE_URL", "http://127.0.0.1:8080/liveupdate", 1);
    EXPECT_EQ(LiveUpdateBaseAddress(), "http://127.0.0.1:8080/liveupdate/");
    unsetenv("TANDEL_LIVEUPDATE_URL");

    EXPECT_EQ(EncodeUrlPath("a-b_c.d~(1)"), "a-b_c.d~(1)");
    EXPECT_EQ(EncodeUrlPath("50% ?#\"<>"), "50%25%20%3F%23%22%3C%3E");
}

}  // namespace

TEST_F(LiveUpdateTest, AStoreFileDifferingOnlyInLetterCaseIsPresent) {
    host_.lines = {"Typ:fa 1"};
    fs::create_directory(base_ / "fa");
    WriteFile(base_ / "fa" / "105.BIN", "stary");
    ServeType("fa", "105\r\n106\r\n");
    ServeFile("fa", "106.bin", FirmwareBody(kFirmwareFileSize, 8));

    Run();

    EXPECT_THAT(host_.log,
                ElementsAre("Pobieram listę oprogramowania dla : fa", "Pobieram opis dla : fa",
                            "105.bin : JEST", "106.bin : POBIERAM", kFinal));
    EXPECT_EQ(Entries(base_ / "fa"), (std::set<std::string>{"105.BIN", "106.bin", "opis.txt"}));
}

namespace {

std::string Repeat(const std::string& text, int count) {
    std::string out;
    for (int i = 0; i < count; ++i) out += text;
    return out;
}

// `count` pieces of `piece` joined by slashes.
std::string Pieces(const std::string& piece, int count) {
    std::string path = piece;
    for (int i = 1; i < count; ++i) path += "/" + piece;
    return path;
}

}  // namespace

// A name or folder past what the file system or a request line takes is refused like any
// other bad name, and the run goes on with the next name and the next device type.
TEST_F(LiveUpdateTest, NamesAndFoldersPastTheLimitsAreSkippedAndTheRunGoesOn) {
    const std::string n251(251, 'n');  // with ".bin" exactly 255 bytes: taken
    const std::string n252(252, 'n');
    const std::string l126(126, '\xB3');      // "ł": 126 bytes, 256 on disk with ".bin"
    const std::string huge(1000000, 'h');    // 1 MB, within lista.txt's bound
    const std::string f300(300, 'f');
    const std::string deep = Pieces(std::string(250, 'd'), 17);    // pieces fit, path does not
    const std::string blanks = Pieces(std::string(250, ' '), 11);  // fits on disk, not the URL
    host_.lines = {"A:fa 1", "B:" + f300 + " 2", "C:" + std::string(1 << 20, 'c') + " 3",
                   "D:" + deep + " 4", "E:" + blanks + " 5", "F:fb 1"};
    fs::create_directory(base_ / "fa");
    fs::create_directory(base_ / "fb");
    fs::create_directories(base_ / blanks);
    ServeType("fa", n251 + "\r" + n252 + "\r" + l126 + "\r" + huge + "\rok\r");
    ServeFile("fa", n251 + ".bin", FirmwareBody(kFirmwareFileSize, 1));
    ServeFile("fa", "ok.bin", FirmwareBody(kFirmwareFileSize, 2));
    ServeType("fb", "");

    Run();

    // The log shows the first 255 bytes of a long name.
    const auto refusedFolder = [](const std::string& folder) {
        return "Błąd : niedozwolona nazwa katalogu : " + folder.substr(0, 255) + "...";
    };
    EXPECT_THAT(host_.log,
                ElementsAre("Pobieram listę oprogramowania dla : fa", "Pobieram opis dla : fa",
                            n251 + ".bin : POBIERAM",
                            "Błąd : niedozwolona nazwa pliku : " + n252 + ".bin",
                            "Błąd : niedozwolona nazwa pliku : " + Repeat("ł", 126) + ".bin",
                            "Błąd : niedozwolona nazwa pliku : " + std::string(255, 'h') + "....bin",
                            "ok.bin : POBIERAM", refusedFolder(f300),
                            refusedFolder(std::string(1 << 20, 'c')), refusedFolder(deep),
                            refusedFolder(blanks),
                            "Pobieram listę oprogramowania dla : fb", "Pobieram opis dla : fb",
                            kFinal));
    EXPECT_EQ(Entries(base_ / "fa"), (std::set<std::string>{"opis.txt", n251 + ".bin", "ok.bin"}));
    EXPECT_EQ(Entries(base_ / "fb"), (std::set<std::string>{"opis.txt"}));
    EXPECT_THAT(Entries(base_ / blanks), IsEmpty());
}

// The temporary files of a killed run are removed from the folders the next run writes into;
// those a live run holds locked, and anything not named like one, stay.
TEST_F(LiveUpdateTest, TemporaryFilesOfProcessesThatNoLongerRunAreRemoved) {
    const pid_t gone = fork();
    ASSERT_GE(gone, 0);
    if (gone == 0) _exit(0);
    ASSERT_EQ(waitpid(gone, nullptr, 0), gone);
    const std::string dead = std::to_string(gone);
    const std::string self = std::to_string(getpid());
    host_.lines = {"A:fa 1"};
    fs::create_directory(base_ / "fa");
    const struct {
        std::string name;
        bool stays;
        bool locked = false;  // held by a live run, whatever process id its name holds
    } entries[] = {
        {".tandel-" + dead + "-0.part", false}, {".tandel-" + dead + "-12.part", false},
        {".tandel-" + self + "-3.part", false}, {".tandel-1-0.part", false},
        {".tandel-" + dead + "-5.part", true, true}, {".tandel-" + self + "-4.part", true, true},
        {".tandel-" + dead + "-x.part", true},  {".tandel-" + dead + "-1.part.bin", true},
        {"tandel-" + dead + "-1.part", true},
    };
    std::vector<int> locks;
    for (const auto& entry : entries) {
        WriteFile(base_ / "fa" / entry.name, "15180 bytes, once");
        if (entry.locked) locks.push_back(open((base_ / "fa" / entry.name).c_str(), O_RDONLY));
        ASSERT_TRUE(!entry.locked || flock(locks.back(), LOCK_EX | LOCK_NB) == 0);
    }
    fs::create_directory(base_ / "fa" / (".tandel-" + dead + "-9.part"));  // not a file: stays
    ServeType("fa", "");

    Run();
    for (const int fd : locks) close(fd);

    std::set<std::string> kept{"opis.txt", ".tandel-" + dead + "-9.part"};
    for (const auto& entry : entries) {
        if (entry.stays) kept.insert(entry.name);
    }
    EXPECT_EQ(Entries(base_ / "fa"), kept);
}

namespace {

// What a run leaves behind: its log, the text of its error box, the status label, and every
// file below the base directory with its bytes.
struct Outcome {
    std::vector<std::string> log;
    std::string error;
    std::string label;
    std::map<std::string, std::string> files;
    bool operator==(const Outcome&) const = default;
};

// The status codes as one connection at a time tells them: resolving, connecting, connected,
// disconnecting, disconnected, and again.
bool TellsWholeConnections(const std::vector<int>& codes) {
    for (std::size_t i = 0; i < codes.size(); ++i)
        if (codes[i] != static_cast<int>(i % 5)) return false;
    return codes.size() % 5 == 0;
}

class FetchAheadTest : public LiveUpdateTest {
  protected:
    // Runs on a fresh store laid out by `prepare`, with `transfers` requests under way at most.
    Outcome RunWith(std::size_t transfers, const std::function<void()>& prepare) {
        for (const auto& entry : fs::directory_iterator(base_)) fs::remove_all(entry.path());
        prepare();
        codes_.clear();
        label_ = "______";
        slowAnswered_ = false;
        overtaken_ = 0;
        limits_.transfers = transfers;
        Outcome outcome;
        outcome.error = RunError();
        outcome.log = host_.log;
        outcome.label = label_;
        for (const auto& entry : fs::recursive_directory_iterator(base_)) {
            if (entry.is_regular_file()) {
                outcome.files[fs::relative(entry.path(), base_).string()] = ReadFile(entry.path());
            }
        }
        EXPECT_TRUE(TellsWholeConnections(codes_)) << ::testing::PrintToString(codes_);
        return outcome;
    }

    // Three device types: fa with files held in the store, in the base directory and up to
    // letter case, wrong sizes, a refused name, names listed twice, and a first firmware
    // response that comes last; fb with twelve files; fc with one.
    void ServeCatalogue() {
        host_.lines = {"A:fa 1", "B:fb 2", "C:fc 3"};
        ServeType("fa",
                  "obecny\r\nwolny\r\nwspolny\r\nduzy\r\nkrotki\r\ndobry\r\ndlugi\r\na/b\r\n"
                  "dobry\r\nDOBRY\r\nkrotki\r\n",
                  "Opis fa");
        server_.Handle("/liveupdate/fa/wolny.bin", [this](const httplib::Request&,
                                                          httplib::Response& response) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            slowAnswered_ = true;
            response.set_content(FirmwareBody(kFirmwareFileSize, 20), "application/octet-stream");
        });
        // The files after it count the requests that overtook it.
        const auto overtaking = [this](std::string body) {
            return [this, body](const httplib::Request&, httplib::Response& response) {
                if (!slowAnswered_) ++overtaken_;
                response.set_content(body, "application/octet-stream");
            };
        };
        server_.Handle("/liveupdate/fa/krotki.bin",
                       overtaking(FirmwareBody(kFirmwareFileSize - 1, 21)));
        server_.Handle("/liveupdate/fa/dobry.bin", overtaking(FirmwareBody(kFirmwareFileSize, 22)));
        server_.Handle("/liveupdate/fa/dlugi.bin",
                       overtaking(FirmwareBody(kFirmwareFileSize + 1, 23)));
        std::string list;
        for (int i = 1; i <= 12; ++i) {
            list += std::to_string(i) + "\r\n";
            ServeFile("fb", std::to_string(i) + ".bin",
                      FirmwareBody(kFirmwareFileSize, static_cast<char>(30 + i)));
        }
        ServeType("fb", list, "Opis fb");
        ServeType("fc", "z\r\n", "Opis fc");
        ServeFile("fc", "z.bin", FirmwareBody(kFirmwareFileSize, 50));
    }

    static void LayOutStore(const fs::path& base) {
        for (const char* folder : {"fa", "fb", "fc"}) fs::create_directory(base / folder);
        WriteFile(base / "fa" / "obecny.bin", "stary");
        WriteFile(base / "wspolny.bin", "w katalogu bazowym");
        WriteFile(base / "fa" / "DUZY.BIN", "wielkie litery");
    }

    std::atomic<bool> slowAnswered_{false};
    std::atomic<std::size_t> overtaken_{0};
};

TEST_F(FetchAheadTest, LogStoreAndResultAreThoseOfARunFetchingOneAtATime) {
    ServeCatalogue();
    struct Case {
        const char* what;
        std::function<void()> twist;  // of the store, or of the server for good
        std::string error;
    };
    const std::vector<Case> cases = {
        {"every file served", [] {}, "(no error)"},
        {"fb/5.bin cannot be stored", [this] { fs::create_directory(base_ / "fb" / "5.bin"); },
         "Cannot create file \"" + (base_ / "fb" / "5.bin").string() + "\". Is a directory"},
        {"404 in the middle of fb", [this] { server_.Handle("/liveupdate/fb/7.bin", {}); },
         "HTTP/1.1 404 Not Found"},
    };
    Outcome ahead;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto prepare = [&] {
            LayOutStore(base_);
            c.twist();
        };
        const Outcome oneAtATime = RunWith(1, prepare);
        ahead = RunWith(kMaxLiveUpdateTransfers, prepare);
        EXPECT_EQ(ahead, oneAtATime);
        EXPECT_EQ(ahead.error, c.error);
        // krotki.bin, dobry.bin and dlugi.bin were fetched ahead, before the slow first
        // response came.
        EXPECT_EQ(overtaken_, 3u);
    }
    // After the 404 nothing past the failing file is stored.
    EXPECT_EQ(ahead.files.count("fb/6.bin"), 1u);
    EXPECT_EQ(ahead.files.count("fb/8.bin"), 0u);
    EXPECT_EQ(ahead.files.count("fc/opis.txt"), 0u);
    EXPECT_EQ(ahead.log.back(), "7.bin : POBIERAM");
}

void ServeNumbered(HttpTestServer& server, const std::string& folder, int count) {
    std::string list;
    for (int i = 1; i <= count; ++i) {
        list += std::to_string(i) + "\r\n";
        server.Serve("/liveupdate/" + folder + "/" + std::to_string(i) + ".bin",
                     FirmwareBody(kFirmwareFileSize, static_cast<char>(i)));
    }
    server.Serve("/liveupdate/" + folder + "/lista.txt", list);
    server.Serve("/liveupdate/" + folder + "/opis.txt", "Opis");
}

// A store failure found while the next batch is already being fetched and written ends the
// run at its own place as well: nothing after it in place, no temporary file left.
TEST_F(FetchAheadTest, AFailingFlushBehindTheFetchingStoresNothingPastIt) {
    host_.lines = {"A:fa 1"};
    ServeNumbered(server_, "fa", 300);
    const auto store = [this] {
        fs::create_directory(base_ / "fa");
        fs::create_directory(base_ / "fa" / "5.bin");
    };
    const Outcome oneAtATime = RunWith(1, store);
    const Outcome ahead = RunWith(kMaxLiveUpdateTransfers, store);
    EXPECT_EQ(ahead, oneAtATime);
    EXPECT_EQ(ahead.error,
              "Cannot create file \"" + (base_ / "fa" / "5.bin").string() + "\". Is a directory");
    std::set<std::string> expected = {"fa/opis.txt", "fa/1.bin", "fa/2.bin", "fa/3.bin", "fa/4.bin"};
    std::set<std::string> stored;
    for (const auto& [name, bytes] : ahead.files) stored.insert(name);
    EXPECT_EQ(stored, expected);
    EXPECT_EQ(ahead.log.back(), "5.bin : POBIERAM");
}

TEST_F(FetchAheadTest, ACookieGoesOnEveryRequestStartedAfterTheResponseThatSetIt) {
    host_.lines = {"A:fa 1"};
    ServeNumbered(server_, "fa", 10);
    server_.Handle("/liveupdate/fa/lista.txt", [](const httplib::Request&, httplib::Response& r) {
        r.set_header("Set-Cookie", "sesja=abc; Path=/");
        r.set_content("1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8\r\n9\r\n10\r\n", "text/plain");
    });
    for (const std::size_t transfers : {std::size_t{1}, kMaxLiveUpdateTransfers}) {
        SCOPED_TRACE(transfers);
        fs::remove_all(base_ / "fa");
        fs::create_directory(base_ / "fa");
        HttpClient fresh;
        const LiveUpdateLimits limits{.transfers = transfers};
        const std::size_t before = server_.Requests().size();
        RunLiveUpdate(host_, fresh, limits);
        ASSERT_EQ(host_.log.back(), kFinal);
        const auto requests = server_.Requests();
        ASSERT_EQ(requests.size() - before, 12u);
        for (std::size_t i = before; i < requests.size(); ++i) {
            const std::string& target = requests[i].target;
            const auto cookie = requests[i].headers.find("Cookie");
            const bool sent = cookie != requests[i].headers.end() && cookie->second == "sesja=abc";
            // Fetching ahead, the description is started with the list: whether it went out
            // before the list's answer came depends on its connection, so either is right.
            if (transfers > 1 && target.ends_with("opis.txt")) continue;
            const bool expected = !target.ends_with("lista.txt");
            EXPECT_EQ(sent, expected) << target;
        }
    }
}

TEST_F(FetchAheadTest, ACrashBetweenFlushAndRenameLeavesNoShortFileAndTheNextRunCompletes) {
    host_.lines = {"A:fa 1"};
    fs::create_directory(base_ / "fa");
    ServeNumbered(server_, "fa", 5);
    // The crashing run is a forked child of this threaded process (the server's threads), and a
    // child forked while another thread held a lock of the C library can stall for good before
    // it reaches the seam. Such a child is killed and the crash tried again, with whatever it
    // left removed; the run itself never forks.
    int status = -1;
    for (int attempt = 0; attempt < 3 && status == -1; ++attempt) {
        for (const std::string& name : Entries(base_ / "fa")) fs::remove(base_ / "fa" / name);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            StoreBatch::afterFlushForTest = [] { _exit(0); };
            try {
                Run();
            } catch (...) {
            }
            _exit(1);  // the seam was never reached
        }
        for (int waited = 0; waited < 300; ++waited) {  // 30 s
            if (waitpid(child, &status, WNOHANG) == child) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (!WIFEXITED(status) && !WIFSIGNALED(status)) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
            status = -1;
        }
    }
    ASSERT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0);
    // The description and the five files, flushed whole, and nothing under a final name.
    std::multiset<std::string> temporaries;
    for (const std::string& name : Entries(base_ / "fa")) {
        EXPECT_TRUE(name.starts_with(".tandel-") && name.ends_with(".part")) << name;
        temporaries.insert(ReadFile(base_ / "fa" / name));
    }
    std::multiset<std::string> expected = {"Opis"};
    for (int i = 1; i <= 5; ++i)
        expected.insert(FirmwareBody(kFirmwareFileSize, static_cast<char>(i)));
    EXPECT_EQ(temporaries, expected);

    Run();
    EXPECT_EQ(host_.log.back(), kFinal);
    for (int i = 1; i <= 5; ++i) {
        EXPECT_EQ(ReadFile(base_ / "fa" / (std::to_string(i) + ".bin")),
                  FirmwareBody(kFirmwareFileSize, static_cast<char>(i)));
    }
}

TEST_F(FetchAheadTest, AServerClosingEverySecondConnectionGivesTheSameRun) {
    HttpTestServer closing(2);
    setenv("TANDEL_LIVEUPDATE_URL", closing.BaseAddress().c_str(), 1);
    host_.lines = {"A:fa 1", "B:fb 2"};
    ServeNumbered(closing, "fa", 20);
    ServeNumbered(closing, "fb", 7);
    const auto store = [this] {
        fs::create_directory(base_ / "fa");
        fs::create_directory(base_ / "fb");
    };
    const Outcome oneAtATime = RunWith(1, store);
    const Outcome ahead = RunWith(kMaxLiveUpdateTransfers, store);
    EXPECT_EQ(ahead, oneAtATime);
    EXPECT_EQ(ahead.log.back(), kFinal);
    EXPECT_EQ(ahead.files.size(), 29u);
}

// The answers come in an order of the test's choosing: every request under way finishes, then
// one is named. Order 0 names the oldest list or description first, then the newest firmware
// body, so that texts pile up while the run waits for its body; any other order draws one. What
// the run asks for then follows from the order alone, not from the machine's timing.
class ChosenArrivals : public HttpSource {
  public:
    ChosenArrivals(HttpSource& inner, unsigned order)
        : inner_(inner), order_(order), random_(order) {}
    Ticket Start(const std::string& url, std::size_t cap, bool cutAtCap) override {
        const Ticket ticket = inner_.Start(url, cap, cutAtCap);
        underWay_[ticket] = url.ends_with(".txt");
        return ticket;
    }
    Ticket WaitAny() override {
        while (!underWay_.empty()) finished_.insert(underWay_.extract(inner_.WaitAny()));
        auto named =
            std::find_if(finished_.begin(), finished_.end(), [](auto& f) { return f.second; });
        if (named == finished_.end()) named = std::prev(finished_.end());
        if (order_ != 0) {
            std::uniform_int_distribution<std::size_t> draw(0, finished_.size() - 1);
            named = std::next(finished_.begin(), static_cast<std::ptrdiff_t>(draw(random_)));
        }
        const Ticket ticket = named->first;
        finished_.erase(named);
        return ticket;
    }
    std::string Take(Ticket ticket) override { return inner_.Take(ticket); }
    void Drop(Ticket ticket) noexcept override {
        underWay_.erase(ticket);
        finished_.erase(ticket);
        inner_.Drop(ticket);
    }
    void SetMaxTransfers(std::size_t transfers) override { inner_.SetMaxTransfers(transfers); }
    void EndOfRun() noexcept override {
        underWay_.clear();
        finished_.clear();
        inner_.EndOfRun();
    }

  private:
    HttpSource& inner_;
    unsigned order_;
    std::mt19937 random_;
    std::map<Ticket, bool> underWay_, finished_;  // by start order: a list or a description
};

// Whatever order the answers come in, the run is the one-at-a-time run.
TEST_F(FetchAheadTest, AnyOrderOfArrivalGivesTheOneAtATimeRun) {
    host_.lines = {"A:fa 1", "B:fb 2", "C:fc 3", "D:fd 4", "E:fe 5"};
    const std::map<std::string, int> types{{"fa", 3}, {"fb", 2}, {"fc", 2}, {"fd", 3}, {"fe", 4}};
    for (const auto& [folder, files] : types) ServeNumbered(server_, folder, files);
    const auto store = [&] {
        for (const auto& type : types) fs::create_directory(base_ / type.first);
    };
    const Outcome oneAtATime = RunWith(1, store);
    ASSERT_EQ(oneAtATime.log.back(), kFinal);
    for (std::size_t transfers = 2; transfers <= kMaxLiveUpdateTransfers; ++transfers) {
        for (unsigned order = 0; order <= 10; ++order) {
            SCOPED_TRACE(std::to_string(transfers) + " at once, order " + std::to_string(order));
            ChosenArrivals chosen(http_, order);
            source_ = &chosen;
            EXPECT_EQ(RunWith(transfers, store), oneAtATime);
            source_ = &http_;
        }
    }
}

TEST_F(FetchAheadTest, TheEnvironmentSetsHowManyRequestsRunAtOnce) {
    host_.lines = {"A:fa 1"};
    ServeNumbered(server_, "fa", 6);
    const std::vector<std::pair<const char*, std::size_t>> settings = {
        {"1", 1}, {"3", 3}, {"20", kMaxLiveUpdateTransfers}, {"zero", kMaxLiveUpdateTransfers}};
    for (const auto& [value, transfers] : settings) {
        setenv("TANDEL_LIVEUPDATE_PARALLEL", value, 1);
        EXPECT_EQ(LiveUpdateTransfers(), transfers) << value;
    }
    // One at a time: one connection, and the requests in list order.
    setenv("TANDEL_LIVEUPDATE_PARALLEL", "1", 1);
    fs::create_directory(base_ / "fa");
    RunLiveUpdate(host_, http_);
    unsetenv("TANDEL_LIVEUPDATE_PARALLEL");
    EXPECT_EQ(LiveUpdateTransfers(), kMaxLiveUpdateTransfers);
    EXPECT_EQ(host_.log.back(), kFinal);
    EXPECT_EQ(server_.Connections(), 1);
    EXPECT_THAT(
        server_.Targets(),
        ElementsAre("/liveupdate/fa/lista.txt", "/liveupdate/fa/opis.txt", "/liveupdate/fa/1.bin",
                    "/liveupdate/fa/2.bin", "/liveupdate/fa/3.bin", "/liveupdate/fa/4.bin",
                    "/liveupdate/fa/5.bin", "/liveupdate/fa/6.bin"));
}

}  // namespace
