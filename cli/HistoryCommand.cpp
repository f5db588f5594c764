#include <QDateTime>
#include <QJsonObject>

#include "Commands.h"
#include "ExitCodes.h"
#include "PortNames.h"
#include "Report.h"
#include "RunJournal.h"
#include "TerminalText.h"

namespace {

// A port matches by its text as given, its COMn name (com1 is COM1, as --port of flash reads
// it) or its device path.
bool PortMatches(const QJsonObject& port, const std::string& wanted) {
    const std::string text = port["text"].toString().toStdString();
    const std::string name = port["name"].toString().toStdString();
    const std::string shown = ShownPortText(wanted);
    return text == wanted || ShownPortText(text) == shown || ShownPortName(name) == shown ||
           name == wanted || port["path"].toString().toStdString() == wanted;
}

// A journal time (UTC) in local time with its offset, the zone --since reads:
// "2026-12-09T20:50:00+01:00".
QString LocalTime(const QDateTime& utc) {
    const QDateTime local = utc.toLocalTime();
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODate);
}

// The journal's strings came from outside (port texts, USB serial numbers, file names): the
// line shows their control characters as \xNN, one run on one line.
std::string Line(const QJsonObject& r, const QDateTime& start) {
    const QJsonObject port = r["port"].toObject();
    const QJsonObject firmware = r["firmware"].toObject();
    const QJsonObject result = r["result"].toObject();
    QString text = (start.isValid() ? LocalTime(start) : r["start"].toString()) + " " +
                   r["user"].toString() + "@" + r["host"].toString() + " " +
                   port["text"].toString();
    const QJsonObject usb = port["usb"].toObject();
    if (!usb["serial"].toString().isEmpty()) text += " (serial " + usb["serial"].toString() + ")";
    text += " \"" + r["deviceType"].toString() + "\" " + firmware["name"].toString();
    if (r.contains("firmwareNumberBefore"))
        text += " (was " + QString::number(r["firmwareNumberBefore"].toInt()) + ")";
    text += ": " + result["end"].toString();
    if (result["end"].toString() != "programmed") {
        text += " at " + result["step"].toString();
        if (result.contains("frame")) text += " frame " + QString::number(result["frame"].toInt());
        if (result.contains("reply")) text += " reply 0x" + result["reply"].toString();
    }
    return ShownOnTerminal(text.toStdString());
}

}  // namespace

int HistoryCommand(Report& report, const HistoryRequest& request) {
    QDateTime since;
    if (!request.since.empty()) {
        since = QDateTime::fromString(QString::fromStdString(request.since), Qt::ISODate);
        if (!since.isValid()) {
            return report.Finish(kExitUsage, "--since " + request.since +
                                                 ": not a date (2026-12-09 or 2026-12-09T14:00)");
        }
    }
    const std::string error = ForEachJournalRecord(JournalPath(), [&](const QJsonObject& r) {
        const QDateTime start = QDateTime::fromString(r["start"].toString(), Qt::ISODateWithMs);
        if (since.isValid() && start < since) return;
        if (!request.port.empty() && !PortMatches(r["port"].toObject(), request.port)) return;
        QJsonObject event = r;
        event["event"] = "run";
        report.Record(event, Line(r, start));
    });
    // Records printed before a read failure stand; the status says the listing is short.
    return error.empty() ? report.Finish(kExitOk) : report.Finish(kExitFileError, error);
}
