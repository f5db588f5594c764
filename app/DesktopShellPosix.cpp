#include <QDesktopServices>
#include <QUrl>
#include <cstdlib>

#include "DesktopShell.h"

namespace {

bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

}  // namespace

bool HasDisplay() {
    return IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY") || IsSet("QT_QPA_PLATFORM");
}

void OpenInBrowser(const QString& url) {
    QDesktopServices::openUrl(QUrl(url));
}

const char* EnvironmentHelp() {
    return "  TANDEL_PORTS           a folder whose entries COM1, COM2, ... (links to devices such\n"
           "                         as /dev/serial/by-id/...) alone map the port names; without it\n"
           "                         COMn is the n-th of /dev/ttyUSB*, /dev/ttyACM*, /dev/ttyS*\n";
}

void UseStartingConsole() {}
