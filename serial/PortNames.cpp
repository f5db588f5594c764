#include "PortNames.h"

#include <algorithm>
#include <cctype>

#include "Platform.h"

namespace {

// What a PortName puts before a port's name, as Windows device names do.
constexpr char kDevicePrefix[] = "\\\\.\\";
constexpr size_t kDevicePrefixLength = sizeof kDevicePrefix - 1;
constexpr char kCom[] = "COM";
constexpr size_t kComLength = sizeof kCom - 1;

bool StartsWith(const std::string& text, const char* prefix, size_t length) {
    return text.compare(0, length, prefix, length) == 0;
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
    if (boxText.rfind(platform::kDevicePathPrefix, 0) == 0) return boxText;
    return std::nullopt;
}

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
    if (digits.size() > 4 || digits[0] == '0' ||
        !std::all_of(digits.begin(), digits.end(),
                     [](unsigned char c) { return std::isdigit(c) != 0; }))
        return std::nullopt;
    return static_cast<unsigned>(std::stoul(digits));
}
