#include <QCoreApplication>
#include <stdexcept>

#include "BaseDirectory.h"
#include "Commands.h"
#include "DeviceConfig.h"
#include "ErrorText.h"
#include "ExitCodes.h"
#include "HttpClient.h"
#include "LiveUpdate.h"
#include "Report.h"
#include "StopSignal.h"

namespace {

// Thrown from the run's message processing when a stop signal came: the run ends there.
struct Interrupted {};

void EndOnSignal() {
    if (StopSignal::Received() != 0) throw Interrupted{};
}

// The LiveUpdate page as the terminal has it.
class TerminalLiveUpdateHost final : public LiveUpdateHost {
  public:
    TerminalLiveUpdateHost(Report& report, std::vector<std::string> lines)
        : report_(report), lines_(std::move(lines)) {}
    void LogClear() override {}
    void LogAppend(const std::string& line) override { report_.Log(line); }
    void ProcessMessages() override {
        QCoreApplication::processEvents();
        EndOnSignal();
    }
    void PaintOnlyPass() override {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    std::vector<std::string> DeviceTypeLines() override { return lines_; }
    std::string BaseDirectory() override { return ::BaseDirectory(); }

  private:
    Report& report_;
    std::vector<std::string> lines_;
};

// The HTTP client that tells its own failures apart from the run's file errors.
class WatchedHttp final : public HttpSource {
  public:
    explicit WatchedHttp(HttpSource& http) : http_(http) {}
    Ticket Start(const std::string& url, std::size_t cap, bool cutAtCap) override {
        return http_.Start(url, cap, cutAtCap);
    }
    Ticket WaitAny() override { return http_.WaitAny(); }
    std::string Take(Ticket ticket) override {
        return Watch([&] { return http_.Take(ticket); });
    }
    void Drop(Ticket ticket) noexcept override { http_.Drop(ticket); }
    void SetMaxTransfers(std::size_t transfers) override { http_.SetMaxTransfers(transfers); }
    void EndOfRun() noexcept override { http_.EndOfRun(); }
    bool Failed() const { return failed_; }

  private:
    template <typename F>
    std::string Watch(F request) {
        try {
            return request();
        } catch (const std::runtime_error&) {
            failed_ = true;
            throw;
        }
    }
    HttpSource& http_;
    bool failed_ = false;
};

}  // namespace

int LiveUpdateCommand(Report& report, bool sequential) {
    const std::string base = BaseDirectory();
    std::vector<std::string> lines;
    try {
        lines = LoadDeviceTypeLines(base);
    } catch (const std::runtime_error& failure) {
        return report.Finish(kExitFileError, WithFullStop(failure.what()).toStdString());
    }
    // As at the window's start-up: the run stores into the device folders.
    CreateDeviceFolders(base, lines);

    TerminalLiveUpdateHost host(report, lines);
    HttpClient client;
    client.SetOnStatus([&report](int code, const std::string&) {
        if (const auto text = StatusLabelText(code)) report.Status(*text);
        EndOnSignal();
    });
    WatchedHttp http(client);
    try {
        LiveUpdateLimits limits;
        if (sequential) limits.transfers = 1;
        RunLiveUpdate(host, http, limits);
    } catch (const Interrupted&) {
        return report.Finish(StopSignal::ExitStatus(), "LiveUpdate stopped");
    } catch (const std::runtime_error& failure) {
        const std::string reason = WithFullStop(QString::fromUtf8(failure.what())).toStdString();
        return report.Finish(http.Failed() ? kExitNetwork : kExitFileError, reason);
    }
    return report.Finish(kExitOk);
}
