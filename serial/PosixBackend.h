#pragma once

#include "SerialBackend.h"

// The serial ports of this machine through termios. "\\.\COMn" names are resolved through
// the TANDEL_PORTS directory when that variable is set, otherwise to the n-th existing node of
// /dev/ttyUSB*, /dev/ttyACM*, /dev/ttyS*; any other name is a device path.
SerialBackend& PosixSerialBackend();
