#include "TerminalSystem.h"

#include "Platform.h"

bool IsTerminal(int fd) {
    return platform::IsTerminal(fd);
}

int TerminalColumns(int fd) {
    return platform::TerminalColumns(fd);
}

void WatchTerminalResize() {
    platform::WatchTerminalResize();
}

bool TakeTerminalResize() {
    return platform::TakeTerminalResize();
}

std::string ChangeDirectory(const std::string& dir) {
    const int error = platform::ChangeFolder(dir);
    return error == 0 ? std::string() : platform::ErrorText(error);
}
