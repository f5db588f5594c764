#include "DeviceType.h"

#include <stdexcept>
#include <utility>

#include "Cp1250.h"
#include "DeviceConfig.h"

std::vector<DeviceType> LoadDeviceTypes(const std::string& baseDirectory) {
    std::vector<DeviceType> types;
    for (std::string& line : LoadDeviceTypeLines(baseDirectory)) {
        const std::string bytes = std::move(line);  // a line may be megabytes long
        DeviceType type;
        type.line = Cp1250ToUtf8(bytes);
        type.text = Cp1250ToUtf8(bytes.substr(0, bytes.find(':')));
        type.folder = FolderOnDisk(CutFolder(bytes));
        try {
            type.kind = CutDeviceKind(bytes);
        } catch (const std::runtime_error& failure) {
            type.kindError = failure.what();
        }
        types.push_back(std::move(type));
    }
    return types;
}

const DeviceType* FindDeviceType(const std::vector<DeviceType>& types, const std::string& name) {
    for (const DeviceType& type : types) {
        if (type.text == name || type.line == name) return &type;
    }
    return nullptr;
}
