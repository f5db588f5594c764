#include "PortNames.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <utility>
#include <vector>

namespace {

// What a PortName puts before a port's name, as Windows device names do.
constexpr char kDevicePrefix[] = "\\\\.\\";
constexpr size_t kDevicePrefixLength = sizeof kDevicePrefix - 1;
constexpr char kCom[] = "COM";
constexpr size_t kComLength = sizeof kCom - 1;

bool StartsWith(const std::string& text, const char* prefix, size_t length) {
    return text.compare(0, length, prefix, length) == 0;
}

bool AllDigits(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](unsigned char c) { return std::isdigit(c) != 0; });
}

// The port number that the backend opens for "\\.\COMn", read as leniently as Windows reads
// its device names ("\\.\com4"), so that a name typed that way opens the same port; any
// other name gives nothing.
std::optional<unsigned> OpenedComNumber(const std::string& name) {
    if (name.size() <= kDevicePrefixLength + kComLength ||
        !StartsWith(name, kDevicePrefix, kDevicePrefixLength)) {
        return std::nullopt;
    }
    std::string com = name.substr(kDevicePrefixLength, kComLength);
    std::transform(com.begin(), com.end(), com.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (com != kCom) return std::nullopt;
    const std::string digits = name.substr(kDevicePrefixLength + kComLength);
    if (digits.size() > 4 || digits[0] == '0' || !AllDigits(digits)) return std::nullopt;
    return static_cast<unsigned>(std::stoul(digits));
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

}  // namespace

std::string ComPortName(int n) {
    return kDevicePrefix + ComLabel(n);
}

std::string ComLabel(int n) {
    return kCom + std::to_string(n);
}

int ComLabelNumber(const std::string& text) {
    for (int n = 1; n <= kComPortCount; ++n) {
        if (text == ComLabel(n)) return n;
    }
    return 0;
}

int ComPortNumber(const std::string& portName) {
    if (!StartsWith(portName, kDevicePrefix, kDevicePrefixLength)) return 0;
    return ComLabelNumber(portName.substr(kDevicePrefixLength));
}

std::string ShownPortName(const std::string& portName) {
    return StartsWith(portName, kDevicePrefix, kDevicePrefixLength)
               ? portName.substr(kDevicePrefixLength)
               : portName;
}

int PortTextNumber(const std::string& text) {
    std::string upper = text.substr(0, kComLength);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return ComLabelNumber(upper + text.substr(upper.size()));
}

std::string ShownPortText(const std::string& text) {
    const int n = PortTextNumber(text);
    return n != 0 ? ComLabel(n) : text;
}

std::optional<std::string> PortNameForBox(const std::string& boxText) {
    if (const int n = ComLabelNumber(boxText); n != 0) return ComPortName(n);
    if (boxText.rfind("/dev/", 0) == 0) return boxText;
    return std::nullopt;
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
