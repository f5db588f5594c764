// Port descriptions against fake /dev and sysfs trees.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "AsNobody.h"
#include "PortDescription.h"

namespace {

namespace fs = std::filesystem;

void Write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
}

// A machine with two FTDI adapters, a modem-class device and a built-in port:
// <root>/dev holds the nodes (plain files), <root>/sys the kernel objects.
struct FakeMachine : ::testing::Test {
    fs::path root;
    PortEnvironment env;

    void SetUp() override {
        unsetenv("TANDEL_PORTS");
        std::string pattern = (fs::temp_directory_path() / "tandel-ports-XXXXXX").string();
        root = mkdtemp(pattern.data());
        env = {(root / "dev").string(), (root / "sys").string()};
        for (const char* node : {"ttyUSB0", "ttyUSB1", "ttyACM0", "ttyS0"})
            Write(root / "dev" / node, "");

        const fs::path usb = root / "sys/devices/pci0/usb1";
        AddUsbDevice(usb / "1-1", "FTDI", "FT232R USB UART", "0403", "6001", "A10K1234");
        Link("ttyUSB0", usb / "1-1/1-1:1.0/ttyUSB0");
        AddUsbDevice(usb / "1-2", "", "", "067b", "2303", "");  // reports ids only
        Link("ttyUSB1", usb / "1-2/1-2:1.0/ttyUSB1");
        AddUsbDevice(usb / "1-3", "Quorvant", "Reader", "1d6b", "0104", "R7");
        Link("ttyACM0", usb / "1-3/1-3:1.0");
        Link("ttyS0", root / "sys/devices/platform/serial8250/tty/ttyS0");
        // Outside the sysfs root: never taken for the built-in port's identity.
        Write(root / "idVendor", "dead\n");
    }
    void TearDown() override {
        unsetenv("TANDEL_PORTS");
        fs::remove_all(root);
    }

    static void AddUsbDevice(const fs::path& dir, const std::string& manufacturer,
                             const std::string& product, const std::string& vid,
                             const std::string& pid, const std::string& serial) {
        Write(dir / "idVendor", vid + "\n");
        Write(dir / "idProduct", pid + "\n");
        if (!manufacturer.empty()) Write(dir / "manufacturer", manufacturer + "\n");
        if (!product.empty()) Write(dir / "product", product + "\n");
        if (!serial.empty()) Write(dir / "serial", serial + "\n");
    }
    void Link(const std::string& node, const fs::path& object) {
        fs::create_directories(object);
        const fs::path entry = root / "sys/class/tty" / node;
        fs::create_directories(entry);
        fs::create_directory_symlink(fs::relative(object, entry), entry / "device");
    }
    std::string Dev(const std::string& node) const { return (root / "dev" / node).string(); }
};

TEST_F(FakeMachine, DefaultOrderWithUsbIdentities) {
    const auto ports = DescribePorts(env);
    ASSERT_EQ(ports.size(), 20u);
    EXPECT_EQ(PortDescriptionLine(ports[0]),
              "COM1 = " + Dev("ttyUSB0") + " (FTDI FT232R USB UART, 0403:6001, serial A10K1234)");
    EXPECT_EQ(PortDescriptionLine(ports[1]), "COM2 = " + Dev("ttyUSB1") + " (067b:2303)");
    EXPECT_EQ(PortDescriptionLine(ports[2]),
              "COM3 = " + Dev("ttyACM0") + " (Quorvant Reader, 1d6b:0104, serial R7)");
    EXPECT_EQ(PortDescriptionLine(ports[3]), "COM4 = " + Dev("ttyS0"));
    EXPECT_FALSE(ports[3].usb.has_value());
    EXPECT_EQ(PortDescriptionLine(ports[4]), "COM5: no such port");
    EXPECT_FALSE(ports[19].present);
    ASSERT_TRUE(ports[0].usb.has_value());
    EXPECT_EQ(ports[0].usb->serial, "A10K1234");
    EXPECT_TRUE(ports[0].mayOpen);
}

