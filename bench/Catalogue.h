#pragma once

#include <string>

// Sizes of the benchmark catalogue: `types` device types of `files` firmware files each.
struct CatalogueShape {
    int types = 50;
    int files = 20;
};

// Folder and firmware names of the catalogue (plain ASCII): "typ_07", "fw_07_13".
std::string TypeFolder(int type);
std::string FirmwareName(int type, int file);

// Writes <root>/liveupdate/<folder>/lista.txt, opis.txt and the published 15180-byte files,
// and <workDir>/init.cfg listing the device types (CP1250, CR LF) with the given kind.
void WriteCatalogue(const std::string& root, const std::string& workDir, CatalogueShape shape,
                    int kind);

// <workDir>/init.cfg with `types` device-type lines (no catalogue behind them).
void WriteInitCfg(const std::string& workDir, int types, int kind);

// The curl configuration that fetches what a LiveUpdate run into an empty store fetches, in
// the same order, into <outDir>: every lista.txt and opis.txt and, with `withFiles`, every
// firmware file. `base` is the server's address ending in "/liveupdate/".
void WriteCurlConfig(const std::string& path, const std::string& base, const std::string& outDir,
                     CatalogueShape shape, bool withFiles);
