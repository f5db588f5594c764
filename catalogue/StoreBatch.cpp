#include "StoreBatch.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <set>
#include <thread>
#include <vector>

#include "BaseDirectory.h"
#include "Platform.h"

namespace {

// Creates a fresh temporary file in `path`'s folder, locked for its life: the lock, not the
// process id in its name, tells another run (another PID namespace, another machine on a
// shared store) that the file is alive. Its name is not derived from the file name, so that a
// name near the length limit still fits. 0 or the errno.
int CreateTemporary(const std::string& path, std::string& temporary, platform::OutputFile& file) {
    static std::atomic<unsigned> counter{0};
    std::size_t cut = path.size();
    while (cut > 0 && !platform::IsPathSeparator(path[cut - 1])) --cut;
    const std::string folder = path.substr(0, cut);
    for (;;) {
        temporary = folder + ".tandel-" + std::to_string(platform::ProcessId()) + "-" +
                    std::to_string(counter++) + ".part";
        const int error = file.CreateNew(temporary);
        if (error == EEXIST) continue;
        if (error != 0) return error;
        // A run clearing stale files may have taken it between the creation and the lock.
        if (file.LockForLife(temporary)) return 0;
        file.Close();  // taken for stale at once: its remover deletes it
    }
}

// The folder of a path, without its separator.
std::string FolderOf(const std::string& path) {
    std::size_t cut = path.size();
    while (cut > 0 && !platform::IsPathSeparator(path[cut - 1])) --cut;
    return path.substr(0, cut == 0 ? 0 : cut - 1);
}

// Flushes the files of all entries, a few at once (the file system's journal takes flushes
// that wait together in one commit); per entry 0 or the errno of its flush.
template <typename Entries>
std::vector<int> FlushAll(const Entries& entries) {
    constexpr std::size_t kFlushers = 4;
    std::vector<int> errors(entries.size(), 0);
    std::atomic<std::size_t> next{0};
    const auto flush = [&] {
        for (std::size_t i; (i = next++) < entries.size();) errors[i] = entries[i].file.Flush();
    };
    std::vector<std::thread> helpers;
    for (std::size_t k = 1; k < std::min(kFlushers, entries.size()); ++k)
        helpers.emplace_back(flush);
    flush();
    for (std::thread& helper : helpers) helper.join();
    return errors;
}

}  // namespace

std::string CannotCreateText(const std::string& path, int error) {
    return "Cannot create file \"" + path + "\". " + SystemReason(error);
}

void (*StoreBatch::afterFlushForTest)() = nullptr;

StoreBatch::~StoreBatch() {
    Discard(0);
}

void StoreBatch::Add(const std::string& path, std::string_view bytes) {
    std::string temporary;
    platform::OutputFile file;
    if (const int error = CreateTemporary(path, temporary, file); error != 0)
        throw std::runtime_error(CannotCreateText(path, error));
    if (const int error = file.WriteAll(bytes); error != 0) {
        file.Close();
        platform::RemoveFile(temporary);
        throw std::runtime_error(CannotCreateText(path, error));
    }
    // Starts the write-back now, so that the flush at Commit finds little left to do.
    file.StartWriteBack();
    entries_.push_back({path, std::move(temporary), std::move(file)});
}

void StoreBatch::Commit() {
    const std::vector<int> flushed = FlushAll(entries_);
    std::size_t failed = entries_.size();
    int error = 0;
    for (std::size_t i = 0; i < entries_.size() && error == 0; ++i) {
        error = flushed[i];
        if (const int closed = entries_[i].file.Close(); closed != 0 && error == 0) error = closed;
        if (error != 0) failed = i;
    }
    if (afterFlushForTest != nullptr) afterFlushForTest();
    std::set<std::string> folders;
    for (std::size_t i = 0; i < failed; ++i) {
        error = platform::RenameOver(entries_[i].temporary, entries_[i].path);
        if (error != 0) {
            failed = i;
            break;
        }
        folders.insert(FolderOf(entries_[i].path));
    }
    for (const std::string& folder : folders) platform::FlushFolder(folder);
    if (failed == entries_.size()) {
        entries_.clear();
        return;
    }
    const std::string path = entries_[failed].path;
    Discard(failed);
    entries_.clear();
    throw Failure(failed, CannotCreateText(path, error));
}

void StoreBatch::Discard(std::size_t from) noexcept {
    for (std::size_t i = from; i < entries_.size(); ++i) {
        entries_[i].file.Close();
        platform::RemoveFile(entries_[i].temporary);
    }
    entries_.resize(from);
}
