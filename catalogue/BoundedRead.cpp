#include "BoundedRead.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "BaseDirectory.h"

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

struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

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
    Fd file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
    if (file.fd < 0) throw fail(Cause::System, errno);
    struct stat st {};
    if (::fstat(file.fd, &st) != 0) throw fail(Cause::System, errno);
    if (!S_ISREG(st.st_mode)) throw fail(Cause::NotRegular, 0);
    if (static_cast<unsigned long long>(st.st_size) > limit) throw fail(Cause::TooLarge, 0);

    // The size may change while the file is read: one byte past the bound tells it grew.
    std::string bytes(static_cast<std::size_t>(st.st_size) + 1, '\0');
    std::size_t done = 0;
    for (;;) {
        if (done == bytes.size()) {
            if (bytes.size() > limit) throw fail(Cause::TooLarge, 0);
            bytes.resize(std::min(limit + 1, bytes.size() * 2));
        }
        const ssize_t n = ::read(file.fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw fail(Cause::System, errno);
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    bytes.resize(done);
    return bytes;
}
