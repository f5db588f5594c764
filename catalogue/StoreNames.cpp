#include "StoreNames.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <charconv>
#include <memory>

#include "BaseDirectory.h"
#include "Cp1250.h"
#include "DeviceConfig.h"
#include "LiveUpdate.h"

namespace {

constexpr std::string_view kTemporaryPrefix = ".tandel-";
constexpr std::string_view kTemporarySuffix = ".part";
// The longest name a run writes into a device folder: opis.txt, or its temporary file with a
// process id and a counter of up to ten digits each.
constexpr std::size_t kLongestWrittenName = 8 + 10 + 1 + 10 + 5;

bool PiecesFit(std::string_view path) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = path.find('/', start);
        const std::size_t end = slash == std::string_view::npos ? path.size() : slash;
        if (end - start > NAME_MAX) return false;
        if (slash == std::string_view::npos) return true;
        start = slash + 1;
    }
}

// The process id of a temporary file name (for people; the lock decides), 0 when the name
// is none.
long TemporaryOwner(std::string_view name) {
    if (!name.starts_with(kTemporaryPrefix) || !name.ends_with(kTemporarySuffix)) return 0;
    name.remove_prefix(kTemporaryPrefix.size());
    name.remove_suffix(kTemporarySuffix.size());
    const std::size_t dash = name.find('-');
    if (dash == std::string_view::npos || dash == 0 || dash + 1 == name.size()) return 0;
    long pid = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + dash, pid);
    if (error != std::errc() || end != name.data() + dash || pid <= 0 || pid > INT_MAX) return 0;
    for (const char c : name.substr(dash + 1)) {
        if (c < '0' || c > '9') return 0;
    }
    return pid;
}

// Removes the regular file `path` unless a run holds its lifetime lock (StoreBatch). The lock
// is taken before the removal, so that a run's file is never removed from under it.
bool RemoveUnlessHeld(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    const bool removed = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                         ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::unlink(path.c_str()) == 0;
    ::close(fd);
    return removed;
}

}  // namespace

bool UsableStoreFolder(const std::string& base, std::string_view folder,
                       const std::string& address) {
    // Every byte is at least one on disk and in the address: a long folder fails unconverted.
    if (base.size() + folder.size() >= PATH_MAX || address.size() + folder.size() > kUrlLimit)
        return false;
    const std::string onDisk = FolderOnDisk(folder);
    const std::string store = JoinPath(base, onDisk);
    return PiecesFit(onDisk) && store.size() + 1 + kLongestWrittenName < PATH_MAX &&
           (address + EncodeUrlPath(folder) + "/lista.txt").size() <= kUrlLimit;
}

bool UsableStoreFile(const std::string& store, std::string_view name, const std::string& remote) {
    if (name.size() > NAME_MAX || remote.size() + name.size() > kUrlLimit) return false;
    const std::string file = Cp1250ToUtf8(name) + ".bin";
    return file.size() <= NAME_MAX && store.size() + 1 + file.size() < PATH_MAX &&
           (remote + EncodeUrlPath(name) + ".bin").size() <= kUrlLimit;
}

std::string_view LogPart(std::string_view name) {
    return name.substr(0, 255);
}

int RemoveStaleTemporaries(const std::string& directory) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(directory.c_str()), ::closedir);
    if (!dir) return 0;
    int removed = 0;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (TemporaryOwner(entry->d_name) == 0) continue;
        if (RemoveUnlessHeld(JoinPath(directory, entry->d_name))) ++removed;
    }
    return removed;
}