TEST_F(FakeMachine, PortsFolderAloneMapsThroughItsLinks) {
    const fs::path folder = root / "ports";
    fs::create_directories(folder);
    fs::create_symlink(Dev("ttyUSB1"), folder / "COM1");
    fs::create_symlink(Dev("ttyUSB0"), folder / "COM4");
    fs::create_symlink(root / "dev/gone", folder / "COM3");  // dangling: absent
    setenv("TANDEL_PORTS", folder.c_str(), 1);

    const auto ports = DescribePorts(env);
    EXPECT_EQ(ports[0].path, (folder / "COM1").string());
    EXPECT_EQ(PortDescriptionLine(ports[0]), "COM1 = " + Dev("ttyUSB1") + " (067b:2303)");
    EXPECT_EQ(PortDescriptionLine(ports[1]), "COM2: no such port");  // no fallback to /dev
    EXPECT_EQ(PortDescriptionLine(ports[2]), "COM3: no such port");
    EXPECT_EQ(PortDescriptionLine(ports[3]),
              "COM4 = " + Dev("ttyUSB0") + " (FTDI FT232R USB UART, 0403:6001, serial A10K1234)");
}

TEST_F(FakeMachine, OpenFailureReasonSaysWhatTheMachineTells) {
    EXPECT_EQ(OpenFailureReason("\\\\.\\COM9", env), "COM9: no such port");
    EXPECT_EQ(OpenFailureReason("\\\\.\\COM1", env),
              "COM1 = " + Dev("ttyUSB0") + ": in use by another program");
    EXPECT_EQ(OpenFailureReason(Dev("ttyS0"), env),
              Dev("ttyS0") + " = " + Dev("ttyS0") + ": in use by another program");
    EXPECT_EQ(OpenFailureReason(Dev("ttyUSB7"), env), Dev("ttyUSB7") + ": no such port");
}

// The check runs as an unprivileged user: a forked child drops to nobody when the test runs
// as root (root may open anything).
TEST_F(FakeMachine, NodeTheUserMayNotOpenGetsTheGroupHint) {
    const std::string node = Dev("ttyUSB0");
    ASSERT_EQ(::chmod(node.c_str(), 0660), 0);
    const group* dialout = ::getgrnam("dialout");
    if (dialout != nullptr && ::geteuid() == 0) {
        ASSERT_EQ(::chown(node.c_str(), 0, dialout->gr_gid), 0);
    }
    if (::geteuid() != 0) {
        ASSERT_EQ(::chmod(node.c_str(), 0), 0);
    }
    fs::permissions(root, fs::perms::all);  // the child must reach the tree

    const std::optional<std::string> seen = RunAsNobody([this] {
        const PortDescription port = DescribePort(1, env);
        return (port.mayOpen ? "1" : "0") + PortDescriptionLine(port);
    });
    ASSERT_TRUE(seen);
    const std::string& got = *seen;

    const std::string group =
        dialout != nullptr && ::geteuid() == 0 ? "dialout" : DescribePort(1, env).group;
    EXPECT_EQ(got, "0COM1 = " + node + " (FTDI FT232R USB UART, 0403:6001, serial A10K1234); " +
                       PermissionHint(group));
    EXPECT_NE(PermissionHint("dialout").find("usermod -aG dialout"), std::string::npos);
}

TEST_F(FakeMachine, OnlyABuiltInPortOfUnknownUartTypeIsAPhantom) {
    struct Case {
        const char* node;
        const char* type;  // sysfs type; nullptr: no such file
        bool phantom;
    };
    const Case cases[] = {
        {"ttyS1", "0\n", true},   {"ttyS2", "4\n", false}, {"ttyS3", nullptr, false},
        {"ttyUSB3", "0\n", false}, {"ttyS4", "x\n", false},
    };
    for (const Case& c : cases) {
        if (c.type != nullptr) Write(root / "sys/class/tty" / c.node / "type", c.type);
        EXPECT_EQ(IsPhantomUart(c.node, env), c.phantom) << c.node;
    }
    // A plain file is no character device: no port a device can sit on.
    EXPECT_FALSE(PortMayHoldDevice(DescribePorts(env)[3], env));
}

}  // namespace

