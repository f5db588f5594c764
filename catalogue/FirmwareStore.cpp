#include "FirmwareStore.h"

#include <algorithm>
#include <cctype>

#include "BaseDirectory.h"
#include "BoundedRead.h"
#include "DeviceConfig.h"
#include "NameOrder.h"
#include "Platform.h"
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
    for (std::string& name : platform::ListFolder(directory)) {
        if (EndsWithBin(name)) names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return NameBefore(a, b); });
    return names;
}

bool HoldsFileIgnoringCase(const std::string& directory, const std::string& name) {
    const auto isFile = [](const std::string& path) {
        return platform::KindOf(path) == platform::FileKind::Regular;
    };
    if (isFile(JoinPath(directory, name))) return true;
    for (const std::string& entry : platform::ListFolder(directory)) {
        if (SameNameIgnoringCase(entry, name) && isFile(JoinPath(directory, entry))) return true;
    }
    return false;
}

std::unordered_set<std::u32string> FoldedFileNames(const std::string& directory) {
    std::unordered_set<std::u32string> names;
    for (const platform::FolderEntry& entry : platform::ListFolderKinds(directory)) {
        if (entry.kind == platform::FileKind::Regular) names.insert(FoldedName(entry.name));
    }
    return names;
}

FirmwareListing LoadFirmwareListing(const std::string& baseDirectory,
                                    const std::string& folderOnDisk) {
    FirmwareListing listing;
    // A path the system cannot name holds nothing.
    if (baseDirectory.size() + folderOnDisk.size() >= platform::kPathMax) return listing;
    const std::string folder = JoinPath(baseDirectory, folderOnDisk);
    const std::string opis = JoinPath(folder, "opis.txt");
    if (platform::KindOf(opis) == platform::FileKind::Regular) {
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
