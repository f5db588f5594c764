// The firmware image loader over files of any content and size and over what a store entry
// can be instead of a file (a directory, a missing or dangling entry, an unreadable file, a
// named pipe), then the write frames of the loaded image. A load gives the file's bytes but
// the last, cut to the image size, over zeros, or one of the designed failures (a file shorter
// than the sent image among them); never a hang.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <string>

#include "FirmwareImage.h"
#include "FuzzInput.h"
#include "Scratch.h"

namespace {

enum class Entry { File, Directory, Missing, Dangling, Link, Unreadable, Pipe };

// Makes the store entry "fw.bin" as the input says; returns what the load should see.
Entry MakeEntry(const std::filesystem::path& folder, uint8_t choice, const std::string& content) {
    const std::filesystem::path path = folder / "fw.bin";
    const auto write = [&content](const std::filesystem::path& file) {
        std::ofstream(file, std::ios::binary) << content;
    };
    switch (choice % 16) {
        case 10:
            std::filesystem::create_directory(path);
            return Entry::Directory;
        case 11:
            return Entry::Missing;
        case 12:
            std::filesystem::create_symlink(folder / "nowhere", path);
            return Entry::Dangling;
        case 13:
            write(folder / "target");
            std::filesystem::create_symlink(folder / "target", path);
            return Entry::Link;
        case 14:
            write(path);
            chmod(path.c_str(), 0);
            return Entry::Unreadable;
        case 15:
            mkfifo(path.c_str(), 0600);
            return Entry::Pipe;
        default:
            write(path);
            return Entry::File;
    }
}

std::string LoadFailure(const std::string& folder) {
    try {
        LoadFirmwareImage(folder, ".", "fw.bin");
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return {};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const uint8_t choice = in.Byte();
    std::string content = in.Rest();
    // Half of the inputs are stretched to whole images, so that the frames get exercised.
    if (choice >= 128) content.resize(std::max(content.size(), kSentImageBytes + choice % 4), 'x');
    const std::filesystem::path folder = FreshFolder("store");
    Entry entry = MakeEntry(folder, choice, content);
    if (entry == Entry::Unreadable && access((folder / "fw.bin").c_str(), R_OK) == 0)
        entry = Entry::File;  // the super-user reads it all the same

    switch (entry) {
        case Entry::Missing:
        case Entry::Dangling:
            FUZZ_CHECK(LoadFailure(folder.string()) == "File not found", LoadFailure(folder));
            return 0;
        case Entry::Directory:
        case Entry::Unreadable:
        case Entry::Pipe:
            FUZZ_CHECK(LoadFailure(folder.string()) == "File access denied", LoadFailure(folder));
            return 0;
        case Entry::File:
        case Entry::Link:
            break;
    }
    if (content.empty()) {
        FUZZ_CHECK(LoadFailure(folder.string()) == "Read beyond end of file", "empty file");
        return 0;
    }
    if (content.size() < kSentImageBytes) {
        FUZZ_CHECK(LoadFailure(folder.string()) == kLineWrongFileSize, "short file loaded");
        return 0;
    }

    const FirmwareImage image = LoadFirmwareImage(folder.string(), ".", "fw.bin");
    FUZZ_CHECK(image.bytes.size() == kImageSize,
               "image size " + std::to_string(image.bytes.size()));
    const size_t loaded = std::min(content.size() - 1, kImageSize);
    for (size_t k = 0; k < kImageSize; ++k) {
        const uint8_t expected = k < loaded ? static_cast<uint8_t>(content[k]) : 0;
        FUZZ_CHECK(image.bytes[k] == expected, "image byte " + std::to_string(k));
    }

    for (size_t record = 0; record < kRecordCount; ++record) {
        const WriteFrame frame = BuildWriteFrame(image, record);
        FUZZ_CHECK(frame[0] == 0xCC && frame[1] == 0x48 && frame[2] == 0x40, "frame head");
        FUZZ_CHECK((frame[3] << 8 | frame[4]) == static_cast<int>(16 * record), "address");
        Byte check = 0;
        for (size_t i = 0; i + 1 < frame.size(); ++i) check ^= frame[i];
        FUZZ_CHECK(frame.back() == check, "check byte of record " + std::to_string(record));
        for (size_t i = 0; i < kRecordSize; ++i)
            FUZZ_CHECK(frame[5 + i] == image.bytes[record * kRecordSize + i], "record byte");
    }
    return 0;
}
