#include "TerminalSystem.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace {

volatile std::sig_atomic_t resized = 0;

void OnResize(int) {
    resized = 1;
}

}  // namespace

bool IsTerminal(int fd) {
    return fd >= 0 && ::isatty(fd) == 1;
}

int TerminalColumns(int fd) {
    winsize size{};
    if (fd < 0 || ::ioctl(fd, TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}

void WatchTerminalResize() {
    struct sigaction action {};
    action.sa_handler = OnResize;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;  // a resize never ends a read of the terminal
    sigaction(SIGWINCH, &action, nullptr);
}

bool TakeTerminalResize() {
    if (resized == 0) return false;
    resized = 0;
    return true;
}

std::string ChangeDirectory(const std::string& dir) {
    if (::chdir(dir.c_str()) == 0) return {};
    return std::strerror(errno);
}

int OpenRegularFileForAppending(const std::string& path, std::string& reason) {
    int fd;
    do {
        fd = ::open(path.c_str(),
                    O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    } while (fd < 0 && errno == EINTR);
    struct stat st {};
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) return fd;
    const bool notRegular = fd >= 0 || errno == ELOOP || errno == ENXIO;  // a link, a pipe
    reason = notRegular ? "Not a regular file" : std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return -1;
}

std::string WriteWhole(int fd, std::string_view data) {
    ssize_t n;
    do {
        n = ::write(fd, data.data(), data.size());
    } while (n < 0 && errno == EINTR);
    if (n == static_cast<ssize_t>(data.size())) return {};
    return n < 0 ? std::strerror(errno) : "disk full";
}

void CloseFile(int fd) {
    if (fd >= 0) ::close(fd);
}
