#pragma once

#include <string>
#include <unordered_set>
#include <vector>

// What the firmware-version page shows for one device folder.
struct FirmwareListing {
    std::vector<std::string> description;  // lines of opis.txt, UTF-8; empty without the file
    std::vector<std::string> files;        // *.bin entries (directories too), by NameBefore
};

// Reads the store folder <base>/<folder>: opis.txt when it is a regular file of at most
// kDescriptionLimit bytes and kDescriptionLineLimit lines (UTF-8 or CP1250, see
// TextEncoding.h; a larger one counts as missing), then the entries whose names end in ".bin", sorted by name. A missing folder
// gives an empty listing; an opis.txt that exists but cannot be read throws std::runtime_error
// `Cannot open file "<path>". <reason>`.
FirmwareListing LoadFirmwareListing(const std::string& baseDirectory,
                                    const std::string& folderOnDisk);

// Entries of a directory whose names end in ".bin" (any letter case), sorted by NameBefore.
std::vector<std::string> ListBinEntries(const std::string& directory);

// True when `directory` holds a regular file named `name` up to letter case, so a store
// holding "105.BIN" has "105.bin".
bool HoldsFileIgnoringCase(const std::string& directory, const std::string& name);

// The names of the regular files of `directory` (symbolic links followed), each as FoldedName
// gives it, read in one pass; a missing directory gives none. `directory` holds a file named
// `name` up to letter case exactly when the set holds FoldedName(name).
std::unordered_set<std::u32string> FoldedFileNames(const std::string& directory);
