#include "Frames.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "FirmwareImage.h"

namespace fs = std::filesystem;

TEST(Frames, ConstantFramesCarryTheirCheck) {
    for (auto frame :
         {std::span<const Byte>(kFrameCardInit), std::span<const Byte>(kFrameEraseFlash),
          std::span<const Byte>(kFrameBitLockOn), std::span<const Byte>(kFrameBitLockOff),
          std::span<const Byte>(kFrameResetServer),
          std::span<const Byte>(kFrameReadFirmwareNumber)}) {
        EXPECT_EQ(FrameChecksum(frame.first(frame.size() - 1)), frame.back());
        EXPECT_EQ(frame[1], frame.size() - 3);
    }
    const Byte header[] = {0xCC, 0x48, 0x40};
    EXPECT_EQ(FrameChecksum(header), 0xC4);
    EXPECT_EQ(kWriteCheckStart, 0xC4);
}

TEST(Frames, ReplyWordsAndHex) {
    EXPECT_EQ(ReplyWord(0x91), "CRC");
    EXPECT_EQ(ReplyWord(0x92), "PROCES");
    EXPECT_EQ(ReplyWord(0x94), "LOCK");
    EXPECT_EQ(ReplyWord(0x93), "");
    EXPECT_EQ(ReplyWord(0x90), "");
    EXPECT_EQ(HexByte(0x0A), "0A");
    EXPECT_EQ(HexByte(0xA5), "A5");
    EXPECT_EQ(HexByte(0x00), "00");
}

TEST(WriteFrame, ZeroImageRecords) {
    const FirmwareImage image;
    const WriteFrame first = BuildWriteFrame(image, 0);
    EXPECT_EQ(first[0], 0xCC);
    EXPECT_EQ(first[1], 0x48);
    EXPECT_EQ(first[2], 0x40);
    EXPECT_EQ(first[3], 0x00);
    EXPECT_EQ(first[4], 0x00);
    for (size_t i = 5; i < 74; ++i) EXPECT_EQ(first[i], 0x00);
    EXPECT_EQ(first[74], 0xC4);

    const WriteFrame second = BuildWriteFrame(image, 1);
    EXPECT_EQ(second[3], 0x00);
    EXPECT_EQ(second[4], 0x10);
    EXPECT_EQ(second[74], 0xD4);

    const WriteFrame last = BuildWriteFrame(image, 219);
    EXPECT_EQ(last[3], 0x0D);
    EXPECT_EQ(last[4], 0xB0);
    EXPECT_EQ(last[74], 0x79);
}

TEST(WriteFrame, RecordContentAndCheck) {
    FirmwareImage image;
    for (size_t i = 0; i < 69; ++i) image.bytes[i] = static_cast<Byte>(i + 1);
    for (size_t i = 69; i < 138; ++i) image.bytes[i] = 0xFF;
    const WriteFrame first = BuildWriteFrame(image, 0);
    EXPECT_EQ(first[5], 0x01);
    EXPECT_EQ(first[73], 0x45);
    EXPECT_EQ(first[74], 0xC5);
    const WriteFrame second = BuildWriteFrame(image, 1);
    EXPECT_EQ(second[5], 0xFF);
    EXPECT_EQ(second[74], 0x2B);
}

class LoadImage : public ::testing::Test {
  protected:
    void SetUp() override {
        base_ = fs::temp_directory_path() /
                ("tandel-image-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(base_);
        fs::create_directories(base_ / "PELTA");
    }
    void TearDown() override { fs::remove_all(base_); }

    // A file whose byte k is k mod 251 + 1 (never zero, so unloaded bytes stand out).
    void WriteFile(const std::string& name, size_t size) {
        std::ofstream out(base_ / "PELTA" / name, std::ios::binary);
        for (size_t k = 0; k < size; ++k) out.put(static_cast<char>(k % 251 + 1));
    }
    FirmwareImage Load(const std::string& name) {
        return LoadFirmwareImage(base_.string(), "PELTA", name);
    }
    static Byte Pattern(size_t k) { return static_cast<Byte>(k % 251 + 1); }

    fs::path base_;
};

TEST_F(LoadImage, EveryByteButTheLastIsLoaded) {
    for (size_t size : {size_t{15180}, size_t{15181}, size_t{20000}}) {
        SCOPED_TRACE(size);
        WriteFile("fw.bin", size);
        const FirmwareImage image = Load("fw.bin");
        ASSERT_EQ(image.bytes.size(), kImageSize);
        for (size_t k = 0; k < kImageSize; ++k) {
            const Byte expected = k + 1 < size ? Pattern(k) : 0;
            if (image.bytes[k] != expected) FAIL() << "position " << k;
        }
    }
    WriteFile("fw.bin", 15180);
    EXPECT_EQ(BuildWriteFrame(Load("fw.bin"), 219)[73], 0x00);  // the file's last byte
    WriteFile("fw.bin", 15181);
    EXPECT_EQ(BuildWriteFrame(Load("fw.bin"), 219)[73], Pattern(15179));
}

TEST_F(LoadImage, LongFileFillsOnlyTheImage) {
    WriteFile("big.bin", 40000);
    const FirmwareImage image = Load("big.bin");
    ASSERT_EQ(image.bytes.size(), kImageSize);
    EXPECT_EQ(image.bytes[kImageSize - 1], Pattern(kImageSize - 1));
}

TEST_F(LoadImage, FailuresCarryTheRunTimeTexts) {
    auto message = [&](const std::string& name) -> std::string {
        try {
            Load(name);
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "no error";
    };
    EXPECT_EQ(message("missing.bin"), "File not found");
    // A file shorter than the sent image is a truncated copy: never loaded.
    for (size_t size : {1, 100, 15179}) {
        WriteFile("short.bin", size);
        EXPECT_EQ(message("short.bin"), kLineWrongFileSize) << size;
    }
    fs::create_directories(base_ / "PELTA" / "dir.bin");
    EXPECT_EQ(message("dir.bin"), "File access denied");
    WriteFile("empty.bin", 0);
    EXPECT_EQ(message("empty.bin"), "Read beyond end of file");
    // A named pipe without a writer is refused at once instead of holding the run.
    ASSERT_EQ(::mkfifo((base_ / "PELTA" / "pipe.bin").c_str(), 0600), 0);
    EXPECT_EQ(message("pipe.bin"), "File access denied");
}

TEST_F(LoadImage, ReadOnlyFileLoads) {
    WriteFile("ro.bin", 15180);
    fs::permissions(base_ / "PELTA" / "ro.bin", fs::perms::owner_read);
    EXPECT_EQ(Load("ro.bin").bytes[98], Pattern(98));
}
