#include "FirmwareStore.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cctype>
#include <memory>

#include "BaseDirectory.h"
#include "Cp1250.h"
#include "DeviceConfig.h"

namespace {

bool EndsWithBin(const std::string& name) {
    static const std::string kExt = ".bin";
    if (name.size() < kExt.size()) return false;
    for (size_t i = 0; i < kExt.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[name.size() - kExt.size() + i]);
        if (std::tolower(c) != kExt[i]) return false;
    }
    return true;
}

}  // namespace

std::vector<std::string> ListBinEntries(const std::string& directory) {
    std::vector<std::string> names;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(directory.c_str()), closedir);
    if (!dir) return names;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (EndsWithBin(name)) names.push_back(name);
    }
    return names;
}

FirmwareListing LoadFirmwareListing(const std::string& baseDirectory,
                                    const std::string& folderOnDisk) {
    FirmwareListing listing;
    const std::string folder = JoinPath(baseDirectory, folderOnDisk);
    const std::string opis = JoinPath(folder, "opis.txt");
    struct stat st {};
    if (stat(opis.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        for (const auto& line : SplitTextLines(ReadWholeFile(opis))) {
            listing.description.push_back(Cp1250ToUtf8(line));
        }
    }
    listing.files = ListBinEntries(folder);
    return listing;
}
