// init.cfg as it comes from an editor: the lines, the folder and kind cut from each, and the
// folder creation at start-up in a base directory of its own. Nothing may be made outside
// the base directory, and a kind that is no digit fails with the designed text only.
// An input that starts with FF FE is a bound case: the byte after it picks a file past the
// size bound (sparse), one past the line bound, or lines whose folders are past NAME_MAX; the
// rest of the input is the material.
#include <fstream>
#include <set>
#include <stdexcept>
#include <string>

#include "BoundedRead.h"
#include "Cp1250.h"
#include "DeviceConfig.h"
#include "LiveUpdate.h"
#include "StoreNames.h"
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

enum class Bound { None, Size, Lines, LongFolders };

// The init.cfg of a bound case, and which bound it passes.
Bound WriteBoundCase(FuzzInput& in, const std::filesystem::path& file) {
    const uint8_t mode = in.Byte() % 3;
    const uint16_t extra = in.U16();
    std::string material = in.Rest();
    if (material.empty()) material = "A:fw 1\r\n";
    std::ofstream out(file, std::ios::binary);
    if (mode == 0) {
        out << material;
        out.close();
        std::filesystem::resize_file(file, kInitCfgLimit + 1 + extra);
        return Bound::Size;
    }
    if (mode == 1) {
        // Every line ended: more lines than the bound, however the material splits.
        for (std::size_t i = 0; i <= kInitCfgLineLimit; ++i) out << "\n";
        out << material;
        return Bound::Lines;
    }
    // One line per material byte run: a folder of 256 to 4351 bytes without a slash or a NUL.
    std::string folder;
    for (const char c : material) {
        if (c != '/' && c != '\0' && c != '\r' && c != '\n') folder += c;
    }
    if (folder.empty()) folder = "x";
    std::string piece;
    while (piece.size() < 256u + extra % 4096u) piece += folder;
    out << "A:" << piece << " 1\r\n";
    return Bound::LongFolders;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::filesystem::path outer = FreshFolder("outer");
    const std::filesystem::path base = outer / "base";
    std::filesystem::create_directory(base);
    Bound bound = Bound::None;
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
        FuzzInput in(data + 2, size - 2);
        bound = WriteBoundCase(in, base / "init.cfg");
    } else {
        std::ofstream out(base / "init.cfg", std::ios::binary);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }

    std::vector<std::string> lines;
    try {
        lines = LoadDeviceTypeLines(base.string());
    } catch (const FileReadError& error) {
        const auto expected = bound == Bound::Size ? FileReadError::Cause::TooLarge
                                                   : FileReadError::Cause::TooManyLines;
        FUZZ_CHECK(bound != Bound::None && bound != Bound::LongFolders && error.Why() == expected,
                   error.what());
        return 0;
    }
    FUZZ_CHECK(bound == Bound::None || bound == Bound::LongFolders, "a bound was not kept");
    FUZZ_CHECK(lines.size() <= kInitCfgLineLimit, "more lines than the bound");
    for (const std::string& line : lines) {
        // A folder with a piece past NAME_MAX is never one LiveUpdate writes into.
        const std::string folder = CutFolder(line);
        if (FolderOnDisk(folder).size() > 255 &&
            FolderOnDisk(folder).find('/') == std::string::npos)
            FUZZ_CHECK(!UsableStoreFolder(base.string(), folder, LiveUpdateBaseAddress()), line);
    }
    size_t bytes = 0;
    for (const std::string& line : lines) {
        FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos, line);
        FUZZ_CHECK(line.find('\0') == std::string::npos, line);
        bytes += line.size();
        CheckKind(line);
        CheckFolder(line);
    }
    FUZZ_CHECK(bound != Bound::None || bytes <= size, "lines hold more than the file");

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
