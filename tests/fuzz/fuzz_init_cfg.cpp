// init.cfg as it comes from an editor: the lines, the folder and kind cut from each, and the
// folder creation at start-up in a base directory of its own. Nothing may be made outside
// the base directory, and a kind that is no digit fails with the designed text only.
#include <fstream>
#include <set>
#include <stdexcept>
#include <string>

#include "Cp1250.h"
#include "DeviceConfig.h"
#include "FuzzInput.h"
#include "Scratch.h"

namespace {

void CheckKind(const std::string& line) {
    try {
        const uint8_t kind = CutDeviceKind(line);
        FUZZ_CHECK(kind <= 9, line);
        FUZZ_CHECK(!line.empty() && line.back() == static_cast<char>('0' + kind), line);
    } catch (const std::runtime_error& error) {
        const std::string shown = line.empty() ? "" : Cp1250ToUtf8(line.substr(line.size() - 1));
        FUZZ_CHECK(error.what() == "'" + shown + "' is not a valid integer value", error.what());
    }
}

void CheckFolder(const std::string& line) {
    const std::string folder = CutFolder(line);
    // The folder is a run of the line that leaves at least its last two characters.
    FUZZ_CHECK(folder.empty() || folder.size() + 2 <= line.size(), line);
    FUZZ_CHECK(folder.empty() || line.find(folder) != std::string::npos, line);
    const auto colon = line.find(':');
    if (!folder.empty() && colon != std::string::npos)
        FUZZ_CHECK(line.compare(colon + 1, folder.size(), folder) == 0, line);
}

// The entry of the base directory that a folder path names first ("a" of "./a/b").
std::string FirstPiece(const std::string& folder) {
    size_t start = 0;
    while (start <= folder.size()) {
        size_t end = folder.find('/', start);
        if (end == std::string::npos) end = folder.size();
        const std::string piece = folder.substr(start, end - start);
        if (!piece.empty() && piece != ".") return piece;
        start = end + 1;
    }
    return {};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::filesystem::path outer = FreshFolder("outer");
    const std::filesystem::path base = outer / "base";
    std::filesystem::create_directory(base);
    {
        std::ofstream out(base / "init.cfg", std::ios::binary);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }

    const std::vector<std::string> lines = LoadDeviceTypeLines(base.string());
    size_t bytes = 0;
    for (const std::string& line : lines) {
        FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos, line);
        FUZZ_CHECK(line.find('\0') == std::string::npos, line);
        bytes += line.size();
        CheckKind(line);
        CheckFolder(line);
    }
    FUZZ_CHECK(bytes <= size, "lines hold more than the file");

    CreateDeviceFolders(base.string(), lines);

    // Only the base directory is below the outer folder, and every new entry of the base
    // directory is the first piece of some line's folder.
    for (const auto& entry : std::filesystem::directory_iterator(outer))
        FUZZ_CHECK(entry.path() == base,
                   "made outside the base directory: " + entry.path().string());
    std::set<std::string> firstPieces{"init.cfg"};
    for (const std::string& line : lines) {
        firstPieces.insert(FirstPiece(FolderOnDisk(CutFolder(line))));
    }
    for (const auto& entry : std::filesystem::directory_iterator(base)) {
        const std::string name = entry.path().filename().string();
        FUZZ_CHECK(firstPieces.count(name) == 1, "unexpected entry " + name);
    }
    return 0;
}
