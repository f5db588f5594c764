#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

// Largest init.cfg and opis.txt read; a longer file is refused whole, never read in part.
inline constexpr std::size_t kInitCfgLimit = std::size_t{4} << 20;
inline constexpr std::size_t kDescriptionLimit = std::size_t{1} << 20;
// Most lines an init.cfg may hold: every line becomes a list item, a folder check and a
// store listing, so a file of nothing but line ends must not become millions of them.
inline constexpr std::size_t kInitCfgLineLimit = 10000;
// Most lines an opis.txt may hold; each is a block of the description box.
inline constexpr std::size_t kDescriptionLineLimit = 10000;

// A file that could not be read: what() is `Cannot open file "<path>". <reason>` with the
// reason in English (the system's text for a failed call).
class FileReadError : public std::runtime_error {
  public:
    enum class Cause {
        System,      // a call failed; `error` holds its errno
        NotRegular,  // a directory, device, FIFO or socket
        TooLarge,    // longer than `limit` bytes
        TooManyLines,
    };
    FileReadError(std::string path, Cause cause, int error, std::size_t limit);

    const std::string& Path() const { return path_; }
    Cause Why() const { return cause_; }
    // The reason as the window shows it: Polish in our words for a refused file, the
    // system's text for a failed call.
    std::string PolishText() const;

  private:
    std::string path_;
    Cause cause_;
    int error_;
    std::size_t limit_;
};

// The bytes of the regular file `path`, at most `limit` of them. Opened without blocking (a
// FIFO or a device never holds the caller up); anything but a regular file, or a file of more
// than `limit` bytes, throws FileReadError without reading, as does a failed call.
std::string ReadBoundedFile(const std::string& path, std::size_t limit);
