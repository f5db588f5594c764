#include "TerminalSystem.h"

#include <sys/ioctl.h>
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