namespace {

// Only terminals count as present ports: what TANDEL_PORTS maps to a file, a FIFO, a directory
// or /dev/null is listed as no serial port; a pseudo-terminal is a port. Real sysfs.
TEST(PortDescription, NodesThatAreNoTerminalsAreNoPorts) {
    std::string pattern = (fs::temp_directory_path() / "tandel-ports-XXXXXX").string();
    const fs::path dir = mkdtemp(pattern.data());
    int master = -1, slave = -1;
    char pty[128] = {};
    ASSERT_EQ(::openpty(&master, &slave, pty, nullptr, nullptr), 0);
    Write(dir / "plik", "x");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    fs::create_directory(dir / "katalog");
    const std::pair<const char*, fs::path> links[] = {
        {"COM1", "/dev/null"}, {"COM2", dir / "plik"}, {"COM3", dir / "fifo"},
        {"COM4", dir / "katalog"}, {"COM5", pty}};
    fs::create_directory(dir / "ports");
    for (const auto& [com, target] : links) fs::create_symlink(target, dir / "ports" / com);
    setenv("TANDEL_PORTS", (dir / "ports").c_str(), 1);

    const auto ports = DescribePorts();
    for (int i = 0; i < 4; ++i) {
        EXPECT_FALSE(ports[i].present) << i;
        EXPECT_EQ(PortDescriptionLine(ports[i]), "COM" + std::to_string(i + 1) + " = " +
                                                     fs::canonical(links[i].second).string() +
                                                     ": not a serial port");
    }
    EXPECT_TRUE(ports[4].present);
    EXPECT_EQ(OpenFailureReason("\\\\.\\COM1"), "COM1 = /dev/null: not a serial port");
    unsetenv("TANDEL_PORTS");
    ::close(slave);
    ::close(master);
    fs::remove_all(dir);
}

}  // namespace

// A group is named only when it may read and write the node and is not root; otherwise the
// hint is a udev rule, by the adapter's ids where sysfs has them, else by the kernel's name.
TEST_F(FakeMachine, PermissionHintNamesAGroupOnlyWhereJoiningItHelps) {
    const group* dialout = ::getgrnam("dialout");
    ASSERT_NE(dialout, nullptr);
    const struct {
        int port;
        gid_t gid;
        mode_t mode;
        const char* says;
    } cases[] = {
        {1, dialout->gr_gid, 0660, "join the group dialout (sudo usermod -aG dialout $USER)"},
        {1, 0, 0660, "ATTRS{idVendor}==\"0403\", ATTRS{idProduct}==\"6001\", GROUP=\"dialout\""},
        {1, 0, 0600, "ATTRS{idVendor}==\"0403\", ATTRS{idProduct}==\"6001\", GROUP=\"dialout\""},
        {1, dialout->gr_gid, 0640, "ATTRS{idVendor}==\"0403\""},
        {4, 0, 0600, "KERNEL==\"ttyS0\", GROUP=\"dialout\", MODE=\"0660\""},
    };
    for (const auto& c : cases) {
        const std::string node = Dev(c.port == 1 ? "ttyUSB0" : "ttyS0");
        ASSERT_EQ(::chown(node.c_str(), 0, c.gid), 0);
        ASSERT_EQ(::chmod(node.c_str(), c.mode), 0);
        const PortDescription port = DescribePort(c.port, env);
        const std::string english = PermissionHint(port, ReasonLanguage::English);
        const std::string polish = PermissionHint(port, ReasonLanguage::Polish);
        EXPECT_NE(english.find(c.says), std::string::npos) << english;
        EXPECT_EQ(english.find("group root"), std::string::npos) << english;
        EXPECT_NE(polish.find(c.port == 1 && c.mode == 0660 && c.gid != 0 ? "dołącz do grupy"
                                                                         : "/etc/udev/rules.d/"),
                  std::string::npos)
            << polish;
    }
}
