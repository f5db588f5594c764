#pragma once

#include <string>
#include <vector>

// What the firmware-version page shows for one device folder.
struct FirmwareListing {
    std::vector<std::string> description;  // lines of opis.txt, UTF-8; empty without the file
    std::vector<std::string> files;        // *.bin entries (directories too), directory order
};

// Reads the store folder <base>/<folder>: opis.txt when it is a file, then the entries whose
// names end in ".bin", in the order the file system returns them. A missing folder gives
// an empty listing; an opis.txt that exists but cannot be read throws std::runtime_error
// `Cannot open file "<path>". <reason>`.
FirmwareListing LoadFirmwareListing(const std::string& baseDirectory,
                                    const std::string& folderOnDisk);

// Entries of a directory whose names end in ".bin" (any letter case), directory order.
std::vector<std::string> ListBinEntries(const std::string& directory);
