#pragma once

#include <string>

#include "PortDescription.h"
#include "SerialBackend.h"

// Why an open of a serial port failed, from the errno that the open really returned, in our
// words: English for the command line, Polish for the window. Every errno an open gives has
// its own text (ENOENT, EACCES, EPERM, EBUSY, ENOTTY, EISDIR, ENXIO, ENODEV, EIO, EAGAIN,
// ELOOP, ENAMETOOLONG); any other gets the general form (English: the C library's text,
// Polish: the error's number). A busy port has a second line saying so.
std::string OpenErrorReason(int error, ReasonLanguage language);

// The reason of a failed open as the user reads it below the open-failure message: the port
// and the device path tried with OpenErrorReason ("COM1 = /dev/ttyUSB0: Permission denied"),
// for a permission error followed by the hint (PermissionHint of PortDescription.h; joining
// "dialout" when the node is gone), and "COM3: no such port" for a name that maps to no
// device. `portName` is the driver's PortName ("\\.\COMn" or a path). Empty when the backend
// told no reason.
std::string OpenFailureDetail(const std::string& portName, const OpenFailure& failure,
                              ReasonLanguage language = ReasonLanguage::English);
