#include "Catalogue.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kFirmwareBytes = 15180;

void WriteBytes(const fs::path& path, const std::string& bytes) {
    if (path.has_parent_path()) fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string Number(int n) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d", n);
    return text;
}

// Distinct bytes per file, so that no layer can get away with sharing them.
std::string FirmwareBytes(int type, int file) {
    std::string bytes(kFirmwareBytes, '\0');
    uint32_t state = 2166136261u ^ static_cast<uint32_t>(type * 1000 + file);
    for (char& c : bytes) {
        state = state * 1664525u + 1013904223u;
        c = static_cast<char>(state >> 24);
    }
    return bytes;
}

// "Urządzenie testowe NN" in CP1250 (0xB9 is 'ą').
std::string InitCfgLine(int type, int kind) {
    return "Urz\xB9"
           "dzenie testowe " +
           Number(type) + ":" + TypeFolder(type) + " " + std::to_string(kind) + "\r\n";
}

}  // namespace

std::string TypeFolder(int type) {
    return "typ_" + Number(type);
}

std::string FirmwareName(int type, int file) {
    return "fw_" + Number(type) + "_" + Number(file);
}

void WriteInitCfg(const std::string& workDir, int types, int kind) {
    std::string cfg;
    for (int t = 1; t <= types; ++t) cfg += InitCfgLine(t, kind);
    WriteBytes(fs::path(workDir) / "init.cfg", cfg);
}

void WriteCatalogue(const std::string& root, const std::string& workDir, CatalogueShape shape,
                    int kind) {
    for (int t = 1; t <= shape.types; ++t) {
        const fs::path folder = fs::path(root) / "liveupdate" / TypeFolder(t);
        std::string list;
        for (int f = 1; f <= shape.files; ++f) {
            list += FirmwareName(t, f) + "\r\n";
            WriteBytes(folder / (FirmwareName(t, f) + ".bin"), FirmwareBytes(t, f));
        }
        WriteBytes(folder / "lista.txt", list);
        WriteBytes(folder / "opis.txt",
                   "Oprogramowanie urz\xB9"
                   "dzenia " +
                       Number(t) + "\r\nWersje 01 - " + Number(shape.files) + "\r\n");
    }
    WriteInitCfg(workDir, shape.types, kind);
}

void WriteCurlConfig(const std::string& path, const std::string& base, const std::string& outDir,
                     CatalogueShape shape, bool withFiles) {
    std::string config;
    const auto fetch = [&](const std::string& rel) {
        config += "url = \"" + base + rel + "\"\noutput = \"" + outDir + "/" + rel + "\"\n";
    };
    for (int t = 1; t <= shape.types; ++t) {
        const std::string folder = TypeFolder(t) + "/";
        fetch(folder + "lista.txt");
        fetch(folder + "opis.txt");
        if (!withFiles) continue;
        for (int f = 1; f <= shape.files; ++f) fetch(folder + FirmwareName(t, f) + ".bin");
    }
    WriteBytes(path, config);
}
