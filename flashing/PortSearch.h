#pragma once

#include <array>
#include <string>
#include <utility>

#include "BootLink.h"

class TSerialPortDriver;

// Port box text and the driver's PortName for it.
struct PortNameRow {
    const char* boxText;
    const char* portName;
};
extern const std::array<PortNameRow, 10> PortNameTable;

// "\\.\COMn"
std::string ComPortName(int n);

// Writes the PortName of the row whose box text equals `boxText` exactly; with no such row
// PortName keeps its value. The port must be closed (the driver ignores PortName while open).
void SelectFixedPort(TSerialPortDriver& dane, const std::string& boxText);

enum class SearchOutcome : uint8_t {
    Found,     // a server sent 0xAA (consumed); its port is open
    NotFound,  // no port answered; the port is closed
    Stopped,   // STOP came while a port was waited on
};

// Tries COM1 to COM20 at 9600 baud, no parity, one stop bit: resets the device on each port
// that opens and takes the first whose device greets with 0xAA.
SearchOutcome SearchServerPort(BootLink& link);

inline constexpr const char* kLineOpenFailed = "Błąd otwarcia SerialPort...";
inline constexpr const char* kLineNoServer = "Nie wykryto serwera !!!";
