#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CardModel.h"
#include "Clock.h"
#include "BootLink.h"
#include "FlashHost.h"
#include "ServerModel.h"
#include "SimPortSet.h"
#include "SimulatedBackend.h"
#include "TSerialPortDriver.h"
#include "UpdateRun.h"

// A device that does what the test says when the port opens and for each written byte.
class ScriptDevice : public SimDevice {
  public:
    std::function<void(SimLine&)> onOpen;
    std::function<void(SimLine&, uint8_t)> onByte;
    void OnOpen(SimLine& line) override {
        line_ = &line;
        if (onOpen) onOpen(line);
    }
    void OnClose() override { line_ = nullptr; }
    void OnByte(uint8_t b) override {
        if (onByte && line_) onByte(*line_, b);
    }
    SimLine* line_ = nullptr;
};

// A window stand-in over simulated ports in virtual time: it records the log, the progress
// bar and the message windows, and its message pump runs the driver's poll and scripted
// actions (press STOP at the Nth pass, ...).
class Bench : public FlashHost {
  public:
    Bench() {
        dane.SetPort(pnCustom);
        dane.SetPortName("\\\\.\\COM2");
        dane.SetStopBits(sb2BITS);
        dane.SetHwFlow(hfNONE);
        dane.SetEnableDTROnOpen(false);
        base = std::filesystem::temp_directory_path() /
               ("tandel-flash-" + std::to_string(::getpid()) + "-" + std::to_string(++serial_));
        std::filesystem::remove_all(base);
        std::filesystem::create_directories(base / folder);
        WriteFirmware(selected, 15181);
    }
    ~Bench() override {
        dane.ClosePort();
        std::filesystem::remove_all(base);
    }

    // A file whose byte k is (7 k + 3) mod 256.
    void WriteFirmware(const std::string& name, size_t size) {
        std::ofstream out(base / folder / name, std::ios::binary);
        for (size_t k = 0; k < size; ++k) out.put(static_cast<char>((7 * k + 3) & 0xFF));
    }
    // What the flash must hold after the file was written: the sent part of the file.
    std::vector<uint8_t> ExpectedFlash() const {
        std::vector<uint8_t> flash(220 * 69);
        for (size_t k = 0; k < flash.size(); ++k) flash[k] = (7 * k + 3) & 0xFF;
        return flash;
    }

    template <class Model, class Options>
    Model& Add(Options options) {
        models_.push_back(std::make_unique<Model>(std::move(options)));
        return static_cast<Model&>(*models_.back());
    }
    ServerModel& AddServer(ServerModel::Options options, CardModel* card = nullptr) {
        models_.push_back(std::make_unique<ServerModel>(std::move(options), card));
        return static_cast<ServerModel&>(*models_.back());
    }

    // At the given pass of the message pump (1-based), run the action once.
    void AtPass(int pass, std::function<void()> action) {
        actions_.push_back({pass, std::move(action)});
    }
    // Run `action` at the first pass for which `when` holds.
    void When(std::function<bool()> when, std::function<void()> action) {
        conditions_.push_back({std::move(when), std::move(action)});
    }
    void PressStopAtPass(int pass) {
        AtPass(pass, [this] { run.Stop(); });
    }

    // FlashHost
    TSerialPortDriver& Dane() override { return dane; }
    Clock& Time() override { return clock; }
    void LogClear() override {
        log.clear();
        ++logClears;
    }
    void LogAppend(const std::string& line) override { log.push_back(line); }
    void SetProgressMax(int maximum) override { progressMax = maximum; }
    void SetProgress(int position) override {
        progress = position;
        ++progressUpdates;
    }
    void ProcessMessages() override {
        ++passes;
        passTicks.push_back(clock.TickMs());
        clock.Advance(passCostMs);
        dane.PollTick();
        for (auto& a : actions_) {
            if (a.pass == passes && a.action) std::exchange(a.action, nullptr)();
        }
        for (auto& c : conditions_) {
            if (c.action && c.when()) std::exchange(c.action, nullptr)();
        }
    }
    // Counted and timed only: user input never acts here. `onPaintPass` stands for what the
    // window system may do meanwhile (a close).
    void PaintOnlyPass() override {
        ++paintPasses;
        paintTicks.push_back(clock.TickMs());
        if (onPaintPass) onPaintPass();
    }
    bool Closing() const override { return closing; }
    bool StopRequested() const override { return stop || closing; }
    void SetStopRequested(bool value) override { stop = value; }
    std::string PortBoxText() override { return portBox; }
    std::string BaseDirectory() override { return base.string(); }
    std::string FirmwareFolder() override { return folder; }
    std::string SelectedFirmware() override { return selected; }
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    void ShowOpenFailure(const std::string& text, const std::string&) override {
        messages.push_back(text);
    }
    bool AskYesNo(const std::string& caption, const std::string& text) override {
        questions.push_back(caption + "|" + text);
        return answerYes;
    }

    // Written bytes of a port, in order.
    std::vector<uint8_t> Written(int port) const {
        std::vector<uint8_t> bytes;
        for (const auto& e : ports.Record(port).written) bytes.push_back(e.value);
        return bytes;
    }

    VirtualClock clock;
    SimulatedBackend backend{clock};

  private:
    std::deque<std::unique_ptr<DeviceCore>> models_;  // outlive the port set's adapters

  public:
    SimPortSet ports{backend};
    TSerialPortDriver dane{backend, clock};
    UpdateRun run{*this};

    std::filesystem::path base;
    std::string folder = "PELTA";
    std::string selected = "105.bin";
    std::string portBox = "COM1";
    bool answerYes = true;

    std::vector<std::string> log;
    int logClears = 0;
    int progressMax = 100;
    int progress = 0;
    int progressUpdates = 0;
    int passes = 0;
    int paintPasses = 0;
    std::vector<uint32_t> passTicks;   // when each message pass began
    std::vector<uint32_t> paintTicks;  // when each paint-only pass began
    std::function<void()> onPaintPass;
    bool closing = false;
    uint32_t passCostMs = 0;  // virtual time one pass of the message pump takes
    bool stop = false;
    std::vector<std::string> messages;
    std::vector<std::string> questions;

  private:
    struct PassAction {
        int pass;
        std::function<void()> action;
    };
    struct Condition {
        std::function<bool()> when;
        std::function<void()> action;
    };
    std::vector<PassAction> actions_;
    std::vector<Condition> conditions_;
    static inline int serial_ = 0;
};

using Lines = std::vector<std::string>;

// A bench with a scripted device on COM1, its port open, and a link over it.
struct LinkBench {
    LinkBench() {
        b.backend.AttachDevice("\\\\.\\COM1", device);
        b.dane.SetPortName("\\\\.\\COM1");
        EXPECT_TRUE(b.dane.OpenPort());
    }
    ScriptDevice device;
    Bench b;
    BootLink link{b};
};
