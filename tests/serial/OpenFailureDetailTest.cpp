#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "Clock.h"
#include "OpenFailureDetail.h"
#include "PosixBackend.h"
#include "TSerialPortDriver.h"

namespace fs = std::filesystem;

// The reason text for each kind of refusal; permission is the one a user can fix alone.
TEST(OpenFailureDetail, NamesPortPathReasonAndTheFix) {
    const std::string denied =
        OpenFailureDetail("\\\\.\\COM1", OpenFailure{"/dev/ttyUSB0-tandel-missing", EACCES, {}});
    EXPECT_EQ(denied.substr(0, denied.find('\n')),
              "COM1 = /dev/ttyUSB0-tandel-missing: Permission denied");
    // The node is gone, so its group is unknown: the usual one is named.
    EXPECT_NE(denied.find("\n"), std::string::npos);
    EXPECT_NE(denied.find("dialout"), std::string::npos);
    EXPECT_NE(denied.find("log in again"), std::string::npos);

    EXPECT_EQ(OpenFailureDetail("/dev/ttyS9", OpenFailure{"/dev/ttyS9", EIO, {}}),
              "/dev/ttyS9: Input/output error");  // a path is not shown twice
    EXPECT_EQ(OpenFailureDetail("\\\\.\\COM2", OpenFailure{"/dev/ttyUSB1", EWOULDBLOCK, {}}),
              "COM2 = /dev/ttyUSB1: Resource temporarily unavailable\n"
              "The port is in use by another program.");
    EXPECT_EQ(OpenFailureDetail("\\\\.\\COM2", OpenFailure{"", EINVAL, {}}), "COM2: Invalid argument");
    EXPECT_EQ(OpenFailureDetail("\\\\.\\COM2", OpenFailure{}), "");  // no reason told
}

TEST(OpenFailureDetail, UnmappedComPortIsNoSuchPort) {
    std::string pattern = (fs::temp_directory_path() / "tandel-ports-XXXXXX").string();
    const std::string dir = mkdtemp(pattern.data());
    setenv("TANDEL_PORTS", dir.c_str(), 1);
    EXPECT_EQ(OpenFailureDetail("\\\\.\\COM3", OpenFailure{"", ENOENT, {}}), "COM3: no such port");
    unsetenv("TANDEL_PORTS");
    fs::remove_all(dir);
}

namespace {

// What the window and the command line say when the real open of `target` fails.
struct Said {
    std::string english;
    std::string polish;
};

Said OpenAndSay(const std::string& target) {
    TSerialPortDriver dane{PosixSerialBackend(), SystemClock::Instance()};
    dane.SetPortName(target);
    EXPECT_FALSE(dane.OpenPort()) << target;
    return {OpenFailureDetail(target, dane.LastOpenFailure()),
            OpenFailureDetail(target, dane.LastOpenFailure(), ReasonLanguage::Polish)};
}

}  // namespace

// The reason comes from what the open really returned, on real special files: a node that is
// no serial port is never "in use", and the window's words are Polish.
TEST(OpenFailureDetail, RealRefusalsGiveTheirTrueReasonInBothLanguages) {
    std::string pattern = (fs::temp_directory_path() / "tandel-open-XXXXXX").string();
    const fs::path dir = mkdtemp(pattern.data());
    const std::string file = (dir / "plik").string(), fifo = (dir / "fifo").string();
    std::ofstream(file) << "x";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_symlink(dir / "loop", dir / "loop");
    const std::string tooLong = (dir / std::string(300, 'n')).string();
    const struct {
        std::string target;
        const char* english;
        const char* polish;
    } cases[] = {
        {"/dev/null", "not a serial port", "to nie jest port szeregowy"},
        {"/dev/zero", "not a serial port", "to nie jest port szeregowy"},
        {file, "not a serial port", "to nie jest port szeregowy"},
        {fifo, "not a serial port", "to nie jest port szeregowy"},
        {dir.string(), "a directory, not a serial port", "to jest katalog, a nie port szeregowy"},
        {(dir / "gone").string(), "no such device (unplugged, or a link to nothing)",
         "brak urządzenia (odłączone albo dowiązanie do niczego)"},
        {(dir / "loop").string(), "too many symbolic links", "zbyt wiele dowiązań symbolicznych"},
        {tooLong, "the port's path is too long", "zbyt długa ścieżka portu"},
    };
    for (const auto& c : cases) {
        const Said said = OpenAndSay(c.target);
        EXPECT_EQ(said.english, c.target + ": " + c.english);
        EXPECT_EQ(said.polish, c.target + ": " + c.polish);
    }
    fs::remove_all(dir);
}
