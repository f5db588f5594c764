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

int OpenRegularFileForAppending(const std::string& path, std::string& reason) {
    return platform::OpenRegularForAppending(path, reason);
}

std::string WriteWhole(int fd, std::string_view data) {
    return platform::WriteWhole(fd, data);
}

void CloseFile(int fd) {
    platform::CloseFile(fd);
}
