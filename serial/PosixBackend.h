#pragma once

#include <optional>
#include <string>

#include "SerialBackend.h"

// The serial ports of this machine through termios.
SerialBackend& PosixSerialBackend();

// The device path that the port name `name` opens. "\\.\COMn" is the entry COMn of the
// directory named by TANDEL_PORTS when that variable is set and not empty (nothing when the
// entry is missing), otherwise the n-th existing node of ttyUSB*, then ttyACM*, then ttyS* in
// `devDir` (numeric order inside each group). Any other name is a path as it stands.
std::optional<std::string> ResolveSerialPortPath(const std::string& name,
                                                 const std::string& devDir = "/dev");
