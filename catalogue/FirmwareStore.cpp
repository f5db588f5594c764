#include "FirmwareStore.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cctype>
#include <memory>

#include "BaseDirectory.h"
#include "BoundedRead.h"
#include "DeviceConfig.h"
#include "NameOrder.h"
#include "TextEncoding.h"

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
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return NameBefore(a, b); });
    return names;
}

bool HoldsFileIgnoringCase(const std::string& directory, const std::string& name) {
    const auto isFile = [](const std::string& path) {
        struct stat st {};
        return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    };
    if (isFile(JoinPath(directory, name))) return true;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(directory.c_str()), closedir);
    if (!dir) return false;
    while (const dirent* entry = readdir(dir.get())) {
        if (SameNameIgnoringCase(entry->d_name, name) && isFile(JoinPath(directory, entry->d_name)))
            return true;
    }
    return false;
}

std::unordered_set<std::u32string> FoldedFileNames(const std::string& directory) {
    std::unordered_set<std::u32string> names;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(directory.c_str()), closedir);
    if (!dir) return names;
    while (const dirent* entry = readdir(dir.get())) {
        bool file = entry->d_type == DT_REG;
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            struct stat st {};
            file =
                stat(JoinPath(directory, entry->d_name).c_str(), &st) == 0 && S_ISREG(st.st_mode);
        }
        if (file) names.insert(FoldedName(entry->d_name));
    }
    return names;
}

FirmwareListing LoadFirmwareListing(const std::string& baseDirectory,
                                    const std::string& folderOnDisk) {
    FirmwareListing listing;
    // A path the system cannot name holds nothing.
    if (baseDirectory.size() + folderOnDisk.size() >= PATH_MAX) return listing;
    const std::string folder = JoinPath(baseDirectory, folderOnDisk);
    const std::string opis = JoinPath(folder, "opis.txt");
    struct stat st {};
    if (stat(opis.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        try {
            listing.description = SplitTextLines(
                TextFileAsUtf8(ReadBoundedFile(opis, kDescriptionLimit)), kDescriptionLineLimit);
        } catch (const FileReadError& failure) {
            // Past the bound, or no longer a regular file: as if there were none.
            if (failure.Why() == FileReadError::Cause::System) throw;
        }
        if (listing.description.size() > kDescriptionLineLimit) listing.description.clear();
    }
    listing.files = ListBinEntries(folder);
    return listing;
}
