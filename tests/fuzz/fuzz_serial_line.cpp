// The device's side of the serial line, chosen by the input, under virtual time: a whole
// programming run (boot-mode entry and sequence) of a device kind 1 to 5 against either the
// input's own bytes, answered to every byte the program writes, or the simulated devices
// with the input deciding for every byte they send whether it arrives, late, changed, with
// another before it, or not at all; the line may hang up at any written byte and STOP comes
// at a pass of the input's choosing (at the latest when a wait without limit has gone on).
// The run must end within a bounded time after STOP, with every port closed, no port opened
// and no byte written after STOP, the write frames of the image in order, and only the
// designed log lines.
#include <algorithm>
#include <fstream>
#include <memory>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "CardModel.h"
#include "Clock.h"
#include "FirmwareImage.h"
#include "FlashHost.h"
#include "FuzzInput.h"
#include "PortNames.h"
#include "Scratch.h"
#include "ServerModel.h"
#include "SimDeviceAdapter.h"
#include "SimulatedBackend.h"
#include "TSerialPortDriver.h"
#include "Sequences.h"
#include "UpdateRun.h"

namespace {

constexpr int kPorts = 3;
constexpr uint32_t kLatestStopMs = 120000;
// After STOP (or the latest STOP point) a run has its pauses left: the reset pulses, the
// card's pauses, one flash-erase bound.
constexpr uint32_t kEndAfterStopMs = 75000;

constexpr char kWrongAnswer[] = "Błąd startu serwera !!! [";

// The device on the line: the input's bytes, or a device model whose bytes the input
// disturbs.
class InputDevice : public SimDevice, public DeviceLine {
  public:
    InputDevice(FuzzInput& in, DeviceCore* model, uint32_t hangupAt)
        : in_(in), model_(model), hangupAt_(hangupAt) {
        if (model_) model_->Attach(this);
    }
    ~InputDevice() override {
        if (model_) model_->Attach(nullptr);
    }

    void OnOpen(SimLine& line) override {
        line_ = &line;
        if (model_) {
            model_->LineChanged(LineConfigOf(line.Settings()));
            model_->PowerOn(line.Now());
        } else {
            Answer();
        }
    }
    void OnClose() override {
        if (model_ && line_) model_->PowerOff(line_->Now());
        line_ = nullptr;
    }
    void OnLineSettings(const LineSettings& settings) override {
        if (model_) model_->LineChanged(LineConfigOf(settings));
    }
    void OnRts(bool high) override {
        if (!line_) return;
        if (model_) {
            model_->RtsChanged(high, line_->Now());
        } else if (!high) {
            Answer();
        }
    }
    void OnByte(uint8_t b) override {
        if (!line_) return;
        if (++written_ == hangupAt_) {
            line_->Hangup();
            return;
        }
        if (model_) {
            model_->Receive(b, line_->Now());
        } else {
            Answer();
        }
    }

    // A byte of the model, through the disturbed line.
    void Send(uint8_t byte, uint32_t atTick) override {
        if (!line_) return;
        const uint8_t op = in_.Byte();
        if (op < 160) {
            line_->Send(byte, atTick);
        } else if (op < 200) {
            line_->Send(byte, atTick + (op - 160u) * 150u);  // late, up to about 6 s
        } else if (op < 215) {
            // lost
        } else if (op < 235) {
            line_->Send(in_.Byte(), atTick);  // changed
        } else if (op < 250) {
            line_->Send(in_.Byte(), atTick);  // another byte first
            line_->Send(byte, atTick);
        } else {
            line_->Hangup();
        }
    }
    void Break(uint32_t atTick) override {
        if (line_) line_->SendBreak(atTick);
    }
    void Drop(uint32_t atTick) override {
        (void)atTick;
        if (line_) line_->Hangup();
    }

  private:
    // The input's answer to an event: nothing, or up to seven bytes after a pause.
    void Answer() {
        const uint8_t op = in_.Byte();
        if (op < 64) return;
        if (op == 0xFF) {
            line_->Hangup();
            return;
        }
        const uint32_t at = line_->Now() + (op >> 3 & 7u) * (op & 0x40 ? 1u : 900u);
        for (int i = 0; i < (op & 7); ++i) line_->Send(in_.Byte(), at);
    }

