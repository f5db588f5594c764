#include "BoundedRead.h"

#include <algorithm>
#include <utility>

#include "BaseDirectory.h"
#include "Platform.h"

namespace {

std::string Mebibytes(std::size_t limit) {
    return std::to_string(limit >> 20) + " MiB";
}

std::string EnglishReason(FileReadError::Cause cause, int error, std::size_t limit) {
    switch (cause) {
        case FileReadError::Cause::NotRegular:
            return "It is not a regular file.";
        case FileReadError::Cause::TooLarge:
            return "The file is larger than " + Mebibytes(limit) + ".";
        case FileReadError::Cause::TooManyLines:
            return "The file has more than " + std::to_string(limit) + " lines.";
        case FileReadError::Cause::System:
            break;
    }
    return SystemReason(error);
}

}  // namespace

FileReadError::FileReadError(std::string path, Cause cause, int error, std::size_t limit)
    : std::runtime_error("Cannot open file \"" + path + "\". " +
                         EnglishReason(cause, error, limit)),
      path_(std::move(path)),
      cause_(cause),
      error_(error),
      limit_(limit) {}

std::string FileReadError::PolishText() const {
    std::string reason;
    switch (cause_) {
        case Cause::NotRegular:
            reason = "To nie jest zwykły plik.";
            break;
        case Cause::TooLarge:
            reason = "Plik jest większy niż " + Mebibytes(limit_) + ".";
            break;
        case Cause::TooManyLines:
            reason = "Plik ma więcej niż " + std::to_string(limit_) + " wierszy.";
            break;
        case Cause::System:
            reason = SystemReason(error_);
            break;
    }
    return "Cannot open file \"" + path_ + "\". " + reason;
}

std::string ReadBoundedFile(const std::string& path, std::size_t limit) {
    using Cause = FileReadError::Cause;
    const auto fail = [&](Cause cause, int error) { return FileReadError(path, cause, error, limit); };
    platform::InputFile file;
    if (!file.Open(path)) throw fail(Cause::System, file.Error());
    if (!file.IsRegular()) throw fail(Cause::NotRegular, 0);
    if (file.Size() > limit) throw fail(Cause::TooLarge, 0);

    // The size may change while the file is read: one byte past the bound tells it grew.
    std::string bytes(static_cast<std::size_t>(file.Size()) + 1, '\0');
    std::size_t done = 0;
    for (;;) {
        if (done == bytes.size()) {
            if (bytes.size() > limit) throw fail(Cause::TooLarge, 0);
            bytes.resize(std::min(limit + 1, bytes.size() * 2));
        }
        const long long n = file.Read(bytes.data() + done, bytes.size() - done);
        if (n < 0) throw fail(Cause::System, file.Error());
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    bytes.resize(done);
    return bytes;
}
