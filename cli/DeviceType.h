#pragma once

#include <optional>
#include <string>
#include <vector>

// A device-type line of init.cfg as the terminal names it.
struct DeviceType {
    std::string line;    // the whole line as the window's list shows it (UTF-8)
    std::string text;    // the line up to its first colon (UTF-8)
    std::string folder;  // FirmwareFolder as its name on disk
    std::optional<int> kind;
    std::string kindError;  // why the line gives no DeviceKind
};

// init.cfg of the base directory; throws std::runtime_error when it cannot be read.
std::vector<DeviceType> LoadDeviceTypes(const std::string& baseDirectory);

// The first type whose text or whole line is `name`.
const DeviceType* FindDeviceType(const std::vector<DeviceType>& types, const std::string& name);
