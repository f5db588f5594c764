// tandel-devicesim: simulated Quorvant II devices on pseudo-terminals.
//
//   tandel-devicesim [--rate N|line] [--flash-dir DIR] [--chatter N] [--replug MS]
//                    [--fault WHO:STEP=CODE|silent|drop|drop@K]... PORTDIR
//
// Creates PORTDIR/COM1 (a server with a card behind it) and PORTDIR/COM2 (a card reader with a
// card), links to pseudo-terminals that TANDEL opens as serial ports with TANDEL_PORTS=PORTDIR.
// Prints which port is which device, then "ready", and runs until SIGTERM or SIGINT.
//   --rate N     pace the bytes as on a line of N bit/s (default 9600; 0: no pacing)
//   --rate line  pace at the rate the program set on the port
//   --flash-dir  write each device's flash there when the program closes its port
//   --chatter N  the server's own program says N bytes on its line before each reset
//   --replug MS  a device whose line dropped is plugged in again MS later (default 500)
//   --fault      a boot-loader step answered with another reply code, silence from a step,
//                or the line dropped at a step (each fault happens once: a re-plugged device
//                works)

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>

#include "PtyDeviceSet.h"
#include "PtyLoop.h"

namespace {

int stopPipe[2] = {-1, -1};

void OnStopSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(stopPipe[1], &byte, 1);
}

void Usage() {
    std::cerr << "usage: tandel-devicesim [--rate N|line] [--flash-dir DIR] [--chatter N]\n"
                 "                        [--replug MS] [--fault WHO:STEP=WHAT]... PORTDIR\n"
                 "  --rate: bit/s of the simulated lines (default 9600; 0: no pacing; line: the\n"
                 "          rate the program sets)\n"
                 "  --flash-dir: where each device's flash is written when its port closes (once\n"
                 "               the program erased or wrote it)\n"
                 "  WHO: server, card (behind the server), reader (the card in the reader)\n"
                 "  STEP: init, bitlock-on, bitlock-off, erase, write, write@N, firmware-number,"
                 " reset,\n"
                 "        greeting (server, reader), probe (server)\n"
                 "  WHAT: a reply code in two hex digits (e.g. 94), silent, drop (the line drops\n"
                 "        when the frame is in) or drop@K (after K bytes of the frame)\n"
                 "  --chatter: bytes the server says before each reset\n"
                 "  --replug: ms after which a dropped device is back (default 500)\n";
}

// A decimal number up to `max`.
bool ParseCount(const std::string& text, unsigned long max, unsigned long& value) {
    char* end = nullptr;
    value = std::strtoul(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0' && value <= max;
}

bool ParseRate(const std::string& text, Pacing& pacing) {
    if (text == "line") {
        pacing.followLine = true;
        return true;
    }
    unsigned long rate = 0;
    if (!ParseCount(text, 4'000'000, rate)) return false;
    pacing.rate = static_cast<uint32_t>(rate);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    PtyDeviceSet::Options options;
    std::string portDir;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            Usage();
            return 0;
        }
        if (arg == "--rate" && hasValue) {
            if (!ParseRate(argv[++i], options.pacing)) {
                std::cerr << "tandel-devicesim: bad rate " << argv[i] << "\n";
                return 2;
            }
        } else if ((arg == "--chatter" || arg == "--replug") && hasValue) {
            unsigned long value = 0;
            if (!ParseCount(argv[++i], 1'000'000, value)) {
                std::cerr << "tandel-devicesim: bad " << arg << " " << argv[i] << "\n";
                return 2;
            }
            if (arg == "--chatter")
                options.serverChatter = value;
            else
                options.replugAfterMs = static_cast<uint32_t>(value);
        } else if (arg == "--flash-dir" && hasValue) {
            options.flashDir = argv[++i];
        } else if (arg == "--fault" && hasValue) {
            const std::optional<DeviceFault> fault = ParseDeviceFault(argv[++i]);
            if (!fault) {
                std::cerr << "tandel-devicesim: bad fault " << argv[i] << "\n";
                Usage();
                return 2;
            }
            options.faults.push_back(*fault);
        } else if (!arg.empty() && arg[0] != '-' && portDir.empty()) {
            portDir = arg;
        } else {
            Usage();
            return 2;
        }
    }
    if (portDir.empty()) {
        Usage();
        return 2;
    }

    if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("tandel-devicesim: pipe");
        return 1;
    }
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    ::sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);

    try {
        PtyDeviceSet devices(options);
        devices.Create(portDir);
        devices.Describe(std::cout);
        if (options.pacing.followLine)
            std::cout << "pacing: at the rate the program sets\n";
        else if (options.pacing.rate == 0)
            std::cout << "pacing: none\n";
        else
            std::cout << "pacing: " << options.pacing.rate << " bit/s\n";
        std::cout << "ready" << std::endl;
        RunPtyLines(devices.Lines(), stopPipe[0]);
        devices.SaveFlash();
    } catch (const std::exception& e) {
        std::cerr << "tandel-devicesim: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
