#include "FirmwareImage.h"

#include <QCryptographicHash>
#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include "Platform.h"

namespace {

[[noreturn]] void Fail(const char* message) {
    throw std::runtime_error(message);
}

// Opened without waiting: a named pipe or a device node in the store must not hold the run
// (its open would wait for a writer); such an entry is refused once it is open.
void OpenFirmwareFile(platform::InputFile& file, const std::string& path) {
    if (!file.Open(path)) {
        const int error = file.Error();
        Fail(error == ENOENT || error == ENOTDIR ? "File not found" : "File access denied");
    }
}

// Reads the rest of the file after the `loaded` bytes of the image and hashes all of it; a
// file past the bound is not read further (its size is then the one `statSize` gives).
void HashWholeFile(platform::InputFile& file, FirmwareImage& image, size_t loaded,
                   uint64_t statSize) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArrayView(image.bytes.data(), static_cast<qsizetype>(loaded)));
    uint64_t size = loaded;
    char buffer[65536];
    while (size <= kHashedFileBound) {
        const long long n = file.Read(buffer, sizeof buffer);
        if (n <= 0) break;
        size += static_cast<uint64_t>(n);
        hash.addData(QByteArrayView(buffer, static_cast<qsizetype>(n)));
    }
    image.fileSize = size <= kHashedFileBound ? size : std::max(size, statSize);
    if (size <= kHashedFileBound) image.fileSha256 = hash.result().toHex().toStdString();
}

}  // namespace

std::string FirmwarePath(const std::string& baseDirectory, const std::string& firmwareFolder,
                         const std::string& entry) {
    return baseDirectory + platform::kPathSeparator + firmwareFolder + platform::kPathSeparator +
           entry;
}

FirmwareImage LoadFirmwareImage(const std::string& baseDirectory, const std::string& firmwareFolder,
                                const std::string& entry) {
    platform::InputFile file;
    OpenFirmwareFile(file, FirmwarePath(baseDirectory, firmwareFolder, entry));
    if (!file.IsRegular()) Fail("File access denied");
    if (file.Size() == 0) Fail("Read beyond end of file");
    // Every file the store receives holds the whole image; a shorter one is a truncated copy,
    // and writing it would replace working firmware with a part of it.
    if (file.Size() < kSentImageBytes) Fail(kLineWrongFileSize);

    FirmwareImage image;
    // The last byte of a file is never loaded; stored files depend on that.
    const size_t wanted = std::min(static_cast<size_t>(file.Size()) - 1, kImageSize);
    size_t done = 0;
    while (done < wanted) {
        const long long n =
            file.Read(reinterpret_cast<char*>(image.bytes.data()) + done, wanted - done);
        if (n < 0) Fail("File access denied");
        if (n == 0) Fail("Read beyond end of file");
        done += static_cast<size_t>(n);
    }
    HashWholeFile(file, image, done, file.Size());
    return image;
}

std::string SentImageSha256(const FirmwareImage& image) {
    return QCryptographicHash::hash(
               QByteArrayView(image.bytes.data(), static_cast<qsizetype>(kSentImageBytes)),
               QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

WriteFrame BuildWriteFrame(const FirmwareImage& image, size_t record) {
    const uint16_t address = RecordAddress(record);
    WriteFrame frame{};
    frame[0] = kFrameStart;
    frame[1] = kWriteFrameLength;
    frame[2] = kCmdWriteFlash;
    frame[3] = static_cast<Byte>(address >> 8);
    frame[4] = static_cast<Byte>(address & 0xFF);
    std::copy_n(image.bytes.begin() + record * kRecordSize, kRecordSize, frame.begin() + 5);
    frame[kWriteFrameSize - 1] = FrameChecksum(std::span(frame).first(kWriteFrameSize - 1));
    return frame;
}