    FuzzInput& in_;
    DeviceCore* model_;
    uint32_t hangupAt_;
    uint32_t written_ = 0;
    SimLine* line_ = nullptr;
};

class Host : public FlashHost {
  public:
    Host(FuzzInput& in, std::string base) : base_(std::move(base)) {
        dane.SetPortName(ComPortName(2));
        dane.SetStopBits(sb2BITS);
        dane.SetHwFlow(hfNONE);
        dane.SetEnableDTROnOpen(false);
        stopAtPass_ = in.U16();
        stopAtTick_ = in.Below(kLatestStopMs);
        startAgainAtPass_ = in.U16();
        passCostMs_ = 1 + in.Byte() % 3;
        answerYes_ = in.Flag();
        static const char* const kPortBoxes[] = {
            "COM1", "COM2", "COM3", "Auto", "COM21", "/dev/tandel-none", "", "COM3 "};
        portBox_ = kPortBoxes[in.Byte() % 8];
        selected_ = in.Byte() % 8 == 0 ? "missing.bin" : "fw.bin";
    }

    TSerialPortDriver& Dane() override { return dane; }
    Clock& Time() override { return clock; }
    void LogClear() override { log.clear(); }
    void LogAppend(const std::string& line) override { log.push_back(line); }
    void SetProgressMax(int maximum) override { progressMax = maximum; }
    void SetProgress(int position) override {
        FUZZ_CHECK(position >= 0 && position <= kProgressMax, std::to_string(position));
    }
    void ProcessMessages() override {
        ++passes_;
        clock.Advance(passCostMs_);
        dane.PollTick();
        if (nested_) return;
        nested_ = true;
        if (passes_ == startAgainAtPass_) {
            const size_t before = log.size();
            run.Start(1);
            FUZZ_CHECK(log.size() == before, "a second START ran inside the run");
        }
        if (!stopped_ && (passes_ == stopAtPass_ || clock.TickMs() >= stopAtTick_)) {
            stopped_ = true;
            run.Stop();
            stopTick = clock.TickMs();
            opensAtStop = Opens();
            writtenAtStop = Written();
        }
        nested_ = false;
    }
    void PaintOnlyPass() override { clock.Advance(1); }
    bool Closing() const override { return false; }
    bool StopRequested() const override { return stop_; }
    void SetStopRequested(bool value) override { stop_ = value; }
    std::string PortBoxText() override { return portBox_; }
    std::string BaseDirectory() override { return base_; }
    std::string FirmwareFolder() override { return "."; }
    std::string SelectedFirmware() override { return selected_; }
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    void ShowOpenFailure(const std::string& text, const std::string&) override {
        messages.push_back(text);
    }
    bool AskYesNo(const std::string&, const std::string&) override { return answerYes_; }

    uint32_t Opens() const {
        uint32_t n = 0;
        for (int p = 1; p <= kPorts; ++p) n += backend.Record(ComPortName(p)).opens;
        return n;
    }
    size_t Written() const {
        size_t n = 0;
        for (int p = 1; p <= kPorts; ++p) n += backend.Record(ComPortName(p)).written.size();
        return n;
    }
    bool Stopped() const { return stopped_; }
    // The run is over: message passes no longer act for the input.
    void EndScript() { nested_ = true; }
    uint32_t LatestStop() const { return stopAtTick_; }

    VirtualClock clock;
    SimulatedBackend backend{clock};
    TSerialPortDriver dane{backend, clock};
    UpdateRun run{*this};
    std::vector<std::string> log;
    std::vector<std::string> messages;
    int progressMax = 0;
    uint32_t stopTick = 0;
    uint32_t opensAtStop = 0;
    size_t writtenAtStop = 0;

