#include "PortDescription.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <system_error>

#include "PosixBackend.h"

namespace fs = std::filesystem;

namespace {

constexpr int kLastPort = 20;

// First line of a small sysfs attribute file; empty when it cannot be read.
std::string Attribute(const fs::path& dir, const char* name) {
    std::ifstream in(dir / name);
    std::string value;
    if (!in || !std::getline(in, value)) return {};
    while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) value.pop_back();
    return value;
}

// The USB device a tty node belongs to: from the node's kernel object upwards, the first
// directory that carries a vendor id. A node that is no USB adapter has none.
std::optional<UsbIdentity> UsbIdentityOf(const std::string& deviceName, const fs::path& sysfs) {
    std::error_code ec;
    const fs::path root = fs::weakly_canonical(sysfs, ec);
    fs::path dir = fs::canonical(sysfs / "class" / "tty" / deviceName / "device", ec);
    if (ec) return std::nullopt;
    for (; !dir.empty() && dir != root && dir != dir.root_path(); dir = dir.parent_path()) {
        if (!fs::exists(dir / "idVendor", ec)) continue;
        UsbIdentity usb;
        usb.manufacturer = Attribute(dir, "manufacturer");
        usb.product = Attribute(dir, "product");
        usb.vendorId = Attribute(dir, "idVendor");
        usb.productId = Attribute(dir, "idProduct");
        usb.serial = Attribute(dir, "serial");
        return usb;
    }
    return std::nullopt;
}

std::string GroupName(gid_t gid) {
    group entry{};
    group* found = nullptr;
    char buffer[4096];
    if (::getgrgid_r(gid, &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr) {
        return std::to_string(gid);
    }
    return found->gr_name;
}

std::string ComName(int number) {
    return "\\\\.\\COM" + std::to_string(number);
}

// The port that opening the driver's PortName `portName` would open.
PortDescription DescribePortName(const std::string& portName, int number,
                                 const PortEnvironment& env) {
    PortDescription port;
    port.number = number;
    const std::optional<std::string> path = ResolveSerialPortPath(portName, env.devDir);
    if (!path) return port;
    port.path = *path;
    std::error_code ec;
    const fs::path device = fs::canonical(*path, ec);
    struct stat st {};
    if (ec || ::stat(device.c_str(), &st) != 0) return port;
    port.present = true;
    port.device = device.string();
    port.usb = UsbIdentityOf(device.filename().string(), env.sysfsRoot);
    port.mayOpen = ::access(device.c_str(), R_OK | W_OK) == 0;
    port.group = GroupName(st.st_gid);
    return port;
}

std::string Label(const PortDescription& port) {
    return port.number > 0 ? "COM" + std::to_string(port.number) : port.path;
}

}  // namespace

PortDescription DescribePort(int number, const PortEnvironment& env) {
    return DescribePortName(ComName(number), number, env);
}

std::vector<PortDescription> DescribePorts(const PortEnvironment& env) {
    std::vector<PortDescription> ports;
    for (int n = 1; n <= kLastPort; ++n) ports.push_back(DescribePort(n, env));
    return ports;
}

bool IsPhantomUart(const std::string& node, const PortEnvironment& env) {
    if (node.rfind("ttyS", 0) != 0) return false;
    std::ifstream type(env.sysfsRoot + "/class/tty/" + node + "/type");
    int value = -1;
    return static_cast<bool>(type >> value) && value == 0;
}

bool PortMayHoldDevice(const PortDescription& port, const PortEnvironment& env) {
    struct stat st {};
    if (!port.present || ::stat(port.device.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) {
        return false;
    }
    return !IsPhantomUart(fs::path(port.device).filename().string(), env);
}

std::string PermissionHint(const std::string& group) {
    return "no permission: join the group " + group + " (sudo usermod -aG " + group +
           " $USER) and log in again";
}

std::string PortDescriptionLine(const PortDescription& port) {
    if (!port.present) return Label(port) + ": no such port";
    std::string line = Label(port) + " = " + port.device;
    if (port.usb) {
        const UsbIdentity& usb = *port.usb;
        std::string names = usb.manufacturer;
        if (!usb.product.empty()) names += (names.empty() ? "" : " ") + usb.product;
        std::string details;
        auto add = [&details](const std::string& piece) {
            if (piece.empty()) return;
            if (!details.empty()) details += ", ";
            details += piece;
        };
        add(names);
        add(usb.vendorId + ":" + usb.productId);
        if (!usb.serial.empty()) add("serial " + usb.serial);
        line += " (" + details + ")";
    }
    if (!port.mayOpen) line += "; " + PermissionHint(port.group);
    return line;
}

std::string OpenFailureReason(const std::string& portName, const PortEnvironment& env) {
    int number = 0;
    for (int n = 1; n <= kLastPort && number == 0; ++n) {
        if (portName == ComName(n)) number = n;
    }
    const PortDescription port = DescribePortName(portName, number, env);
    if (!port.present) return Label(port) + ": no such port";
    const std::string head = Label(port) + " = " + port.device + ": ";
    return head + (port.mayOpen ? "in use by another program" : PermissionHint(port.group));
}
