#include "StoreBatch.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <set>
#include <thread>
#include <vector>

#include "BaseDirectory.h"

namespace {

// A temporary is locked for as long as its descriptor is open: the lock, not the process id
// in its name, tells another run (another PID namespace, another machine on a shared store)
// that the file is alive. True when the lock is taken and `temporary` still names this file
// (a run clearing stale files may have taken it between the creation and the lock).
bool LockForItsLife(int fd, const std::string& temporary) {
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) return false;
    struct stat named {};
    struct stat opened {};
    return stat(temporary.c_str(), &named) == 0 && fstat(fd, &opened) == 0 &&
           named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
}

// Creates a fresh temporary file in `path`'s folder, locked for its life; its name is not
// derived from the file name, so that a name near the length limit still fits. Returns the
// descriptor, or -1 with errno set.
int CreateTemporary(const std::string& path, std::string& temporary) {
    static std::atomic<unsigned> counter{0};
    const std::string folder = path.substr(0, path.rfind('/') + 1);
    for (;;) {
        temporary = folder + ".tandel-" + std::to_string(getpid()) + "-" +
                    std::to_string(counter++) + ".part";
        const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && (errno == EEXIST || errno == EINTR)) continue;
        if (fd < 0 || LockForItsLife(fd, temporary)) return fd;
        close(fd);  // taken for stale at once: its remover deletes it
    }
}

// Writes all of `bytes`; 0 or the errno of the failure.
int WriteAll(int fd, std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

// Flushes the folder itself, so that the renames in it survive a power cut. A folder that
// cannot be opened or flushed (some file systems refuse) leaves the files as renamed.
void FlushFolder(const std::string& folder) {
    const int fd = open(folder.empty() ? "/" : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

// Flushes the files of all entries, a few at once (the file system's journal takes flushes
// that wait together in one commit); per entry 0 or the errno of its flush.
template <typename Entries>
std::vector<int> FlushAll(const Entries& entries) {
    constexpr std::size_t kFlushers = 4;
    std::vector<int> errors(entries.size(), 0);
    std::atomic<std::size_t> next{0};
    const auto flush = [&] {
        for (std::size_t i; (i = next++) < entries.size();) {
            while (fsync(entries[i].fd) != 0) {
                if (errno != EINTR) {
                    errors[i] = errno;
                    break;
                }
            }
        }
    };
    std::vector<std::thread> helpers;
    for (std::size_t k = 1; k < std::min(kFlushers, entries.size()); ++k) helpers.emplace_back(flush);
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
    const int fd = CreateTemporary(path, temporary);
    if (fd < 0) throw std::runtime_error(CannotCreateText(path, errno));
    const int error = WriteAll(fd, bytes);
    if (error != 0) {
        close(fd);
        unlink(temporary.c_str());
        throw std::runtime_error(CannotCreateText(path, error));
    }
    // Starts the write-back now, so that the flush at Commit finds little left to do.
    sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    entries_.push_back({path, std::move(temporary), fd});
}

void StoreBatch::Commit() {
    const std::vector<int> flushed = FlushAll(entries_);
    std::size_t failed = entries_.size();
    int error = 0;
    for (std::size_t i = 0; i < entries_.size() && error == 0; ++i) {
        error = flushed[i];
        if (close(entries_[i].fd) != 0 && error == 0) error = errno;
        entries_[i].fd = -1;
        if (error != 0) failed = i;
    }
    if (afterFlushForTest != nullptr) afterFlushForTest();
    std::set<std::string> folders;
    for (std::size_t i = 0; i < failed; ++i) {
        if (rename(entries_[i].temporary.c_str(), entries_[i].path.c_str()) != 0) {
            error = errno;
            failed = i;
            break;
        }
        folders.insert(entries_[i].path.substr(0, entries_[i].path.rfind('/')));
    }
    for (const std::string& folder : folders) FlushFolder(folder);
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
        if (entries_[i].fd >= 0) close(entries_[i].fd);
        unlink(entries_[i].temporary.c_str());
    }
    entries_.resize(from);
}
