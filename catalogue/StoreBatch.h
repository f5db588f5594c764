#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "Platform.h"

// "Cannot create file "<path>". <reason>": the text of a store file that cannot be written.
std::string CannotCreateText(const std::string& path, int error);

// Files stored together at the cost of about one flush: each is written whole under a
// temporary name `.tandel-<pid>-<n>.part` in its folder, locked (flock) while it is open, with
// its write-back started at once (Add); Commit flushes them
// all, renames each onto its path in the order added, then flushes each folder once. A file
// is in place only after Commit; a crash before leaves temporaries, never a short file under
// a final name. What is not committed is removed when the batch goes.
class StoreBatch {
  public:
    // The file of entry `entry` (0 = the first added since the last Commit) could not be
    // stored; the entries before it are in place, it and the later ones are not.
    struct Failure : std::runtime_error {
        Failure(std::size_t failedEntry, const std::string& text)
            : std::runtime_error(text), entry(failedEntry) {}
        std::size_t entry;
    };

    StoreBatch() = default;
    ~StoreBatch();
    StoreBatch(const StoreBatch&) = delete;
    StoreBatch& operator=(const StoreBatch&) = delete;

    // Writes `bytes` under a temporary name beside `path`. A failure throws std::runtime_error
    // (CannotCreateText), with nothing of this file left and the batch as it was.
    void Add(const std::string& path, std::string_view bytes);
    std::size_t Size() const { return entries_.size(); }
    // Puts every added file in place; throws Failure. The batch is empty afterwards.
    void Commit();

    // Runs between the flush and the renames of every Commit: a test stands a crash there.
    static void (*afterFlushForTest)();

  private:
    struct Entry {
        std::string path;
        std::string temporary;
        platform::OutputFile file;
    };
    void Discard(std::size_t from) noexcept;

    std::vector<Entry> entries_;
};
