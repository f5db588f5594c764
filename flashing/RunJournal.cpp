#include "RunJournal.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonDocument>
#include <filesystem>

#include "FirmwareImage.h"
#include "Frames.h"
#include "Platform.h"
#include "PortDescription.h"

namespace {

// Firmware files are small; anything past this is not hashed.
constexpr uint64_t kHashBound = 64 * 1024 * 1024;

QString Text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

// Size and SHA-256 of a regular file, read without waiting and only up to the bound.
bool HashFile(const std::string& path, qint64& size, QString& sha256) {
    platform::InputFile file;
    if (!file.Open(path)) return false;
    bool ok = file.IsRegular() && file.Size() <= kHashBound;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    char buffer[65536];
    while (ok) {
        const long long n = file.Read(buffer, sizeof buffer);
        if (n < 0) ok = false;
        if (n <= 0) break;
        hash.addData(QByteArrayView(buffer, static_cast<qsizetype>(n)));
    }
    if (!ok) return false;
    size = static_cast<qint64>(file.Size());
    sha256 = QString::fromLatin1(hash.result().toHex());
    return true;
}

QJsonObject ResultObject(const RunResult& r) {
    QJsonObject result{{"end", RunEndName(r.end)}, {"step", RunStepName(r.step)},
                       {"wait", WaitEndName(r.wait)}};
    if (r.frame >= 0) result["frame"] = r.frame;
    if (r.reply) result["reply"] = Text(HexByte(*r.reply));
    if (r.stop != StopCause::None) result["stoppedBy"] = r.stop == StopCause::Stop ? "stop" : "closing";
    if (r.openError != 0) result["openError"] = Text(std::strerror(r.openError));
    if (!r.openHolder.empty()) result["heldBy"] = Text(r.openHolder);
    if (!r.loadError.empty()) result["loadError"] = Text(r.loadError);
    return result;
}

QJsonObject PortObject(const RunSelection& s, const RunResult& r) {
    QJsonObject port{{"text", Text(s.portBox)}, {"name", Text(r.portName)}};
    if (r.portName.empty()) return port;
    const PortDescription described =
        r.port.device.empty() ? DescribePortName(r.portName) : r.port;
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
    qint64 size = 0;
    QString sha256;
    if (HashFile(FirmwarePath(s.baseDirectory, s.firmwareFolder, s.firmware), size, sha256)) {
        firmware["size"] = size;
        firmware["sha256"] = sha256;
    }
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
    const QByteArray line =
        QJsonDocument(JournalRecord(run)).toJson(QJsonDocument::Compact) + '\n';
    return platform::AppendWhole(path, std::string_view(line.constData(), line.size()));
}

std::vector<QJsonObject> ReadJournal(const std::string& path, std::string& error) {
    std::vector<QJsonObject> records;
    QFile file(QString::fromStdString(path));
    if (!file.exists()) return records;
    if (!file.open(QIODevice::ReadOnly)) {
        error = path + ": " + file.errorString().toStdString();
        return records;
    }
    while (!file.atEnd()) {
        const QJsonDocument line = QJsonDocument::fromJson(file.readLine());
        if (line.isObject()) records.push_back(line.object());
    }
    return records;
}
