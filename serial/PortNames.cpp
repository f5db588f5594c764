#include "PortNames.h"

#include "Platform.h"

namespace {

// What a PortName puts before a port's name, as Windows device names do.
constexpr char kDevicePrefix[] = "\\\\.\\";
constexpr size_t kDevicePrefixLength = sizeof kDevicePrefix - 1;
constexpr char kCom[] = "COM";

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

std::optional<std::string> PortNameForBox(const std::string& boxText) {
    if (const int n = ComLabelNumber(boxText); n != 0) return ComPortName(n);
    if (boxText.rfind(platform::kDevicePathPrefix, 0) == 0) return boxText;
    return std::nullopt;
}
