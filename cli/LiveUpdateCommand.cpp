#include <QCoreApplication>
#include <QJsonObject>
#include <functional>
#include <stdexcept>
#include <utility>

#include "AddressWatch.h"
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
    AddressWatch http(client);
    LiveUpdateSummary summary;
    try {
        LiveUpdateLimits limits;
        if (sequential) limits.transfers = 1;
        summary = RunLiveUpdate(host, http, limits);
    } catch (const Interrupted&) {
        return report.Finish(StopSignal::ExitStatus(), "LiveUpdate stopped");
    } catch (const AddressWatch::Failure& failure) {
        // The run's log keeps the window's text; the reason line names the address.
        return report.Finish(kExitNetwork,
                             WithFullStop(QString::fromUtf8(failure.what())).toStdString() + " (" +
                                 failure.url + ")");
    } catch (const std::runtime_error& failure) {
        return report.Finish(kExitFileError, WithFullStop(failure.what()).toStdString());
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
