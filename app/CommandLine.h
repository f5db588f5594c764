#pragma once

#include <optional>
#include <string>

#include "DesktopShell.h"  // HasDisplay

// What `tandel` does before it opens a window: --version and --help print and end the program
// with 0, even without a display; without a display it says so in one line and ends with 1.
// nullopt: start the window (the arguments go on to Qt; --home chooses the working folder).
struct EarlyExit {
    int code;
    std::string out;  // for standard output
    std::string err;  // for standard error
};
std::optional<EarlyExit> CommandLineExit(int argc, const char* const argv[]);
