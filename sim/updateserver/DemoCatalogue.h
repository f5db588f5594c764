#pragma once

#include <string>
#include <string_view>
#include <vector>

// The demo's device types: one of each DeviceKind, with the firmware published for it.
struct DemoDeviceType {
    std::string display;                // device-type list text before the colon (UTF-8)
    std::string folder;                 // FirmwareFolder, plain ASCII
    int kind;                           // DeviceKind 1..5
    std::vector<std::string> firmware;  // names in lista.txt, without ".bin"
    std::string description;            // opis.txt (UTF-8; stored as CP1250)
};

const std::vector<DemoDeviceType>& DemoDeviceTypes();

// init.cfg for the demo types: CP1250, one "display:folder kind" line each, CR LF ends.
std::string DemoInitCfg();

// A 15180-byte firmware body, the same for the same folder and name.
std::string DemoFirmware(std::string_view folder, std::string_view name);

// Writes <root>/liveupdate/<folder>/lista.txt, opis.txt and every listed .bin; creates the
// directories as needed. Throws std::runtime_error when a file cannot be written.
void WriteDemoCatalogue(const std::string& root);
