#include "DeviceConfig.h"

#include <stdexcept>

#include "BaseDirectory.h"
#include "BoundedRead.h"
#include "Cp1250.h"
#include "Platform.h"
#include "TextEncoding.h"

std::vector<std::string> SplitTextLines(std::string_view bytes, std::size_t maxLines) {
    const auto nul = bytes.find('\0');
    if (nul != std::string_view::npos) bytes = bytes.substr(0, nul);

    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < bytes.size() && lines.size() <= maxLines) {
        size_t end = pos;
        while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n') ++end;
        lines.emplace_back(bytes.substr(pos, end - pos));
        if (end < bytes.size() && bytes[end] == '\r') ++end;
        if (end < bytes.size() && bytes[end] == '\n') ++end;
        pos = end;
    }
    return lines;
}

std::string CutFolder(std::string_view line) {
    const auto colon = line.find(':');
    // 1-based position of the colon, 0 without one; the folder starts right after it.
    const long p = colon == std::string_view::npos ? 0 : static_cast<long>(colon) + 1;
    const long count = static_cast<long>(line.size()) - p - 2;
    if (count <= 0) return {};
    return std::string(line.substr(static_cast<size_t>(p), static_cast<size_t>(count)));
}

uint8_t CutDeviceKind(std::string_view line) {
    if (!line.empty()) {
        const char last = line.back();
        if (last >= '0' && last <= '9') return static_cast<uint8_t>(last - '0');
    }
    const std::string shown =
        line.empty() ? std::string() : Cp1250ToUtf8(line.substr(line.size() - 1));
    throw std::runtime_error("'" + shown + "' is not a valid integer value");
}

std::vector<std::string> LoadDeviceTypeLines(const std::string& baseDirectory) {
    const std::string path = JoinPath(baseDirectory, "init.cfg");
    std::vector<std::string> lines =
        SplitTextLines(TextFileAsCp1250(ReadBoundedFile(path, kInitCfgLimit)), kInitCfgLineLimit);
    if (lines.size() > kInitCfgLineLimit) {
        throw FileReadError(path, FileReadError::Cause::TooManyLines, 0, kInitCfgLineLimit);
    }
    return lines;
}

std::string FolderOnDisk(std::string_view folderBytes) {
    return Cp1250ToUtf8(folderBytes);
}

bool StaysInBase(std::string_view folderOnDisk) {
    size_t start = 0;
    for (;;) {
        size_t end = start;
        while (end < folderOnDisk.size() && !platform::IsPathSeparator(folderOnDisk[end])) ++end;
        if (folderOnDisk.substr(start, end - start) == "..") return false;
        if (end == folderOnDisk.size()) return true;
        start = end + 1;
    }
}

void CreateDeviceFolders(const std::string& baseDirectory, const std::vector<std::string>& lines) {
    for (const auto& line : lines) {
        const std::string bytes = CutFolder(line);
        if (bytes.size() >= platform::kPathMax) continue;  // no such path can be made
        const std::string folder = FolderOnDisk(bytes);
        if (!StaysInBase(folder)) continue;
        const std::string path = JoinPath(baseDirectory, folder);
        if (platform::KindOf(path) == platform::FileKind::Folder) continue;
        platform::MakeFolder(path);
    }
}

std::vector<std::string> PrepareStore(const std::string& baseDirectory) {
    std::vector<std::string> lines = LoadDeviceTypeLines(baseDirectory);
    CreateDeviceFolders(baseDirectory, lines);
    return lines;
}
