#include "PortHolders.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

std::string LockDirectory() {
    for (const char* dir : {"/run/lock", "/var/lock"}) {
        struct stat st {};
        if (::stat(dir, &st) == 0 && S_ISDIR(st.st_mode)) return dir;
    }
    return "/run/lock";
}

bool Alive(pid_t pid) {
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

// The PID a lock file holds, written as ten digits and a newline.
pid_t LockOwner(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) return 0;
    char text[32] = {};
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n <= 0) return 0;
    const long pid = std::strtol(text, nullptr, 10);
    return pid > 0 && pid < (1L << 22) ? static_cast<pid_t>(pid) : 0;
}

std::string ProcessName(pid_t pid) {
    std::string name;
    if (FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/comm").c_str(), "re")) {
        char buffer[64] = {};
        if (std::fgets(buffer, sizeof buffer, f)) name = buffer;
        std::fclose(f);
    }
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
    std::replace_if(name.begin(), name.end(), [](char c) { return c < 0x20 || c == 0x7F; }, '?');
    return (name.empty() ? std::string("?") : name) + " (PID " + std::to_string(pid) + ")";
}

// The device number of a character node, 0 for anything else.
dev_t CharDevice(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode) ? st.st_rdev : 0;
}

// The first other process with a descriptor on the node `rdev`, whichever name it opened.
pid_t OpenedBy(dev_t rdev) {
    const pid_t self = ::getpid();
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) return 0;
    pid_t found = 0;
    while (const dirent* e = ::readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(e->d_name, &end, 10);
        if (pid <= 0 || *end != '\0' || pid == self) continue;
        const std::string fdDir = std::string("/proc/") + e->d_name + "/fd";
        DIR* fds = ::opendir(fdDir.c_str());
        if (fds == nullptr) continue;  // gone, or not ours to inspect
        while (const dirent* f = ::readdir(fds)) {
            if (f->d_name[0] == '.') continue;
            // Only descriptors of nodes below /dev are looked at closer.
            const std::string fd = fdDir + "/" + f->d_name;
            char target[5] = {};
            if (::readlink(fd.c_str(), target, 5) == 5 && std::string(target, 5) == "/dev/" &&
                CharDevice(fd) == rdev) {
                found = static_cast<pid_t>(pid);
                break;
            }
        }
        ::closedir(fds);
        if (found != 0) break;
    }
    ::closedir(proc);
    return found;
}

}  // namespace

std::string UucpLockPath(const std::string& device) {
    std::string name = device;
    if (name.rfind("/dev/", 0) == 0) {
        name = name.substr(5);
        std::replace(name.begin(), name.end(), '/', '_');
    } else {
        name = name.substr(name.find_last_of('/') + 1);
    }
    return LockDirectory() + "/LCK.." + name;
}

// Only a terminal can be a port another program holds: a node of the kernel's tty class, or a
// pseudo-terminal (Unix 98 majors 136 to 143, which sysfs does not list).
bool IsTerminalNode(const std::string& device) {
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    const unsigned major = ::major(st.st_rdev);
    if (major >= 136 && major <= 143) return true;
    char link[4096];
    const std::string subsystem = "/sys/dev/char/" + std::to_string(major) + ":" +
                                  std::to_string(::minor(st.st_rdev)) + "/subsystem";
    const ssize_t n = ::readlink(subsystem.c_str(), link, sizeof link - 1);
    if (n <= 0) return false;
    const std::string target(link, static_cast<size_t>(n));
    return target.size() >= 4 && target.compare(target.size() - 4, 4, "/tty") == 0;
}

bool IsControllingTerminal(dev_t rdev) {
    if (rdev == ::makedev(5, 0)) return true;  // /dev/tty
    // Field 7 of /proc/self/stat: the controlling terminal's number (0: none).
    FILE* f = std::fopen("/proc/self/stat", "re");
    if (f == nullptr) return false;
    char text[1024] = {};
    const size_t n = std::fread(text, 1, sizeof text - 1, f);
    std::fclose(f);
    const char* afterName = std::strrchr(text, ')');  // the name may hold blanks
    unsigned tty = 0;
    if (n == 0 || afterName == nullptr ||
        std::sscanf(afterName + 1, " %*c %*d %*d %*d %u", &tty) != 1 || tty == 0)
        return false;
    const unsigned major = (tty >> 8) & 0xfff;
    const unsigned minor = (tty & 0xff) | ((tty >> 12) & 0xfff00);
    return rdev == ::makedev(major, minor);
}

std::string PortHolder(const std::string& device) {
    if (!IsTerminalNode(device)) return {};
    const dev_t rdev = CharDevice(device);
    if (IsControllingTerminal(rdev)) return ProcessName(::getsid(0));
    const pid_t owner = LockOwner(UucpLockPath(device));
    if (owner != ::getpid() && Alive(owner)) return ProcessName(owner);
    if (const pid_t user = OpenedBy(rdev)) return ProcessName(user);
    return {};
}

UucpLock::UucpLock(UucpLock&& other) noexcept : path_(std::exchange(other.path_, {})) {}

UucpLock& UucpLock::operator=(UucpLock&& other) noexcept {
    if (this != &other) {
        Release();
        path_ = std::exchange(other.path_, {});
    }
    return *this;
}

bool UucpLock::Take(const std::string& device, std::string& holder) {
    Release();
    const std::string path = UucpLockPath(device);
    char text[16];
    const int length = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                              0644);
        if (fd >= 0) {
            const bool written = ::write(fd, text, static_cast<size_t>(length)) == length;
            ::close(fd);
            if (written) {
                path_ = path;
            } else {
                ::unlink(path.c_str());
            }
            return true;
        }
        if (errno != EEXIST) return true;  // no lock directory we may write to
        const pid_t owner = LockOwner(path);
        if (owner != ::getpid() && Alive(owner)) {
            holder = ProcessName(owner);
            return false;
        }
        ::unlink(path.c_str());  // a dead process's, or an unreadable one: replaced
    }
    return true;
}

void UucpLock::Release() {
    if (path_.empty()) return;
    // Only our own file goes: another program may have replaced a file it took for stale.
    if (LockOwner(path_) == ::getpid()) ::unlink(path_.c_str());
    path_.clear();
}
