#pragma once

#include <string>

#include "SerialBackend.h"

// The reason of a failed open as the user reads it below the open-failure message: the port
// and the device path tried with the system's words ("COM1 = /dev/ttyUSB0: Permission
// denied"), for a permission error followed by the hint to join the node's group and log in again,
// and "COM3: no such port" for a name that maps to no device. `portName` is the driver's PortName
// ("\\.\COMn" or a path). Empty when the backend told no reason.
std::string OpenFailureDetail(const std::string& portName, const OpenFailure& failure);
