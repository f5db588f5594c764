#include "Platform.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <string>

namespace fs = std::filesystem;

TEST(WindowsNames, ReservedDeviceNamesTrailingDotsAndForbiddenCharactersAreRefused) {
    const struct {
        const char* name;
        bool held;
    } cases[] = {
        {"PELTA v2.bin", true}, {"CONSOLE", true},  {"COM10", true},     {"LPT0", true},
        {"con", false},         {"CON.txt", false}, {"Nul .bin", false}, {"com1", false},
        {"LPT9.log", false},    {"AUX", false},     {"prn.x.y", false},  {"a.", false},
        {"a ", false},          {"", false},        {"a:b", false},      {"a?b", false},
        {"a*b", false},         {"a<b>", false},    {"a\"b", false},     {"a|b", false},
        {"a\\b", false},        {"a/b", false},     {"a\tb", false},     {"żółw", true},
    };
    for (const auto& c : cases) EXPECT_EQ(platform::WindowsCanHoldName(c.name), c.held) << c.name;
}

class PlatformFiles : public testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("tandel-platform-" + std::to_string(platform::ProcessId()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    fs::path dir_;
};

// What a store file goes through: written whole under a new name, flushed, renamed over the
// old file, then read back and listed.
TEST_F(PlatformFiles, ANewFileReplacesTheOldOneWholeAndReadsBack) {
    const std::string bytes(70000, '\xA5');
    const std::string temporary = Path("new.part");
    const std::string final = Path("firmware.bin");
    platform::OutputFile old;
    ASSERT_EQ(old.CreateNew(final), 0);
    ASSERT_EQ(old.WriteAll("old"), 0);
    ASSERT_EQ(old.Close(), 0);

    platform::OutputFile file;
    ASSERT_EQ(file.CreateNew(temporary), 0);
    platform::OutputFile again;
    EXPECT_EQ(again.CreateNew(temporary), EEXIST);
    ASSERT_EQ(file.WriteAll(bytes), 0);
    EXPECT_EQ(file.Flush(), 0);
    ASSERT_EQ(file.Close(), 0);
    ASSERT_EQ(platform::RenameOver(temporary, final), 0);

    platform::InputFile in;
    ASSERT_TRUE(in.Open(final));
    EXPECT_TRUE(in.IsRegular());
    EXPECT_EQ(in.Size(), bytes.size());
    std::string back(bytes.size() + 1, '\0');
    std::size_t done = 0;
    for (long long n; (n = in.Read(back.data() + done, back.size() - done)) > 0;) done += n;
    back.resize(done);
    EXPECT_EQ(back, bytes);
    ASSERT_EQ(platform::MakeFolder(Path("sub")), 0);
    const auto entries = platform::ListFolderKinds(dir_.string());
    ASSERT_EQ(entries.size(), 2u);
    for (const auto& e : entries) {
        EXPECT_EQ(e.kind,
                  e.name == "sub" ? platform::FileKind::Folder : platform::FileKind::Regular)
            << e.name;
    }
}

// A listing tells what a link names: a link to a firmware file counts as a file, a link to
// nothing does not.
TEST_F(PlatformFiles, AListingTellsWhatALinkNames) {
    platform::OutputFile real;
    ASSERT_EQ(real.CreateNew(Path("real.bin")), 0);
    real.Close();
    std::error_code ec;
    fs::create_symlink("real.bin", dir_ / "link.bin", ec);
    fs::create_symlink("none.bin", dir_ / "gone.bin", ec);
    if (ec) GTEST_SKIP() << "no symbolic links here: " << ec.message();
    std::map<std::string, platform::FileKind> kinds;
    for (const auto& e : platform::ListFolderKinds(dir_.string())) kinds[e.name] = e.kind;
    EXPECT_EQ(kinds["link.bin"], platform::FileKind::Regular);
    EXPECT_NE(kinds["gone.bin"], platform::FileKind::Regular);
    EXPECT_EQ(platform::OwnKindOf(Path("link.bin")), platform::FileKind::Other);
}

// A temporary a run holds is not removed as stale; once the run lets it go, it is.
TEST_F(PlatformFiles, ATemporaryIsRemovedOnlyWhenNoRunHoldsIt) {
    const std::string temporary = Path(".tandel-1-0.part");
    platform::OutputFile file;
    ASSERT_EQ(file.CreateNew(temporary), 0);
    ASSERT_TRUE(file.LockForLife(temporary));
    EXPECT_FALSE(platform::RemoveUnlessHeld(temporary));
    EXPECT_EQ(platform::KindOf(temporary), platform::FileKind::Regular);
    file.Close();
    EXPECT_TRUE(platform::RemoveUnlessHeld(temporary));
    EXPECT_EQ(platform::KindOf(temporary), platform::FileKind::Missing);
}

// A folder opens as an input (it is then no regular file, as a FIFO or a device is); a missing
// file fails with ENOENT, which the texts of the store are chosen by.
TEST_F(PlatformFiles, AFolderIsNoRegularFileAndAMissingFileIsENOENT) {
    platform::InputFile folder;
    ASSERT_TRUE(folder.Open(dir_.string()));
    EXPECT_FALSE(folder.IsRegular());
    platform::InputFile missing;
    EXPECT_FALSE(missing.Open(Path("none.bin")));
    EXPECT_EQ(missing.Error(), ENOENT);
    EXPECT_EQ(platform::KindOf(Path("none.bin")), platform::FileKind::Missing);
}

// The journal's append: whole lines in order, never into a folder (nor, elsewhere, a link).
TEST_F(PlatformFiles, LinesAreAppendedWholeInOrderAndOnlyToAFile) {
    const std::string journal = Path("journal.jsonl");
    EXPECT_EQ(platform::AppendWhole(journal, "{\"a\":1}\n"), "");
    EXPECT_EQ(platform::AppendWhole(journal, "{\"b\":2}\n"), "");
    platform::InputFile in;
    ASSERT_TRUE(in.Open(journal));
    std::string back(64, '\0');
    back.resize(static_cast<std::size_t>(in.Read(back.data(), back.size())));
    EXPECT_EQ(back, "{\"a\":1}\n{\"b\":2}\n");
    ASSERT_EQ(platform::MakeFolder(Path("folder")), 0);
    EXPECT_NE(platform::AppendWhole(Path("folder"), "x\n"), "");
    // After a cut-off last line the record starts a line of its own.
    platform::OutputFile cut;
    ASSERT_EQ(cut.CreateNew(Path("cut.jsonl")), 0);
    ASSERT_EQ(cut.WriteAll("{\"a\":"), 0);
    cut.Close();
    EXPECT_EQ(platform::AppendWhole(Path("cut.jsonl"), "{}\n"), "");
    platform::InputFile again;
    ASSERT_TRUE(again.Open(Path("cut.jsonl")));
    back.assign(64, '\0');
    back.resize(static_cast<std::size_t>(again.Read(back.data(), back.size())));
    EXPECT_EQ(back, "{\"a\":\n{}\n");
    // A file is no terminal (the NUL device and a pipe are none either on Windows).
    std::FILE* file = std::fopen(Path("out.txt").c_str(), "w");
    ASSERT_NE(file, nullptr);
    EXPECT_FALSE(platform::IsTerminal(::fileno(file)));
    EXPECT_EQ(platform::TerminalColumns(::fileno(file)), 0);
    std::fclose(file);
}

TEST(PlatformStop, TheFirstStopCountsAndLaterOnesChangeNothing) {
    platform::stop::Install();
    EXPECT_EQ(platform::stop::Received(), 0);
    platform::stop::Raise(platform::stop::kInterrupt);
    platform::stop::Raise(platform::stop::kTerminate);
    EXPECT_EQ(platform::stop::Received(), platform::stop::kInterrupt);
    platform::stop::Install();
}
