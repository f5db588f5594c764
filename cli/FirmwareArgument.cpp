#include "FirmwareArgument.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "BaseDirectory.h"
#include "ErrorText.h"
#include "FirmwareImage.h"
#include "FirmwareStore.h"

namespace fs = std::filesystem;

namespace {

bool IsPath(const std::string& firmware) {
    return firmware.find('/') != std::string::npos;
}

}  // namespace

FirmwareLocation LocateFirmware(const std::string& folder, const std::string& firmware) {
    if (!IsPath(firmware)) return {BaseDirectory(), folder, firmware};
    const fs::path path = fs::absolute(fs::path(firmware)).lexically_normal();
    return {path.parent_path().string(), ".", path.filename().string()};
}

std::string CheckFirmware(const std::string& folder, const std::string& firmware) {
    const FirmwareLocation at = LocateFirmware(folder, firmware);
    std::string shown = FirmwarePath(at.base, at.folder, at.entry);
    if (IsPath(firmware)) shown = firmware;
    try {
        if (!IsPath(firmware)) {
            const auto files = LoadFirmwareListing(at.base, at.folder).files;
            if (std::find(files.begin(), files.end(), at.entry) == files.end()) {
                throw std::runtime_error("File not found");
            }
        } else if (at.entry.empty()) {
            throw std::runtime_error("File not found");
        }
        (void)LoadFirmwareImage(at.base, at.folder, at.entry);
    } catch (const std::runtime_error& failure) {
        return WithFullStop(QString::fromStdString(failure.what())).toStdString() + " (" + shown +
               ")";
    }
    return {};
}
