#include "TerminalFlashHost.h"

#include <QCoreApplication>
#include <cstdio>

#include "BaseDirectory.h"
#include "Platform.h"
#include "PortNames.h"
#include "Report.h"
#include "StopSignal.h"
#include "UpdateRun.h"

TerminalFlashHost::TerminalFlashHost(Report& report, Selection selection,
                                     const CliServices& services)
    : report_(report),
      selection_(std::move(selection)),
      services_(services),
      dane_(services.serialPorts, services.clock) {
    SetDriverDesignSettings(dane_);
}

Clock& TerminalFlashHost::Time() {
    return services_.clock;
}

// Output already printed stays: a terminal has no box to empty.
void TerminalFlashHost::LogClear() {
    lines_.clear();
}

namespace {

std::string Bytes(uint64_t count) {
    return std::to_string(count) + (count == 1 ? " byte" : " bytes");
}

// "9600 bit/s 8N2"
std::string SettingsText(const LineSettings& s) {
    static constexpr char kParity[] = "NOEMS";
    static constexpr const char* kStop[] = {"1", "1.5", "2"};
    return std::to_string(s.baudRate) + " bit/s " + std::to_string(s.byteSize) +
           kParity[s.parity < 5 ? s.parity : 0] + kStop[s.stopBits < 3 ? s.stopBits : 0];
}

}  // namespace

void TerminalFlashHost::NoteLine() {
    if (!report_.Verbose()) return;
    const uint64_t sent = dane_.BytesSent() - sentNoted_;
    const uint64_t received = dane_.BytesReceived() - receivedNoted_;
    if (sent != 0 || received != 0) {
        report_.LineEvent("line: sent " + Bytes(sent) + ", received " + Bytes(received));
        sentNoted_ += sent;
        receivedNoted_ += received;
    }
    if (dane_.IsPortOpen() != lineOpen_) {
        lineOpen_ = dane_.IsPortOpen();
        const auto path = ResolveSerialPortPath(dane_.PortName());
        const std::string port =
            "line: port " + dane_.PortName() + (path ? " = " + *path : std::string());
        report_.LineEvent(lineOpen_ ? port + " opened, " + SettingsText(dane_.BuildLineSettings())
                                    : port + " closed");
    }
}

void TerminalFlashHost::LogAppend(const std::string& line) {
    NoteLine();
    lines_.push_back(line);
    report_.Log(line);
}

void TerminalFlashHost::SetProgressMax(int maximum) {
    report_.ProgressMax(maximum);
}

void TerminalFlashHost::SetProgress(int position) {
    report_.Progress(position);
}

void TerminalFlashHost::ProcessMessages() {
    QCoreApplication::processEvents();
    if (dane_.IsPortOpen() != lineOpen_) NoteLine();
    ActOnSignal();
}

void TerminalFlashHost::ActOnSignal() {
    if (signalActed_ || StopSignal::Received() == 0 || run_ == nullptr) return;
    signalActed_ = true;
    run_->Stop();
}

// A terminal has nothing to paint and no window input to hold back: its one input, a stop
// signal, is looked at only in ProcessMessages, as the window replays a click only there.
void TerminalFlashHost::PaintOnlyPass() {
    QCoreApplication::processEvents();
}

std::string TerminalFlashHost::BaseDirectory() {
    return selection_.base.empty() ? ::BaseDirectory() : selection_.base;
}

void TerminalFlashHost::ShowMessage(const std::string& text) {
    messages_.push_back(text);
    report_.Message(text);
}

// The reason goes with the message into the JSON events and the log file; the run's result
// gives the reason line.
void TerminalFlashHost::ShowOpenFailure(const std::string& text, const std::string& reason) {
    messages_.push_back(text);
    report_.Message(reason.empty() ? text : text + "\n" + reason);
}

bool TerminalFlashHost::AskYesNo(const std::string&, const std::string& text) {
    const bool yes =
        selection_.yes || (StopSignal::Received() == 0 &&
                           AskOnTerminal(text, services_.err, services_.in, report_.Tag()));
    answeredNo_ = !yes;
    report_.Question(text, yes);
    return yes;
}

bool AskOnTerminal(const std::string& question, std::FILE* err, int in, const std::string& tag) {
    std::fprintf(err, "%s%s [t/N] ", tag.c_str(), question.c_str());
    std::fflush(err);
    std::string answer;
    for (char c = 0;;) {
        if (platform::ReadInputByte(in, c) <= 0 || c == '\n') break;
        answer += c;
    }
    if (StopSignal::Received() != 0) std::fputc('\n', err);
    for (char& c : answer) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    while (!answer.empty() && (answer.back() == '\r' || answer.back() == ' ')) answer.pop_back();
    return answer == "t" || answer == "tak" || answer == "y" || answer == "yes";
}
