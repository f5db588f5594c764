#pragma once
// The demo's working folder and the designed log lines of its runs, for the flash tests in the
// test's process and on pseudo-terminals alike.

#include <gtest/gtest.h>

#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

#include "CliFiles.h"
#include "DemoCatalogue.h"

namespace clitest {

using Lines = std::vector<std::string>;

inline const Lines kServerBoot{"BOOT >> v5", "Tryb Boot dla serwera aktywny.",
                               "Aktualnie masz wgrane oprogramowanie nr: 105"};
inline const Lines kFlashServer{"Bit_lock : OK",      "Kasowanie flasha : OK",
                                "Zapis flasha...",    "Zapis flasha : OK",
                                "Reset serwera : OK", "SerialPort wolny..."};
inline const Lines kViaServer{"Tryb Via Serwer aktywny.", "Inicjalizacja karty...",
                              "Inicjalizacja karty : OK", "Bit_lock : OK",
                              "Kasowanie flasha : OK",    "Zapis flasha...",
                              "Zapisu flasha : OK",       "Bit_lock OFF : OK",
                              "SerialPort wolny..."};
inline const Lines kSearchFound{"COM:1 +", "Czekam na dane z serwera...", "Reset..."};

inline Lines Join(std::initializer_list<Lines> parts) {
    Lines all;
    for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// A working folder holding the demo's init.cfg and the demo firmware in its store.
struct DemoWork : ::testing::Test {
    TempDir dir;
    fs::path work = dir.path / "work";

    void SetUp() override {
        WriteFile(work / "init.cfg", DemoInitCfg());
        for (const DemoDeviceType& type : DemoDeviceTypes()) {
            for (const std::string& name : type.firmware) {
                WriteFile(work / type.folder / (name + ".bin"), DemoFirmware(type.folder, name));
            }
        }
    }
    static const DemoDeviceType& Type(int kind) {
        for (const DemoDeviceType& type : DemoDeviceTypes()) {
            if (type.kind == kind) return type;
        }
        std::abort();
    }
    // What a device's flash holds after the file went in: all of it but its last byte.
    static std::string FlashAfter(int kind) {
        std::string flash = DemoFirmware(Type(kind).folder, Type(kind).firmware.front());
        flash.back() = '\0';
        return flash;
    }
    static std::vector<std::string> FlashArgs(int kind, const std::string& port = "") {
        std::vector<std::string> args{"flash", "--type", Type(kind).display, "--firmware",
                                      Type(kind).firmware.front() + ".bin"};
        if (!port.empty()) args.insert(args.end(), {"--port", port});
        return args;
    }
};

}  // namespace clitest