  private:
    std::string base_;
    uint32_t stopAtPass_;
    uint32_t stopAtTick_;
    uint32_t startAgainAtPass_;
    uint32_t passCostMs_;
    bool answerYes_;
    std::string portBox_;
    std::string selected_;
    uint32_t passes_ = 0;
    bool nested_ = false;
    bool stopped_ = false;
    bool stop_ = false;
};

// The designed and decided lines of the entries and the sequences.
bool IsDesignedLine(const std::string& line) {
    static const std::regex kLines(
        "SerialPort wolny\\.\\.\\.|Czekam na dane z serwera\\.\\.\\.|Reset\\.\\.\\.|"
        "COM:[0-9]+ [+-]|Nie wykryto serwera !!!|Błąd startu serwera !!!( \\[[0-9A-F]{2}\\])?|"
        "BOOT >> v[1-5]|Program obsługuje tylko urz(ą|a)dzenia Quorvant II|"
        "Tryb Boot dla (serwera|karty) aktywny\\.|Tryb Via Serwer aktywny\\.|"
        "Aktualnie masz wgrane oprogramowanie nr: [0-9]{1,3}|"
        "Inicjalizacja serwera\\.\\.\\. Czekaj \\(max 10sek\\)|"
        "SerialPort załączony : .*|Czekam na ATR\\.\\.\\.|Błąd : przekroczony czas oczekiwania|"
        "Błąd : ATR|Błąd : brak odpowiedzi urządzenia|Błąd : przerwano przez użytkownika|"
        "Błąd : SerialPort zamknięty|Błąd : utracono połączenie z portem szeregowym|"
        "Bit_lock : OK|Błąd bit_lock : [0-9A-F]{2}|Kasowanie flasha : OK|"
        "Bład kasowanie flasha : (PROCES|CRC|LOCK)|Zapis flasha\\.\\.\\.|Zapisu? flasha : OK|"
        "Błąd zapisu flasha : (CRC|PROCES)|[0-9A-F]{2}|Reset serwera : OK|"
        "Inicjalizacja karty(\\.\\.\\.| : OK)|Błąd Inicjalizacji karty :[0-9A-F]{2}|"
        "Bit_lock OFF : OK|Błąd bit_lock OFF: [0-9A-F]{2}");
    return std::regex_match(line, kLines);
}

// The write frames among the bytes written to a port go out for 0x0000, 0x0010, ... in that
// order and carry the image's records with their check byte.
void CheckWriteFrames(const std::vector<SimulatedBackend::ByteEntry>& written,
                      const FirmwareImage& image) {
    size_t next = 0;
    for (size_t i = 0; i < written.size();) {
        if (written[i].value != kFrameStart || i + 1 >= written.size()) {
            ++i;
            continue;
        }
        const size_t length = written[i + 1].value;
        const size_t end = i + length + 3;
        if (end > written.size()) break;  // cut short by STOP or a lost line
        if (length == kWriteFrameLength && written[i + 2].value == kCmdWriteFlash) {
            FUZZ_CHECK(next < kRecordCount, "more than 220 write frames");
            const WriteFrame expected = BuildWriteFrame(image, next);
            for (size_t k = 0; k < kWriteFrameSize; ++k)
                FUZZ_CHECK(written[i + k].value == expected[k],
                           "write frame " + std::to_string(next) + " byte " + std::to_string(k));
            ++next;
        }
        i = end;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string base = [] {
        const std::filesystem::path folder = FreshFolder("store");
        std::ofstream out(folder / "fw.bin", std::ios::binary);
        for (size_t k = 0; k < kSentImageBytes + 1; ++k) out.put(static_cast<char>(7 * k + 3));
        return folder.string();
    }();
    static const FirmwareImage image = LoadFirmwareImage(base, ".", "fw.bin");

    FuzzInput in(data, size);
    const uint8_t setup = in.Byte();
    const uint8_t kind = 1 + setup % 5;
    const bool modelled = (setup / 5) % 2 == 0;
    const int devicePort = 1 + in.Byte() % kPorts;
    const uint16_t hangup = in.U16();
    const uint32_t hangupAt = hangup < 0x8000 ? hangup : 0;  // 0: never
    const uint8_t others = in.Byte();

    // The models: a server (with a card behind it for kinds 3 and 5) or a card in a reader.
    std::unique_ptr<CardModel> card;
    std::unique_ptr<DeviceCore> model;
    if (modelled) {
        CardModel::Options cardOptions;
        cardOptions.inReader = kind == 4;
        card = std::make_unique<CardModel>(cardOptions);
        if (kind == 4) {
            model = std::move(card);
        } else {
            ServerModel::Options serverOptions;
            serverOptions.greetOnPowerOn = kind == 1;
            model = std::make_unique<ServerModel>(serverOptions, card.get());
        }
    }

    // The backend closes its ports when it ends, so the device outlives the host.
    InputDevice device(in, model.get(), hangupAt);
    Host host(in, base);
    for (int p = 1; p <= kPorts; ++p) {
        if (p == devicePort) {
            host.backend.AttachDevice(ComPortName(p), device);
            continue;
        }
        switch (others >> (2 * p) & 3) {
            case 0:
                host.backend.AddSilentPort(ComPortName(p));
                break;
            case 1:
                host.backend.AddPortInUse(ComPortName(p));
                break;
            default:
                break;  // absent
        }
    }

    const RunResult result = host.run.Start(kind);
    const bool loadFailed = result.end == RunEnd::Untouched && result.step == RunStep::Load;
    if (loadFailed) FUZZ_CHECK(result.loadError == "File not found", result.loadError);
    // The result says what the log says: programmed exactly when the last step succeeded,
    // damaged whenever an acknowledged erase was not followed by the whole image.
    const auto said = [&](const char* line) {
        return std::find(host.log.begin(), host.log.end(), line) != host.log.end();
    };
    const bool finished = said(kLineServerReset) || said(kLineBitLockOffOk);
    FUZZ_CHECK(finished == (result.end == RunEnd::Programmed),
               std::string("result ") + RunEndName(result.end));
    if (said("Kasowanie flasha : OK") && !finished)
        FUZZ_CHECK(result.end == RunEnd::Damaged, std::string("result ") + RunEndName(result.end));
    const uint32_t end = host.clock.TickMs();
    if (std::getenv("TANDEL_FUZZ_SHOW") != nullptr) {  // for reading a reproducer
        std::fprintf(stderr, "kind %d, %s, ended at %u ms, stop at %u ms\n", kind,
                     modelled ? "modelled" : "raw", end, host.Stopped() ? host.stopTick : 0);
        for (const std::string& line : host.log) std::fprintf(stderr, "  %s\n", line.c_str());
    }

    FUZZ_CHECK(end <= host.LatestStop() + kEndAfterStopMs,
               "the run took " + std::to_string(end) + " ms");
    if (host.Stopped()) {
        FUZZ_CHECK(end - host.stopTick <= kEndAfterStopMs, "the run went on after STOP");
        FUZZ_CHECK(host.Opens() == host.opensAtStop, "a port was opened after STOP");
        FUZZ_CHECK(host.Written() == host.writtenAtStop, "bytes were written after STOP");
    }
    // The via-server entry leaves the port open after a wrong answer to its probe, for the
    // next entry or STOP to close; so does a firmware file that cannot be loaded.
    const bool leftOpen = loadFailed || (!host.log.empty() && host.log.back().size() == 30 &&
                                         host.log.back().rfind(kWrongAnswer, 0) == 0);
    if (leftOpen && host.dane.IsPortOpen()) {
        host.EndScript();
        host.run.Stop();
        FUZZ_CHECK(host.log.back() == "SerialPort wolny...", "STOP did not release the port");
    }
    for (int p = 1; p <= kPorts; ++p)
        FUZZ_CHECK(!host.backend.IsOpen(ComPortName(p)), "port left open: " + ComPortName(p));
    for (const std::string& line : host.log) FUZZ_CHECK(IsDesignedLine(line), line);
    for (int p = 1; p <= kPorts; ++p)
        CheckWriteFrames(host.backend.Record(ComPortName(p)).written, image);
    host.dane.ClosePort();
    return 0;
}
