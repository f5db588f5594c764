#include <windows.h>
#include <shellapi.h>

#include <cstdio>

#include "DesktopShell.h"

bool HasDisplay() {
    return true;
}

void OpenInBrowser(const QString& url) {
    // The shell's handler of the address's scheme: the user's default browser for http.
    const std::wstring address = url.toStdWString();
    ShellExecuteW(nullptr, L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

const char* EnvironmentHelp() {
    return "  COMn is Windows' own port COMn (\\\\.\\COMn); the port box's hints name each port's\n"
           "  adapter as Windows lists it\n";
}

void UseStartingConsole() {
    // Output redirected to a file or a pipe already has its handle; only a bare start from a
    // console needs that console attached.
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out != nullptr && out != INVALID_HANDLE_VALUE) return;
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
    std::freopen("CONOUT$", "w", stdout);
    std::freopen("CONOUT$", "w", stderr);
}
