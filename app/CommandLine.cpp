#include "CommandLine.h"

#include <string>
#include <string_view>

namespace {

constexpr const char* kHelpTop =
    "Usage: tandel [--home] [--help] [--version]\n"
    "\n"
    "TANDEL, the service tool of the Quorvant II devices (PELTA, ORN, VESTRAND): LiveUpdate\n"
    "fills the firmware store from the update server, programming writes a firmware file\n"
    "into a device on a serial port. The window is a wizard; its texts are Polish.\n"
    "\n"
    "It works in the current folder: init.cfg there lists the device types, and the\n"
    "firmware store is one folder per device type below it.\n"
    "\n"
    "Environment:\n";
constexpr const char* kHelpBottom =
    "  TANDEL_LIVEUPDATE_URL  the update server's address instead of the built-in one\n"
    "\n"
    "  --home     start in the working folder the menu entry uses: TANDEL_HOME when set,\n"
    "             else the folder TANDEL in the user's home folder; one without init.cfg\n"
    "             gets the example init.cfg first\n"
    "  --help     this text\n"
    "  --version  the program's version\n";

}  // namespace

std::optional<EarlyExit> CommandLineExit(int argc, const char* const argv[]) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            return EarlyExit{0, std::string(kHelpTop) + EnvironmentHelp() + kHelpBottom, {}};
        }
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
