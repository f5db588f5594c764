#include "RunJournal.h"

#include <QFile>
#include <QJsonDocument>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "Frames.h"
#include "Platform.h"
#include "PortDescription.h"

namespace {

QString Text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

// Why the journal at `path` could not be used: its reason, "not a regular file" for a link at
// its name, a pipe or anything else that is no regular file.
std::string FileFailure(const std::string& path, int error) {
    const bool notRegular = error == EINVAL || error == ELOOP || error == ENXIO;
    return path + ": " + (notRegular ? "not a regular file" : platform::ErrorText(error));
}

QJsonObject ResultObject(const RunResult& r) {
    QJsonObject result{
        {"end", RunEndName(r.end)}, {"step", RunStepName(r.step)}, {"wait", WaitEndName(r.wait)}};
    if (r.frame >= 0) result["frame"] = r.frame;
    if (r.reply) result["reply"] = Text(HexByte(*r.reply));
    if (r.stop != StopCause::None)
        result["stoppedBy"] = r.stop == StopCause::Stop ? "stop" : "closing";
    if (r.openError != 0) result["openError"] = Text(std::strerror(r.openError));
    if (!r.openHolder.empty()) result["heldBy"] = Text(r.openHolder);
    if (!r.loadError.empty()) result["loadError"] = Text(r.loadError);
    return result;
}

QJsonObject PortObject(const RunSelection& s, const RunResult& r) {
    QJsonObject port{{"text", Text(s.portBox)}, {"name", Text(r.portName)}};
    if (r.portName.empty()) return port;
    const PortDescription described = r.port.device.empty() ? DescribePortName(r.portName) : r.port;
    if (!described.device.empty()) port["path"] = Text(described.device);
    if (described.usb) {
        const UsbIdentity& usb = *described.usb;
        port["usb"] = QJsonObject{{"vendorId", Text(usb.vendorId)},
                                  {"productId", Text(usb.productId)},
                                  {"manufacturer", Text(usb.manufacturer)},
                                  {"product", Text(usb.product)},
                                  {"serial", Text(usb.serial)}};
    }
    return port;
}

}  // namespace

std::string JournalPath() {
    return platform::StateFolder() + platform::kPathSeparator + "journal.jsonl";
}

QJsonObject JournalRecord(const JournalRun& run) {
    const RunSelection& s = run.selection;
    QJsonObject firmware{{"name", Text(s.firmware)}, {"folder", Text(s.firmwareFolder)}};
    if (!run.result.firmwareSha256.empty()) {
        firmware["size"] = static_cast<qint64>(run.result.firmwareSize);
        firmware["sha256"] = Text(run.result.firmwareSha256);
    }
    if (!run.result.sentImageSha256.empty())
        firmware["sentImageSha256"] = Text(run.result.sentImageSha256);
    QJsonObject record{
        {"schema", 1},
        {"program", Text(run.program)},
        {"start", run.start.toUTC().toString(Qt::ISODateWithMs)},
        {"end", run.end.toUTC().toString(Qt::ISODateWithMs)},
        {"durationMs", run.start.msecsTo(run.end)},
        {"user", Text(platform::UserName())},
        {"host", Text(platform::HostName())},
        {"port", PortObject(s, run.result)},
        {"deviceType", Text(run.deviceType)},
        {"kind", run.kind},
        {"firmware", firmware},
        {"result", ResultObject(run.result)},
    };
    if (run.result.firmwareNumber) record["firmwareNumberBefore"] = *run.result.firmwareNumber;
    if (run.result.bootVersion) record["bootVersion"] = *run.result.bootVersion;
    return record;
}

std::string AppendToJournal(const JournalRun& run) {
    const std::string path = JournalPath();
    std::error_code ec;
    // The path is UTF-8 on every system (a plain std::string would be read in the locale's
    // code page on Windows).
    const std::filesystem::path journal(std::u8string(path.begin(), path.end()));
    std::filesystem::create_directories(journal.parent_path(), ec);
    const QByteArray line = QJsonDocument(JournalRecord(run)).toJson(QJsonDocument::Compact) + '\n';
    return platform::AppendWhole(path, std::string_view(line.constData(), line.size()));
}

std::string ForEachJournalRecord(const std::string& path,
                                 const std::function<void(const QJsonObject&)>& each) {
    // Only a regular file, not through a link at its name, without waiting (a named pipe there
    // would hold `history` for ever).
    platform::InputFile file;
    if (!file.Open(path, false))
        return file.Error() == ENOENT ? std::string() : FileFailure(path, file.Error());
    if (!file.IsRegular()) return FileFailure(path, EINVAL);
    QByteArray line;        // the line being read, up to its end
    bool overlong = false;  // the line being read is past any record's length: skipped
    const auto endLine = [&] {
        if (!overlong) {
            const QJsonDocument record = QJsonDocument::fromJson(line);
            if (record.isObject()) each(record.object());
        }
        line.clear();
        overlong = false;
    };
    char buffer[65536];
    for (long long n; (n = file.Read(buffer, sizeof buffer)) != 0;) {
        if (n < 0) return FileFailure(path, file.Error());
        for (const char* p = buffer; p < buffer + n;) {
            const char* end = static_cast<const char*>(std::memchr(p, '\n', buffer + n - p));
            const char* stop = end ? end : buffer + n;
            if (!overlong) {
                line.append(p, static_cast<qsizetype>(stop - p));
                if (static_cast<std::size_t>(line.size()) > kLongestJournalLine) {
                    overlong = true;
                    line.clear();
                }
            }
            if (!end) break;
            endLine();
            p = end + 1;
        }
    }
    endLine();  // a last line cut off before its line break
    return {};
}
