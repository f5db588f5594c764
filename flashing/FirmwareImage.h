#pragma once

#include <array>
#include <string>
#include <vector>

#include "Frames.h"

// A firmware file is opaque: it is cut into 220 records of 69 bytes, and record n goes out in
// one write frame at address 16 n.
constexpr size_t kImageSize = 30000;
constexpr size_t kRecordCount = 220;
constexpr size_t kRecordSize = 69;
constexpr size_t kSentImageBytes = kRecordCount * kRecordSize;  // 15180
constexpr uint16_t kAddressStep = 16;
constexpr int kProgressMax = kRecordCount * kAddressStep;  // 3520

struct FirmwareImage {
    std::vector<Byte> bytes = std::vector<Byte>(kImageSize, 0);
    // The file as this load read it through its one open, every byte of it (the last one
    // too): its size and SHA-256 in hexadecimal (empty past kHashedFileBound). The journal
    // tells these, whatever happens to the file's name afterwards.
    uint64_t fileSize = 0;
    std::string fileSha256;
};

// Firmware files are small; a bigger file is loaded but not hashed.
constexpr uint64_t kHashedFileBound = 64 * 1024 * 1024;

// SHA-256 (hexadecimal) of the kSentImageBytes that the write frames carry.
std::string SentImageSha256(const FirmwareImage& image);

// Path of the selected firmware file: base directory / folder / entry.
std::string FirmwarePath(const std::string& baseDirectory, const std::string& firmwareFolder,
                         const std::string& entry);

// The text of a firmware file shorter than the sent image (1 to 15179 bytes).
inline constexpr const char* kLineWrongFileSize =
    "Błąd : niewłąściwy rozmiar pliku, wykonaj aktualizacje jeszcze raz...";

// Loads every byte of the file but the last into a zeroed image; a file longer than the image
// supplies only the image's size. The file is opened read-only. Throws std::runtime_error with
// "File not found", "File access denied" (also for a directory), "Read beyond end of file"
// (an empty file, or a file that shrinks while it is read) or kLineWrongFileSize (a file
// shorter than the 15180 bytes that are sent).
FirmwareImage LoadFirmwareImage(const std::string& baseDirectory, const std::string& firmwareFolder,
                                const std::string& entry);

constexpr uint16_t RecordAddress(size_t record) {
    return static_cast<uint16_t>(record * kAddressStep);
}

using WriteFrame = std::array<Byte, kWriteFrameSize>;

// The 75 bytes of the write frame of record 0..219.
WriteFrame BuildWriteFrame(const FirmwareImage& image, size_t record);
