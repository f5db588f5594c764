#include <dirent.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <utility>

#include "PortDescription.h"
#include "PortNames.h"

// What the port names open on a POSIX system: the TANDEL_PORTS directory or the /dev nodes,
// described from stat and sysfs.

namespace fs = std::filesystem;

namespace {

bool AllDigits(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](unsigned char c) { return std::isdigit(c) != 0; });
}

// Entries of `dir` named `prefix` followed by a number, in numeric order.
std::vector<std::string> NumberedNodes(const std::string& dir, const std::string& prefix) {
    std::vector<std::pair<unsigned long, std::string>> found;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) {
                continue;
            }
            const std::string digits = name.substr(prefix.size());
            if (digits.size() > 9 || !AllDigits(digits)) continue;
            found.emplace_back(std::stoul(digits), dir + "/" + name);
        }
        ::closedir(d);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> paths;
    for (auto& f : found) paths.push_back(std::move(f.second));
    return paths;
}

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

std::optional<std::string> ResolveSerialPortPath(const std::string& name,
                                                 const std::string& devDir) {
    const std::optional<unsigned> n = OpenedComNumber(name);
    if (!n) return name;
    const char* ports = std::getenv("TANDEL_PORTS");
    if (ports != nullptr) {  // set, even empty: it alone maps the ports
        const std::string entry = std::string(ports) + "/" + ComLabel(static_cast<int>(*n));
        struct stat st {};
        if (::stat(entry.c_str(), &st) != 0) return std::nullopt;
        return entry;
    }
    std::vector<std::string> nodes;
    for (const char* group : {"ttyUSB", "ttyACM", "ttyS"}) {
        for (std::string& path : NumberedNodes(devDir, group)) nodes.push_back(std::move(path));
    }
    if (*n > nodes.size()) return std::nullopt;
    return nodes[*n - 1];
}
