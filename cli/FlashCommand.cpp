#include <QDateTime>
#include <QJsonObject>
#include <algorithm>
#include <stdexcept>

#include "BaseDirectory.h"
#include "CliServices.h"
#include "Commands.h"
#include "DeviceType.h"
#include "ErrorText.h"
#include "Platform.h"
#include "ExitCodes.h"
#include "FirmwareArgument.h"
#include "FirmwareImage.h"
#include "FlashOutcome.h"
#include "PortNames.h"
#include "Report.h"
#include "RunJournal.h"
#include "StopSignal.h"
#include "TerminalFlashHost.h"
#include "TerminalSystem.h"
#include "UpdateRun.h"

namespace {


std::string FullStop(const std::string& text) {
    return WithFullStop(QString::fromStdString(text)).toStdString();
}

// "no device type "X" in init.cfg; it has: "A", "B"" (the names --type takes).
std::string UnknownType(const std::vector<DeviceType>& types, const std::string& name) {
    std::string reason = "no device type \"" + name + "\" in init.cfg";
    if (types.empty()) return reason + "; it has none";
    for (size_t i = 0; i < types.size(); ++i) {
        reason += (i == 0 ? "; it has: \"" : ", \"") + types[i].text + "\"";
    }
    return reason;
}

// Fills folder and kind from --type; an empty text on success.
std::string ResolveType(FlashRequest& request, int& exitCode) {
    if (request.type.empty()) return {};
    std::vector<DeviceType> types;
    try {
        types = LoadDeviceTypes(BaseDirectory());
    } catch (const std::runtime_error& failure) {
        exitCode = kExitFileError;
        return FullStop(failure.what());
    }
    const DeviceType* type = FindDeviceType(types, request.type);
    exitCode = kExitUsage;
    if (type == nullptr) return UnknownType(types, request.type);
    if (!type->kind) return FullStop(type->kindError);
    request.type = type->text;
    request.folder = type->folder;
    request.kind = *type->kind;
    return {};
}

// The checks that come before any port is opened, common to flash and info: the type, the
// kind and the port the technician named. An exit status (with the reason reported) when the
// run must not start, 0 otherwise.
int CheckRequest(Report& report, FlashRequest& request) {
    int exitCode = kExitOk;
    if (std::string reason = ResolveType(request, exitCode); !reason.empty()) {
        return report.Finish(exitCode, reason);
    }
    if (!IsDeviceKind(request.kind)) {
        return report.Finish(kExitUsage, "device kind " + std::to_string(request.kind) +
                                             ": only kinds 1 to 5 are programmed");
    }
    // The port is the one the technician named: kinds 1, 3 and 4 need --port, kinds 2 and 5
    // search when it is absent or "auto".
    const bool searches = KindSearchesPort(request.kind);
    const bool autoPort =
        request.port && (*request.port == "auto" || *request.port == kAutoPortText);
    if (request.port && request.port->empty()) {
        return report.Finish(kExitUsage, "--port is empty: name the port (COM1 to COM20 or " +
                                                 std::string(platform::kDevicePathText) + ")");
    }
    if (searches) {
        if (request.port && !autoPort) {
            return report.Finish(kExitUsage, "--port " + *request.port +
                                                 ": kinds 2 and 5 search the port themselves "
                                                 "(leave --port out or give auto)");
        }
        request.port = kAutoPortText;
    } else if (!request.port) {
        return report.Finish(kExitUsage,
                             "--port is missing: device kind " + std::to_string(request.kind) +
                                 " is programmed on the port you name (COM1 to COM20 or " +
                                     platform::kDevicePathText + ")");
    } else if (autoPort) {
        return report.Finish(kExitUsage, "--port auto: only kinds 2 and 5 search the port");
    }
    return kExitOk;
}

// The port a run worked on as the technician reads it: the port a search found, else the
// port named.
std::string RunPort(const RunResult& result, const std::string& named) {
    const bool found = result.step != RunStep::Port && result.step != RunStep::Search &&
                       result.step != RunStep::Load && !result.portName.empty();
    return found ? ShownPortName(result.portName) : named;
}

// The run's result as the result event's fields: how it ended, and what the journal keeps of
// it: the port and its device path, the device type, the firmware file with its size and
// SHA-256 (`withFile`), the firmware number read before ("before").
void ReportResult(Report& report, const JournalRun& run, bool withFile) {
    const RunResult& result = run.result;
    QJsonObject detail{{"result", RunEndName(result.end)}, {"step", RunStepName(result.step)}};
    if (result.frame >= 0) detail["frame"] = result.frame;
    if (result.reply) detail["reply"] = QString::fromStdString(HexByte(*result.reply));
    if (result.firmwareNumber) detail["firmwareNumber"] = *result.firmwareNumber;
    const QJsonObject record = JournalRecord(run);
    const QJsonObject port = record["port"].toObject();
    detail["port"] = QString::fromStdString(RunPort(result, run.selection.portBox));
    for (const char* field : {"path", "usb"}) {
        if (port.contains(field)) detail[field] = port[field];
    }
    detail["deviceType"] = record["deviceType"];
    detail["kind"] = record["kind"];
    if (withFile) detail["firmware"] = record["firmware"];
    if (result.firmwareNumber) detail["before"] = *result.firmwareNumber;
    report.SetResultDetail(detail);
}

// How the run ended for the exit status and reason. A wait that reached its bound ended the
// run as STOP does; its reason says so, not that a user stopped it.
FlashOutcome Judge(const RunResult& result, const FlashRequest& request) {
    FlashOutcome outcome = JudgeFlashRun(result, StopSignal::Received(), *request.port);
    if (result.end == RunEnd::Stopped && result.wait == WaitEnd::Expired &&
        StopSignal::Received() == 0) {
        outcome.reason = "time-out after " + std::to_string(request.timeoutSeconds) + " s";
        if (request.timeoutIsDefault)
            outcome.reason += " (the limit without a terminal; --timeout SECONDS sets another)";
    }
    return outcome;
}

// The port named on the command line as the messages write it, and --tag.
void TakePort(Report& report, FlashRequest& request) {
    if (request.port) *request.port = ShownPortText(*request.port);
    if (request.tag) report.SetTag(request.port ? *request.port : "auto");
}

// Said once on a terminal before a wait that has no time limit of its own begins.
void NoteWait(Report& report, const FlashRequest& request) {
    if (!request.noteWait) return;
    if (request.kind == 1) {
        report.Note("waiting for the server on " + *request.port +
                    " to greet without a time limit: switch it on; Ctrl+C stops "
                    "(--timeout SECONDS sets a limit)");
    } else if (request.kind == 3 || request.kind == 5) {
        report.Note(
            "waiting for the server to take the via-server mode without a time limit; "
            "Ctrl+C stops (--timeout SECONDS sets a limit)");
    }
}

}  // namespace

