#pragma once

#include <string>
#include <string_view>

// Text that came from outside (files, the update server, devices) on its way to a terminal,
// UTF-8. A control character there could move the cursor, retitle the window or hide a line.

// Every control character (C0 but tab, DEL, C1) shown as \xNN, NN its code in hexadecimal.
std::string ShownOnTerminal(std::string_view utf8);

// The same text without its control characters (tab kept), for the log file.
std::string WithoutControls(std::string_view utf8);

// `utf8` as a JSON string, quotes included: '"', '\\' and every control character (C0, DEL,
// C1) escaped, so that also a JSON line is safe on a terminal.
std::string JsonString(std::string_view utf8);
