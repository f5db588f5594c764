#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <optional>
#include <string>
#include <utility>

#include "PortNames.h"
#include "SerialTestSupport.h"

namespace {

TEST(PortNames, PortNIsOneDriverNameAndOneLabel) {
    const struct {
        int n;
        const char* portName;
        const char* label;
    } cases[] = {
        {1, "\\\\.\\COM1", "COM1"},
        {2, "\\\\.\\COM2", "COM2"},
        {10, "\\\\.\\COM10", "COM10"},
        {20, "\\\\.\\COM20", "COM20"},
    };
    for (const auto& c : cases) {
        const std::pair<std::string, std::string> names{c.portName, c.label};
        EXPECT_EQ(std::pair(ComPortName(c.n), ComLabel(c.n)), names) << c.n;
    }
}

// The box's texts and the search's labels name COM1 to COM20 only as ComLabel writes them; a
// driver name only as ComPortName writes it. The backend is more lenient (below).
TEST(PortNames, OnlyExactNamesOfCom1ToCom20CarryTheirNumber) {
    const struct {
        const char* text;
        int labelNumber;
        int portNumber;
    } cases[] = {
        {"COM1", 1, 0},          {"COM20", 20, 0},       {"\\\\.\\COM3", 0, 3},
        {"\\\\.\\COM20", 0, 20}, {"com3", 0, 0},         {"COM03", 0, 0},
        {"COM0", 0, 0},          {"COM21", 0, 0},        {"COM1 ", 0, 0},
        {" COM1", 0, 0},         {"COM", 0, 0},          {"", 0, 0},
        {"\\\\.\\com4", 0, 0},   {"\\\\.\\COM21", 0, 0}, {"\\\\.\\COM03", 0, 0},
        {"\\\\COM3", 0, 0},      {"/dev/ttyUSB0", 0, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(std::pair(ComLabelNumber(c.text), ComPortNumber(c.text)),
                  std::pair(c.labelNumber, c.portNumber))
            << c.text;
    }
}

TEST(PortNames, TheShownNameDropsTheDevicePrefixOnly) {
    const std::pair<const char*, const char*> cases[] = {
        {"\\\\.\\COM1", "COM1"},  {"\\\\.\\COM25", "COM25"},        {"\\\\.\\com4", "com4"},
        {"\\\\.\\", ""},          {"/dev/ttyUSB0", "/dev/ttyUSB0"}, {"COM1", "COM1"},
        {"\\\\COM1", "\\\\COM1"}, {"\\\\.COM1", "\\\\.COM1"},
    };
    for (const auto& [name, shown] : cases) EXPECT_EQ(ShownPortName(name), shown) << name;
}

// Opening reads "\\.\COMn" in any case and up to COM9999; what is no such name is a path.
TEST(PortNames, TheBackendMapsEveryComNameThroughTandelPorts) {
    TempDir ports;
    for (const char* entry : {"COM4", "COM21", "COM9999"}) std::ofstream(ports.path / entry);
    const ScopedEnv env("TANDEL_PORTS", ports.path.string());
    const std::string dir = ports.path.string();
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"\\\\.\\com4", dir + "/COM4"},         {"\\\\.\\cOm4", dir + "/COM4"},
        {"\\\\.\\COM21", dir + "/COM21"},       {"\\\\.\\COM9999", dir + "/COM9999"},
        {"\\\\.\\COM5", std::nullopt},  // no entry: absent
        {"\\\\.\\COM10000", "\\\\.\\COM10000"}, {"\\\\.\\COM04", "\\\\.\\COM04"},
        {"\\\\.\\COM4x", "\\\\.\\COM4x"},       {"\\\\.\\COM", "\\\\.\\COM"},
        {"\\\\.\\LPT1", "\\\\.\\LPT1"},         {"COM4", "COM4"},
        {"/dev/ttyUSB0", "/dev/ttyUSB0"},
    };
    for (const auto& [name, path] : cases)
        EXPECT_EQ(ResolveSerialPortPath(name, "/nonexistent"), path) << name;
}

TEST(PortNames, DefaultOrderIsUsbThenAcmThenBuiltIn) {
    unsetenv("TANDEL_PORTS");
    TempDir dev;
    for (const char* node : {"ttyS1", "ttyS0", "ttyUSB10", "ttyUSB2", "ttyACM0", "ttyUSBx", "ttyS",
                             "ttyprintk", "console"}) {
        std::ofstream(dev.path / node);
    }
    const std::string d = dev.path.string();
    EXPECT_EQ(ResolveSerialPortPath("\\\\.\\COM1", d), d + "/ttyUSB2");
    EXPECT_EQ(ResolveSerialPortPath("\\\\.\\COM2", d), d + "/ttyUSB10");
    EXPECT_EQ(ResolveSerialPortPath("\\\\.\\COM3", d), d + "/ttyACM0");
    EXPECT_EQ(ResolveSerialPortPath("\\\\.\\com4", d), d + "/ttyS0");
    EXPECT_EQ(ResolveSerialPortPath("\\\\.\\COM5", d), d + "/ttyS1");
    EXPECT_EQ(ResolveSerialPortPath("\\\\.\\COM6", d), std::nullopt);
    EXPECT_EQ(ResolveSerialPortPath("/dev/ttyUSB7", d), "/dev/ttyUSB7");
    EXPECT_EQ(ResolveSerialPortPath("\\\\.\\COM0", d), "\\\\.\\COM0");  // not a port number

    TempDir ports;
    std::ofstream(ports.path / "COM2");
    ScopedEnv env("TANDEL_PORTS", ports.path.string());
    EXPECT_EQ(ResolveSerialPortPath("\\\\.\\COM1", d), std::nullopt);
    EXPECT_EQ(ResolveSerialPortPath("\\\\.\\COM2", d), (ports.path / "COM2").string());

    ScopedEnv empty("TANDEL_PORTS", "");  // set but empty: every port is absent
    EXPECT_EQ(ResolveSerialPortPath("\\\\.\\COM1", d), std::nullopt);
}

}  // namespace
