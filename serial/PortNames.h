#pragma once

#include <optional>
#include <string>

// The names of the serial ports. The driver names port n "\\.\COMn" in its PortName (the
// form of a Windows device name); the port box, the search's lists and the messages call it
// "COMn"; the POSIX backend finds the device node behind "\\.\COMn" when it
// opens the port. Nothing here opens a port.

// The ports the search tries and the port box may name: COM1 to COM20.
inline constexpr int kComPortCount = 20;
// The port box's own rows: COM1 to COM10.
inline constexpr int kPortBoxRows = 10;

// "\\.\COMn": the driver's PortName of port n.
std::string ComPortName(int n);
// "COMn": port n as the port box, a search's list of ports and the messages write it, and the
// name of its entry in the TANDEL_PORTS directory.
std::string ComLabel(int n);

// n of a text that is exactly ComLabel(n) for a port n of COM1 to COM20; 0 for any other text
// ("com3", "COM03", "COM21", "COM1 ").
int ComLabelNumber(const std::string& text);
// n of a PortName that is exactly ComPortName(n) for a port n of COM1 to COM20; 0 for any
// other name. Such a name is described as "COMn"; any other by the path it opens.
int ComPortNumber(const std::string& portName);
// A PortName as the user reads it: "COM1" for "\\.\COM1", the name without its "\\.\" for
// any other name of that form, and any other name as it stands.
std::string ShownPortName(const std::string& portName);

// n of a port text that names COMn of COM1 to COM20: "COM" in any letter case ("com3" as the
// box's completion reads it) and the number without a leading zero; 0 for any other text
// ("COM03", "COM21", "COM1 "). tandel-cli's --port reads COMn so; the window's port box keeps
// its exact comparison (PortNameForBox).
int PortTextNumber(const std::string& text);

// A port text as the messages write it: ComLabel(n) for a text naming COMn ("com3" is "COM3"),
// any other text as it stands.
std::string ShownPortText(const std::string& text);

// The PortName that a port box text names: COM1 to COM20 written exactly as ComLabel writes
// them (the box's ten rows COM1 to COM10, then COM11 to COM20 as the search names them), then
// a device path beginning with "/dev/" ("\\.\" on Windows) as it stands. Nothing for any other
// text: the box compares case-sensitively, so a typed "com3" names no port.
std::optional<std::string> PortNameForBox(const std::string& boxText);

// The device path that the port name `name` opens. "\\.\COMn" (COM in any case, n of up to
// four digits without a leading zero) is the entry COMn of the directory named by TANDEL_PORTS
// when that variable is set, even empty (nothing when the entry is missing), otherwise the
// n-th existing node of ttyUSB*, then ttyACM*, then ttyS* in `devDir` (numeric order inside
// each group; nothing when there are fewer). Any other name is a path as it stands.
std::optional<std::string> ResolveSerialPortPath(const std::string& name,
                                                 const std::string& devDir = "/dev");

// The port number that a backend opens for "\\.\COMn", read as leniently as Windows reads
// its device names ("\\.\com4", "\\.\COM21"), so that a name typed that way opens the same
// port; nothing for any other name. (ComPortNumber is the exact reading the texts use.)
std::optional<unsigned> OpenedComNumber(const std::string& name);
