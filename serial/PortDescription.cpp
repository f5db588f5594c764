#include "PortDescription.h"

#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <system_error>

#include "PortNames.h"

namespace fs = std::filesystem;

namespace {

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

// Whether the node is a terminal, told without opening it: a pseudo-terminal slave
// (majors 136 to 143), or a device the kernel lists among its terminals with this device
// number. A tree without device numbers (a test's) is believed by name.
bool IsTerminalNode(const fs::path& device, const struct stat& st, const PortEnvironment& env) {
    if (S_ISDIR(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) return false;
    if (S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143) return true;
    std::error_code ec;
    const fs::path entry = fs::path(env.sysfsRoot) / "class" / "tty" / device.filename();
    if (!fs::exists(entry, ec)) return false;
    const std::string number = Attribute(entry, "dev");
    if (number.empty()) return true;
    return S_ISCHR(st.st_mode) &&
           number == std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
}

PortDescription Describe(const std::string& portName, int number, const PortEnvironment& env) {
    PortDescription port;
    port.number = number;
    const std::optional<std::string> path = ResolveSerialPortPath(portName, env.devDir);
    if (!path) return port;
    port.path = *path;
    std::error_code ec;
    const fs::path device = fs::canonical(*path, ec);
    struct stat st {};
    if (ec || ::stat(device.c_str(), &st) != 0) return port;
    port.device = device.string();
    port.mayOpen = ::access(device.c_str(), R_OK | W_OK) == 0;
    port.group = GroupName(st.st_gid);
    port.groupMayOpen = st.st_gid != 0 && (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    if (!IsTerminalNode(device, st, env)) {
        port.notTerminal = true;
        return port;
    }
    port.present = true;
    port.usb = UsbIdentityOf(device.filename().string(), env.sysfsRoot);
    return port;
}

std::string Label(const PortDescription& port) {
    return port.number > 0 ? ComLabel(port.number) : port.path;
}

// A udev rule that gives the group dialout read and write on the port's node: by the
// adapter's ids where sysfs has them, else by the kernel's name of the node.
std::string UdevRule(const PortDescription& port) {
    std::string match;
    if (port.usb && !port.usb->vendorId.empty() && !port.usb->productId.empty()) {
        match = "SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"" + port.usb->vendorId +
                "\", ATTRS{idProduct}==\"" + port.usb->productId + "\"";
    } else {
        match = "KERNEL==\"" + fs::path(port.device).filename().string() + "\"";
    }
    return match + ", GROUP=\"dialout\", MODE=\"0660\"";
}

std::string NotSerialText(ReasonLanguage language) {
    return language == ReasonLanguage::Polish ? "to nie jest port szeregowy" : "not a serial port";
}

std::string NoSuchPortText(ReasonLanguage language) {
    return language == ReasonLanguage::Polish ? "brak takiego portu" : "no such port";
}

}  // namespace

PortDescription DescribePort(int number, const PortEnvironment& env) {
    return Describe(ComPortName(number), number, env);
}

PortDescription DescribePortName(const std::string& portName, const PortEnvironment& env) {
    return Describe(portName, ComPortNumber(portName), env);
}

std::vector<PortDescription> DescribePorts(const PortEnvironment& env) {
    std::vector<PortDescription> ports;
    for (int n = 1; n <= kComPortCount; ++n) ports.push_back(DescribePort(n, env));
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

std::string PermissionHint(const PortDescription& port, ReasonLanguage language) {
    const bool polish = language == ReasonLanguage::Polish;
    if (port.groupMayOpen) {
        if (!polish) return PermissionHint(port.group);
        return "brak uprawnień: dołącz do grupy " + port.group + " (sudo usermod -aG " +
               port.group + " $USER) i zaloguj się ponownie";
    }
    const std::string rule = UdevRule(port);
    const std::string reload = "sudo udevadm control --reload && sudo udevadm trigger";
    const std::string join = "sudo usermod -aG dialout $USER";
    if (polish) {
        return "brak uprawnień: skopiuj wiersz\n" + rule +
               "\ndo pliku w /etc/udev/rules.d/ (np. 99-tandel.rules), wykonaj " + reload +
               ", dołącz do grupy dialout (" + join + ") i zaloguj się ponownie";
    }
    return "no permission: copy the line\n" + rule +
           "\ninto a file in /etc/udev/rules.d/ (for example 99-tandel.rules), run " + reload +
           ", join the group dialout (" + join + ") and log in again";
}

std::string PortDescriptionLine(const PortDescription& port, ReasonLanguage language) {
    if (port.notTerminal) return Label(port) + " = " + port.device + ": " + NotSerialText(language);
    if (!port.present) return Label(port) + ": " + NoSuchPortText(language);
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
        if (!usb.serial.empty()) {
            add((language == ReasonLanguage::Polish ? "numer seryjny " : "serial ") + usb.serial);
        }
        line += " (" + details + ")";
    }
    if (!port.mayOpen) line += "; " + PermissionHint(port, language);
    return line;
}

std::string OpenFailureReason(const std::string& portName, const PortEnvironment& env) {
    const PortDescription port = DescribePortName(portName, env);
    if (!port.present) return PortDescriptionLine(port);
    const std::string head = Label(port) + " = " + port.device + ": ";
    return head + (port.mayOpen ? "in use by another program"
                                : PermissionHint(port, ReasonLanguage::English));
}
