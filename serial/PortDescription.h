#pragma once

#include <optional>
#include <string>
#include <vector>

// What this machine has behind the port names COM1 to COM20, for the port box's hints and
// the terminal's port listing. Nothing here opens a port: opening a serial line can reset
// the device behind it.

// Identity of a USB serial adapter as the kernel publishes it in sysfs; a field the device
// does not report is empty.
struct UsbIdentity {
    std::string manufacturer;  // "FTDI"
    std::string product;       // "FT232R USB UART"
    std::string vendorId;      // four lower-case hex digits, "0403"
    std::string productId;     // "6001"
    std::string serial;        // "A10K1234"
};

// The language of a reason added below a designed text: the window speaks Polish, the
// command line English.
enum class ReasonLanguage { English, Polish };

struct PortDescription {
    int number = 0;      // n of COMn; 0 for a port named by its path
    std::string path;    // what opening the port opens (a TANDEL_PORTS entry, a /dev node)
    std::string device;  // that path with every symbolic link resolved; empty when absent
    std::optional<UsbIdentity> usb;
    bool present = false;      // the name maps to an existing terminal node
    bool notTerminal = false;  // the name maps to something that is no terminal (a file,
                               // a directory, /dev/null): not a serial port
    bool mayOpen = false;      // this user has read and write permission on the node
    std::string group;         // the node's group ("dialout"), for the permission hint
    bool groupMayOpen = false;  // that group is not root and has read and write on the node
};

// Where the machine's nodes and kernel objects are looked up; tests point both at fake trees.
struct PortEnvironment {
    std::string devDir = "/dev";
    std::string sysfsRoot = "/sys";
};

// Port COMn (1 to 20) as the serial backend maps it: TANDEL_PORTS alone when set, else the
// USB adapters, modem-class devices and built-in ports in that order.
PortDescription DescribePort(int number, const PortEnvironment& env = {});
// COM1 to COM20.
std::vector<PortDescription> DescribePorts(const PortEnvironment& env = {});

// What opening the driver's PortName `portName` ("\\.\COMn" or a path) would open.
PortDescription DescribePortName(const std::string& portName, const PortEnvironment& env = {});
// A built-in port node ("ttyS3") with no UART behind it: the kernel reports its type in
// sysfs as 0 (unknown). Nodes of other names are never phantoms.
bool IsPhantomUart(const std::string& node, const PortEnvironment& env = {});
// The port exists as a place a device can sit on: its node is a character device and not a
// phantom built-in port. Looked up with stat and sysfs only; nothing is opened.
bool PortMayHoldDevice(const PortDescription& port, const PortEnvironment& env = {});

// One line: "COM1 = /dev/ttyUSB0 (FTDI FT232R USB UART, 0403:6001, serial A10K1234)",
// a permission hint appended when the user may not open it, "COM3: no such port" when absent,
// "COM3 = /dev/null: not a serial port" for a node that is no terminal.
std::string PortDescriptionLine(const PortDescription& port,
                                ReasonLanguage language = ReasonLanguage::English);

// The hint for a node the user may not open; it names the node's group and how to join it.
std::string PermissionHint(const std::string& group);

// The hint for `port` when the user may not open it: joining its group when that group is
// not root and may read and write the node; otherwise a udev rule to copy into
// /etc/udev/rules.d/ (matching the adapter's vendor and product id where sysfs has them).
std::string PermissionHint(const PortDescription& port, ReasonLanguage language);

// Why opening the driver's PortName `portName` ("\\.\COMn" or a path) failed, as far as
// the machine tells without opening it: "COM3: no such port", "COM1 = /dev/ttyUSB0: " and
// the permission hint, "...: not a serial port" for a node that is no terminal, or "...: in use
// by another program" for a terminal the user may open.
std::string OpenFailureReason(const std::string& portName, const PortEnvironment& env = {});
