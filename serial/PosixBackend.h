#pragma once

#include <optional>
#include <string>

#include "SerialBackend.h"

struct termios;

// The serial ports of this machine through termios.
SerialBackend& PosixSerialBackend();

// Makes `t` raw and sets the framing, flow control and flow characters of `settings` (not the
// rate). False for a byte size, parity or stop-bit value the line cannot have.
bool MakeRawTermios(const LineSettings& settings, termios& t);

// The device path that the port name `name` opens. "\\.\COMn" is the entry COMn of the
// directory named by TANDEL_PORTS when that variable is set and not empty (nothing when the
// entry is missing), otherwise the n-th existing node of ttyUSB*, then ttyACM*, then ttyS* in
// `devDir` (numeric order inside each group). Any other name is a path as it stands.
std::optional<std::string> ResolveSerialPortPath(const std::string& name,
                                                 const std::string& devDir = "/dev");
