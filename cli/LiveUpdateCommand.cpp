#include <QCoreApplication>
#include <QJsonObject>
#include <functional>
#include <map>
#include <stdexcept>
#include <utility>

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
    // Runs while a request waits for the network: a stop signal ends the request and the run
    // at once (what was examined before it is still stored, as the run stores it). There is
    // no window input to hold back.
    void PaintOnlyPass() override {
        QCoreApplication::processEvents();
        EndOnSignal();
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
        const Ticket ticket = http_.Start(url, cap, cutAtCap);
        urls_[ticket] = url;
        return ticket;
    }
    Ticket WaitAny() override { return http_.WaitAny(); }
    std::string Take(Ticket ticket) override {
        const std::string url = std::exchange(urls_[ticket], {});
        urls_.erase(ticket);
        return Watch(url, [&] { return http_.Take(ticket); });
    }
    void Drop(Ticket ticket) noexcept override {
        urls_.erase(ticket);
        http_.Drop(ticket);
    }
    void SetMaxTransfers(std::size_t transfers) override { http_.SetMaxTransfers(transfers); }
    void EndOfRun() noexcept override { http_.EndOfRun(); }
    void SetWaitPass(std::function<void()> pass) override { http_.SetWaitPass(std::move(pass)); }
    bool Failed() const { return failed_; }
    // The address of the request that failed.
    const std::string& FailedUrl() const { return failedUrl_; }

  private:
    template <typename F>
    std::string Watch(const std::string& url, F request) {
        try {
            return request();
        } catch (const std::runtime_error&) {
            failed_ = true;
            failedUrl_ = url;
            throw;
        }
    }
    HttpSource& http_;
    bool failed_ = false;
    std::string failedUrl_;
    std::map<Ticket, std::string> urls_;  // the address of each request under way
};

}  // namespace

int LiveUpdateCommand(Report& report, bool sequential) {
    std::vector<std::string> lines;
    try {
        lines = PrepareStore(BaseDirectory());
    } catch (const std::runtime_error& failure) {
        return report.Finish(kExitFileError, WithFullStop(failure.what()).toStdString());
    }

    TerminalLiveUpdateHost host(report, lines);
    HttpClient client;
    client.SetOnStatus([&report](THttpStatus status, const std::string&) {
        if (const auto text = StatusLabelText(status)) report.Status(*text);
        EndOnSignal();
    });
    WatchedHttp http(client);
    LiveUpdateSummary summary;
    try {
        LiveUpdateLimits limits;
        if (sequential) limits.transfers = 1;
        summary = RunLiveUpdate(host, http, limits);
    } catch (const Interrupted&) {
        return report.Finish(StopSignal::ExitStatus(), "LiveUpdate stopped");
    } catch (const std::runtime_error& failure) {
        const std::string reason = WithFullStop(QString::fromUtf8(failure.what())).toStdString();
        // The run's log keeps the window's text; the reason line names the address.
        if (http.Failed()) return report.Finish(kExitNetwork, reason + " (" + http.FailedUrl() + ")");
        return report.Finish(kExitFileError, reason);
    }
    report.SetResultDetail({{"stored", summary.stored},
                            {"present", summary.present},
                            {"refused", summary.refused},
                            {"skippedTypes", summary.skippedTypes}});
    const std::string counts = std::to_string(summary.stored) + " stored, " +
                               std::to_string(summary.present) + " present, " +
                               std::to_string(summary.refused) + " refused, " +
                               std::to_string(summary.skippedTypes) + " device types skipped";
    if (summary.refused > 0 || summary.skippedTypes > 0)
        return report.Finish(kExitSkipped, "done, but something was refused or skipped: " + counts);
    return report.Finish(kExitOk);
}
