#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>

#include "BaseDirectory.h"
#include "Cp1250.h"
#include "DeviceConfig.h"
#include "FirmwareStore.h"
#include "LiveUpdate.h"

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

TEST(SplitTextLines, LineEndsNulAndFinalLineEnd) {
    EXPECT_EQ(SplitTextLines(""), Lines{});
    EXPECT_EQ(SplitTextLines("a"), Lines{"a"});
    EXPECT_EQ(SplitTextLines("a\r\nb\rc\nd"), (Lines{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitTextLines("a\r\n"), Lines{"a"});              // final end adds no line
    EXPECT_EQ(SplitTextLines("\n"), Lines{""});                  // one empty line
    EXPECT_EQ(SplitTextLines("a\n\r"), (Lines{"a", ""}));        // LF CR is two ends
    EXPECT_EQ(SplitTextLines("a\n\nb"), (Lines{"a", "", "b"}));  // blank line kept
    EXPECT_EQ(SplitTextLines(std::string("a\nb\0c\nd", 7)), (Lines{"a", "b"}));
    EXPECT_EQ(SplitTextLines("  x  \n"), Lines{"  x  "});  // blanks kept
}

TEST(CutLine, FolderAndKind) {
    EXPECT_EQ(CutFolder("Serwer:srv 1"), "srv");
    EXPECT_EQ(CutDeviceKind("Serwer:srv 1"), 1);
    EXPECT_EQ(CutFolder("A:B:fw 3"), "B:fw");  // the first colon counts
    EXPECT_EQ(CutFolder("fw 4"), "fw");        // no colon: whole line less two
    EXPECT_EQ(CutFolder("A:fw5"), "f");        // the separator place is obligatory
    EXPECT_EQ(CutDeviceKind("A:fw5"), 5);
    EXPECT_EQ(CutFolder("A: my fw 2"), " my fw");
    EXPECT_EQ(CutFolder("ab"), "");
    EXPECT_EQ(CutFolder("x"), "");
    EXPECT_EQ(CutFolder(""), "");
    EXPECT_EQ(CutFolder("Typ: 1"), "");  // colon among the last three characters
    EXPECT_EQ(CutFolder("Typ:x 1"), "x");
}

TEST(CutLine, ColonBeyondPosition255IsStillFound) {
    const std::string line = std::string(300, 'T') + ":long 2";
    EXPECT_EQ(CutFolder(line), "long");
    EXPECT_EQ(CutDeviceKind(line), 2);
}

TEST(CutLine, KindErrors) {
    const auto message = [](std::string_view line) {
        try {
            CutDeviceKind(line);
        } catch (const std::runtime_error& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(message("A:fw x"), "'x' is not a valid integer value");
    EXPECT_EQ(message("A:fw "), "' ' is not a valid integer value");
    EXPECT_EQ(message(""), "'' is not a valid integer value");
    EXPECT_EQ(message("A:fw \xB9"), "'\xC4\x85' is not a valid integer value");  // ą
}

TEST(Cp1250, PolishLettersBothWays) {
    const std::string cp =
        "\xA5\xC6\xCA\xA3\xD1\xD3\x8C\x8F\xAF\xB9\xE6\xEA\xB3\xF1\xF3\x9C\x9F\xBF";
    const std::string utf8 = "ĄĆĘŁŃÓŚŹŻąćęłńóśźż";
    EXPECT_EQ(Cp1250ToUtf8(cp), utf8);
    EXPECT_EQ(Utf8ToCp1250(utf8), cp);
    EXPECT_EQ(Cp1250ToUtf8("\x81"), "\xEF\xBF\xBD");
    EXPECT_EQ(Utf8ToCp1250("\xE2\x82\xAC x \xE4\xB8\xAD"), "\x80 x ?");  // € then a CJK letter
    EXPECT_EQ(Utf8ToCp1250("\xC4"), "?");                                // cut sequence
}

class StoreDir : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("tandel-cat-" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    void Write(const fs::path& rel, const std::string& bytes) {
        std::ofstream(dir_ / rel, std::ios::binary) << bytes;
    }
    fs::path dir_;
};

TEST_F(StoreDir, InitCfgLoadAndFolderCreation) {
    Write("init.cfg", "Pelta:pelta 1\r\nOrn:orn 2\r\nKarta \xB3:\xBF\xF3\xB3w 4\r\n");
    fs::create_directories(dir_ / "orn");
    Write("orn/keep.bin", "x");
    const auto lines = LoadDeviceTypeLines(dir_.string());
    ASSERT_EQ(lines.size(), 3u);
    CreateDeviceFolders(dir_.string(), lines);
    EXPECT_TRUE(fs::is_directory(dir_ / "pelta"));
    EXPECT_TRUE(fs::exists(dir_ / "orn/keep.bin"));  // existing folder untouched
    EXPECT_TRUE(fs::is_directory(dir_ / "żółw"));    // CP1250 name becomes UTF-8
}

TEST_F(StoreDir, FolderCreationNeverLeavesTheBaseDirectory) {
    const fs::path base = dir_ / "base";
    fs::create_directories(base);
    CreateDeviceFolders(base.string(), {"A:../out 1", "B:x/../../up 2", "C:in/.. 3", "D:.. 4",
                                        "E:..x 1", "F:x.. 2", "G:ok 3"});
    std::set<std::string> outside, inside;
    for (const auto& entry : fs::directory_iterator(dir_)) outside.insert(entry.path().filename());
    for (const auto& entry : fs::directory_iterator(base)) inside.insert(entry.path().filename());
    EXPECT_EQ(outside, (std::set<std::string>{"base"}));
    EXPECT_EQ(inside, (std::set<std::string>{"..x", "x..", "ok"}));
}

TEST_F(StoreDir, MissingInitCfgNamesTheFile) {
    try {
        LoadDeviceTypeLines(dir_.string());
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + (dir_ / "init.cfg").string() +
                                             "\". No such file or directory");
    }
}

TEST_F(StoreDir, ListingTakesBinEntriesAndDescription) {
    fs::create_directories(dir_ / "fw/sub.bin");
    Write("fw/a.bin", "1");
    Write("fw/b.BIN", "1");
    Write("fw/readme.txt", "1");
    Write("fw/opis.txt", "Wersja \xB3\r\ndruga");
    const auto listing = LoadFirmwareListing(dir_.string(), "fw");
    EXPECT_EQ(listing.description, (Lines{"Wersja ł", "druga"}));
    auto files = listing.files;
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (Lines{"a.bin", "b.BIN", "sub.bin"}));

    // A directory named opis.txt is no description: no error, the files are still listed.
    fs::create_directories(dir_ / "odd/opis.txt");
    Write("odd/c.bin", "1");
    const auto odd = LoadFirmwareListing(dir_.string(), "odd");
    EXPECT_TRUE(odd.description.empty());
    EXPECT_EQ(odd.files, Lines{"c.bin"});

    const auto missing = LoadFirmwareListing(dir_.string(), "nothing");
    EXPECT_TRUE(missing.files.empty());
    EXPECT_TRUE(missing.description.empty());
}

TEST_F(StoreDir, ListingIsSortedByName) {
    fs::create_directories(dir_ / "fw");
    for (const char* name : {"v2_01.bin", "v1_07.bin", "V1_10.bin", "v1_04.bin", "v1_9.BIN"})
        Write(fs::path("fw") / name, "x");
    EXPECT_EQ(LoadFirmwareListing(dir_.string(), "fw").files,
              (Lines{"v1_04.bin", "v1_07.bin", "v1_9.BIN", "V1_10.bin", "v2_01.bin"}));
}

TEST_F(StoreDir, Utf8InitCfgGivesTheFoldersOfItsCp1250Twin) {
    Write("init.cfg",
          "\xEF\xBB\xBF"
          "Karta ż:żółw 4\r\nPelta:pelta 1\r\n");
    const auto lines = LoadDeviceTypeLines(dir_.string());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Karta \xBF:\xBF\xF3\xB3w 4");  // kept as CP1250, no mark left
    EXPECT_EQ(CutDeviceKind(lines[0]), 4);
    EXPECT_EQ(EncodeUrlPath(CutFolder(lines[0])), "%BF%F3%B3w");  // URL keeps CP1250 bytes
    CreateDeviceFolders(dir_.string(), lines);
    EXPECT_TRUE(fs::is_directory(dir_ / "żółw"));

    fs::create_directories(dir_ / "pelta");
    Write("pelta/opis.txt", "Wersja łódzka\r\n");
    EXPECT_EQ(LoadFirmwareListing(dir_.string(), "pelta").description, Lines{"Wersja łódzka"});
}

TEST_F(StoreDir, PresenceIgnoresLetterCaseOfFilesOnly) {
    Write("105.BIN", "x");
    fs::create_directories(dir_ / "106.bin");  // a directory is no firmware file
    EXPECT_TRUE(HoldsFileIgnoringCase(dir_.string(), "105.bin"));
    EXPECT_TRUE(HoldsFileIgnoringCase(dir_.string(), "105.BIN"));
    EXPECT_FALSE(HoldsFileIgnoringCase(dir_.string(), "106.bin"));
    EXPECT_FALSE(HoldsFileIgnoringCase(dir_.string(), "10.bin"));
    EXPECT_FALSE(HoldsFileIgnoringCase((dir_ / "missing").string(), "105.bin"));
}
