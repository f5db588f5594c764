#pragma once
// tandel-cli's command line run in the test's own process, as its main runs it, but on
// simulated ports in virtual time: an 8-second pause of a run costs nothing. The devices are
// those of the pseudo-terminal set (COM1 a server with a card behind it, COM2 a card reader
// with a card in it), and they meet the program as they do there; both outputs are caught.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QStringList>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CardModel.h"
#include "CliFiles.h"
#include "CommandLine.h"
#include "DeviceFaults.h"
#include "PortNames.h"
#include "PtyDeviceSet.h"
#include "ServerModel.h"
#include "SimDeviceAdapter.h"
#include "SimPortSet.h"
#include "SimulatedBackend.h"
#include "StopSignal.h"

namespace clitest {

// One QCoreApplication for the whole test program with tandel-cli's name and version, as the
// program's main makes it: the driver's poll timer runs in it.
class CliApplication : public ::testing::Environment {
  public:
    void SetUp() override {
        app_ = std::make_unique<QCoreApplication>(argc_, argv_);
        QCoreApplication::setApplicationName("tandel-cli");
        QCoreApplication::setApplicationVersion(TANDEL_VERSION);
    }
    void TearDown() override { app_.reset(); }

  private:
    int argc_ = 1;
    char name_[10] = "cli_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QCoreApplication> app_;
};
inline ::testing::Environment* const kCliApplication =
    ::testing::AddGlobalTestEnvironment(new CliApplication);

// A device on a simulated port as a pseudo-terminal has it: no modem line reaches it, so it
// powers on at the opening and goes through the reset a pulse would give it `resetAfterMs`
// later. `afterByte` runs after each byte it has taken.
class PtyLikeLine final : public SimDeviceAdapter {
  public:
    PtyLikeLine(DeviceCore& core, uint32_t resetAfterMs, std::function<void()>& afterByte)
        : SimDeviceAdapter(core), core_(core), resetAfterMs_(resetAfterMs), afterByte_(afterByte) {}
    void OnOpen(SimLine& line) override {
        SimDeviceAdapter::OnOpen(line);
        core_.RtsChanged(true, line.Now() + resetAfterMs_);
        core_.RtsChanged(false, line.Now() + resetAfterMs_);
    }
    void OnRts(bool) override {}
    void OnByte(uint8_t b) override {
        SimDeviceAdapter::OnByte(b);
        if (afterByte_) afterByte_();
    }

  private:
    DeviceCore& core_;
    uint32_t resetAfterMs_;
    std::function<void()>& afterByte_;
};

// What one run of the command line left.
struct CliRun {
    int exit = -1;
    std::string out, err;
    uint32_t ms = 0;  // the virtual time it took
    std::vector<std::string> OutLines() const { return SplitLines(out); }
};

class CliBench {
  public:
    // `faults` in the device simulator's words ("server:erase=94"); without `devices` no port
    // has anything behind it.
    explicit CliBench(const std::vector<std::string>& faults = {}, bool devices = true)
        : faults_(Parsed(faults)),
          serverCard_(CardOptionsWith(faults_, FaultTarget::ServerCard)),
          server_(ServerOptionsWith(faults_), &serverCard_),
          readerCard_(CardOptionsWith(faults_, FaultTarget::ReaderCard)),
          com1_(server_, PtyDeviceSet::kServerResetAfterMs, afterByte),
          com2_(readerCard_, PtyDeviceSet::kReaderResetAfterMs, afterByte) {
        // The texts that show where a port name leads read as on a machine with the set's
        // links: TANDEL_PORTS names a folder with an entry for each port that is there.
        fs::create_directories(portDir);
        if (devices) {
            backend_.AttachDevice(ComPortName(1), com1_);
            backend_.AttachDevice(ComPortName(2), com2_);
            WriteFile(portDir / ComLabel(1), "");
            WriteFile(portDir / ComLabel(2), "");
        }
    }

    // Runs tandel-cli with `arguments` in `folder`, its environment holding `environment` and
    // TANDEL_PORTS for the run, standard input not a terminal.
    CliRun Run(const fs::path& folder, const std::vector<std::string>& arguments,
               std::map<std::string, std::string> environment = {}) {
        environment.emplace("TANDEL_PORTS", portDir.string());
        std::map<std::string, std::optional<std::string>> saved;
        for (const auto& [name, value] : environment) {
            const char* old = std::getenv(name.c_str());
            saved[name] = old ? std::optional<std::string>(old) : std::nullopt;
            ::setenv(name.c_str(), value.c_str(), 1);
        }
        const fs::path cwd = fs::current_path();
        fs::current_path(folder);
        QStringList args{"tandel-cli"};
        for (const std::string& a : arguments) args << QString::fromStdString(a);

        char* outText = nullptr;
        char* errText = nullptr;
        size_t outSize = 0, errSize = 0;
        FILE* out = outFile ? std::fopen(outFile, "w") : ::open_memstream(&outText, &outSize);
        FILE* err = ::open_memstream(&errText, &errSize);
        const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        StopSignal::Install();
        const uint32_t start = clock.TickMs();
        CliRun run;
        run.exit = RunCommandLine(args, {backend_, clock, out, err, in});
        run.ms = clock.TickMs() - start;
        for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) std::signal(signal, SIG_DFL);
        ::close(in);
        std::fclose(out);
        std::fclose(err);
        if (outText) run.out.assign(outText, outSize);
        run.err.assign(errText, errSize);
        std::free(outText);
        std::free(errText);

        fs::current_path(cwd);
        for (const auto& [name, value] : saved) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
        return run;
    }

    // Standard output goes to this file instead of being kept ("/dev/full").
    const char* outFile = nullptr;

    const ServerModel& Server() const { return server_; }
    const CardModel& ServerCard() const { return serverCard_; }
    const CardModel& ReaderCard() const { return readerCard_; }
    // The flash of the device a kind programs.
    std::string FlashOf(int kind) const {
        const BootLoader& boot = kind == 4                ? readerCard_.Boot()
                                 : kind == 3 || kind == 5 ? serverCard_.Boot()
                                                          : server_.Boot();
        return {boot.Flash().begin(), boot.Flash().end()};
    }

    // Runs after every byte a device has taken, in the middle of the run.
    std::function<void()> afterByte;
    VirtualClock clock;
    TempDir ports;
    const fs::path portDir = ports.path;

  private:
    static std::vector<DeviceFault> Parsed(const std::vector<std::string>& texts) {
        std::vector<DeviceFault> faults;
        for (const std::string& text : texts) faults.push_back(ParseDeviceFault(text).value());
        return faults;
    }

    std::vector<DeviceFault> faults_;
    CardModel serverCard_;
    ServerModel server_;
    CardModel readerCard_;
    PtyLikeLine com1_;
    PtyLikeLine com2_;
    SimulatedBackend backend_{clock};  // ends before the devices attached to it
};

}  // namespace clitest
