#include "CommandLine.h"

#include <cstdlib>
#include <string_view>

namespace {

constexpr const char* kHelp =
    "Usage: tandel [--help] [--version]\n"
    "\n"
    "TANDEL, the service tool of the Quorvant II devices (PELTA, ORN, VESTRAND): LiveUpdate\n"
    "fills the firmware store from the update server, programming writes a firmware file\n"
    "into a device on a serial port. The window is a wizard; its texts are Polish.\n"
    "\n"
    "It works in the current folder: init.cfg there lists the device types, and the\n"
    "firmware store is one folder per device type below it.\n"
    "\n"
    "Environment:\n"
    "  TANDEL_PORTS           a folder whose entries COM1, COM2, ... (links to devices such\n"
    "                         as /dev/serial/by-id/...) alone map the port names; without it\n"
    "                         COMn is the n-th of /dev/ttyUSB*, /dev/ttyACM*, /dev/ttyS*\n"
    "  TANDEL_LIVEUPDATE_URL  the update server's address instead of the built-in one\n"
    "\n"
    "  --help     this text\n"
    "  --version  the program's version\n";

bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

}  // namespace

bool HasDisplay() {
    return IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY") || IsSet("QT_QPA_PLATFORM");
}

std::optional<EarlyExit> CommandLineExit(int argc, const char* const argv[]) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") return EarlyExit{0, kHelp, {}};
        if (arg == "--version") return EarlyExit{0, "tandel " TANDEL_VERSION "\n", {}};
    }
    if (!HasDisplay()) {
        return EarlyExit{1,
                         {},
                         "tandel: no display to show the window on (DISPLAY and WAYLAND_DISPLAY "
                         "are not set); see tandel --help\n"};
    }
    return std::nullopt;
}
