#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "OpenFailureDetail.h"

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
