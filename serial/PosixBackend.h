#pragma once

#include "PortNames.h"
#include "SerialBackend.h"

struct termios;

// The serial ports of this machine through termios. Open takes the device path that
// ResolveSerialPortPath gives for the port name.
SerialBackend& PosixSerialBackend();

// Makes `t` raw and sets the framing, flow control and flow characters of `settings` (not the
// rate). False for a byte size, parity or stop-bit value the line cannot have.
bool MakeRawTermios(const LineSettings& settings, termios& t);
