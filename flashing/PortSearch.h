#pragma once

#include <string>

#include "BootLink.h"

class TSerialPortDriver;

// Writes PortNameForBox(boxText) (PortNames.h) to PortName; false (PortName unchanged) when
// the text names no port. The port must be closed (the driver ignores PortName while open).
bool SelectFixedPort(TSerialPortDriver& dane, const std::string& boxText);

enum class SearchOutcome : uint8_t {
    Found,     // a server sent 0xAA (consumed); its port is open
    NotFound,  // no port answered; the port is closed
    Stopped,   // STOP came while a port was waited on
};

// Tries COM1 to COM20 at 9600 baud, no parity, one stop bit: resets the device on each port
// that opens and takes the first whose device greets with 0xAA. When none does, the line
// kLineNoServer, then kLineNoPermission with the ports refused for want of permission if any. A STOP seen at any of its
// message passes ends it before any further port is opened or pulsed; a port whose line is
// lost while it is waited on is given up.
SearchOutcome SearchServerPort(BootLink& link);

inline constexpr const char* kLineOpenFailed = "Błąd otwarcia SerialPort...";
inline constexpr const char* kLineNoServer = "Nie wykryto serwera !!!";
// Followed by the ports: "Brak uprawnień do portów: COM1, COM3".
inline constexpr const char* kLineNoPermission = "Brak uprawnień do portów: ";
