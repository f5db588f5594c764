// Windows only: what the UTF-16 side of the system does with the program's UTF-8 texts.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "Platform.h"
#include "Win32Text.h"

namespace {

class Win32Files : public testing::Test {
  protected:
    void SetUp() override {
        base_ =
            platform::CurrentFolder() + "\\tandel-win32-" + std::to_string(platform::ProcessId());
        const int made = platform::MakeFolder(base_);  // a process id of an earlier run may recur
        ASSERT_TRUE(made == 0 || made == EEXIST) << made;
    }
    void TearDown() override {
        SetCurrentDirectoryW(platform::WideText(start_).c_str());
        for (const std::string& name : platform::ListFolder(folder())) {
            platform::RemoveFile(folder() + "\\" + name);
        }
        RemoveDirectoryW(platform::WideText(folder()).c_str());
        RemoveDirectoryW(platform::WideText(base_).c_str());
    }
    std::string folder() const { return base_ + "\\żółw ąę"; }

    std::string start_ = platform::CurrentFolder();
    std::string base_;
};

}  // namespace

// A Polish folder and file name reach the system as themselves, not as the bytes of a code
// page: listed, read back and found as the working folder with backslashes.
TEST_F(Win32Files, PolishNamesRoundTripThroughTheSystem) {
    const int made = platform::MakeFolder(folder());
    ASSERT_TRUE(made == 0 || made == EEXIST) << made;
    platform::RemoveFile(folder() + "\\opis łódź.txt");
    platform::OutputFile file;
    ASSERT_EQ(file.CreateNew(folder() + "\\opis łódź.txt"), 0);
    ASSERT_EQ(file.WriteAll("zażółć"), 0);
    ASSERT_EQ(file.Close(), 0);
    EXPECT_EQ(platform::ListFolder(folder()), std::vector<std::string>{"opis łódź.txt"});
    EXPECT_EQ(platform::KindOf(folder() + "\\opis łódź.txt"), platform::FileKind::Regular);
    ASSERT_TRUE(SetCurrentDirectoryW(platform::WideText(folder()).c_str()));
    EXPECT_EQ(platform::CurrentFolder(), folder());
    // Found through the UTF-16 name alone.
    const HANDLE raw = CreateFileW(L"opis \u0142\u00f3d\u017a.txt", GENERIC_READ, FILE_SHARE_READ,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(raw, INVALID_HANDLE_VALUE);
    CloseHandle(raw);
}

// The errno values the program's texts and retries are chosen by.
TEST(Win32Errors, SystemErrorsBecomeTheErrnoValuesTheTextsUse) {
    const struct {
        DWORD win32;
        int error;
    } cases[] = {{ERROR_FILE_NOT_FOUND, ENOENT},
                 {ERROR_PATH_NOT_FOUND, ENOENT},
                 {ERROR_ACCESS_DENIED, EACCES},
                 {ERROR_SHARING_VIOLATION, EBUSY},
                 {ERROR_FILE_EXISTS, EEXIST},
                 {ERROR_ALREADY_EXISTS, EEXIST},
                 {ERROR_DISK_FULL, ENOSPC},
                 {ERROR_INVALID_NAME, EINVAL},
                 {ERROR_CRC, EIO}};
    for (const auto& c : cases) EXPECT_EQ(platform::ErrnoOf(c.win32), c.error) << c.win32;
    EXPECT_EQ(platform::Utf8Text(platform::WideText("COM1 żółw")), "COM1 żółw");
}