int FlashCommand(Report& report, FlashRequest request, const CliServices& services) {
    TakePort(report, request);
    if (const int refused = CheckRequest(report, request); refused != kExitOk) return refused;
    report.SetPort(*request.port);
    if (request.kind == 4 && !request.yes && !IsTerminal(services.in)) {
        return report.Finish(kExitUsage,
                             "a card in a reader asks before it is written: answer with --yes "
                             "when no terminal is there to ask");
    }
    if (std::string reason = CheckFirmware(request.folder, request.firmware); !reason.empty()) {
        return report.Finish(kExitFileError, reason);
    }
    if (StopSignal::Received() != 0) return report.Finish(StopSignal::ExitStatus(), kLineStopped);
    NoteWait(report, request);

    const FirmwareLocation file = LocateFirmware(request.folder, request.firmware);
    TerminalFlashHost host(report, {file.folder, file.entry, *request.port, request.yes, file.base},
                           services);
    LinkBounds bounds;
    if (request.timeoutSeconds > 0) bounds.unboundedWaitMs = request.timeoutSeconds * 1000u;
    UpdateRun run(host, bounds);
    host.SetRun(&run);
    const QDateTime start = QDateTime::currentDateTimeUtc();
    const RunResult result = run.Start(static_cast<uint8_t>(request.kind));
    const JournalRun journal{"tandel-cli",
                             request.type.empty() ? request.folder : request.type,
                             request.kind,
                             run.Selection(),
                             result,
                             start,
                             QDateTime::currentDateTimeUtc()};
    report.SetPort(RunPort(result, *request.port));
    if (result.end != RunEnd::NotRun) {
        const std::string failure = AppendToJournal(journal);
        if (!failure.empty()) report.Note("journal not written: " + failure);
    }
    // A file that failed to load leaves the port open, as the window leaves it after its
    // error box; the terminal has no next run to close it.
    host.Dane().ClosePort();
    host.NoteLine();
    host.ActOnSignal();  // a signal during the last steps still frees the port
    FlashOutcome outcome = Judge(result, request);
    ReportResult(report, journal, true);
    if (outcome.exitCode == kExitFileError) outcome.reason = FullStop(outcome.reason);
    return report.Finish(outcome.exitCode, outcome.reason);
}

int InfoCommand(Report& report, FlashRequest request, const CliServices& services) {
    TakePort(report, request);
    if (const int refused = CheckRequest(report, request); refused != kExitOk) return refused;
    report.SetPort(*request.port);
    if (request.kind == 3 || request.kind == 5) {
        return report.Finish(kExitUsage,
                             "device kind " + std::to_string(request.kind) +
                                 ": a card behind the server tells no firmware number before "
                                 "it is written");
    }
    if (StopSignal::Received() != 0) return report.Finish(StopSignal::ExitStatus(), kLineStopped);
    NoteWait(report, request);

    TerminalFlashHost host(report, {request.folder, {}, *request.port, false, {}}, services);
    LinkBounds bounds;
    if (request.timeoutSeconds > 0) bounds.unboundedWaitMs = request.timeoutSeconds * 1000u;
    UpdateRun run(host, bounds);
    host.SetRun(&run);
    const QDateTime start = QDateTime::currentDateTimeUtc();
    const RunResult result = run.Identify(static_cast<uint8_t>(request.kind));
    host.Dane().ClosePort();
    host.ActOnSignal();
    report.SetPort(RunPort(result, *request.port));
    ReportResult(report,
                 {"tandel-cli", request.type.empty() ? request.folder : request.type, request.kind,
                  run.Selection(), result, start, QDateTime::currentDateTimeUtc()},
                 false);
    if (result.firmwareNumber && StopSignal::Received() == 0) {
        report.Record(QJsonObject{{"event", "info"}, {"firmwareNumber", *result.firmwareNumber}},
                      "firmware number: " + std::to_string(*result.firmwareNumber));
        return report.Finish(kExitOk);
    }
    const FlashOutcome outcome = Judge(result, request);
    return report.Finish(outcome.exitCode == kExitOk ? kExitNoDevice : outcome.exitCode,
                         outcome.reason);
}
