#include "RunJournal.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QFile>
#include <QJsonDocument>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "FirmwareImage.h"
#include "Frames.h"
#include "PortDescription.h"

namespace {

// Firmware files are small; anything past this is not hashed.
constexpr off_t kHashBound = 64 * 1024 * 1024;

QString Text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

std::string UserName() {
    if (const passwd* pw = ::getpwuid(::geteuid())) return pw->pw_name;
    return std::to_string(::geteuid());
}

std::string HostName() {
    char name[256] = {};
    return ::gethostname(name, sizeof name - 1) == 0 ? name : "";
}

// Size and SHA-256 of a regular file, read without waiting and only up to the bound.
bool HashFile(const std::string& path, qint64& size, QString& sha256) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kHashBound;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    char buffer[65536];
    while (ok) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        hash.addData(QByteArrayView(buffer, n));
    }
    ::close(fd);
    if (!ok) return false;
    size = st.st_size;
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
    const char* state = std::getenv("XDG_STATE_HOME");
    std::string dir;
    if (state != nullptr && state[0] == '/') {
        dir = state;
    } else {
        const char* home = std::getenv("HOME");
        dir = std::string(home != nullptr && home[0] != '\0' ? home : "/") + "/.local/state";
    }
    return dir + "/tandel/journal.jsonl";
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
        {"user", Text(UserName())},
        {"host", Text(HostName())},
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
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    const QByteArray line =
        QJsonDocument(JournalRecord(run)).toJson(QJsonDocument::Compact) + '\n';
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return path + ": " + std::strerror(errno);
    struct stat before {};
    std::string failure;
    if (::fstat(fd, &before) != 0 || !S_ISREG(before.st_mode)) {
        failure = path + ": not a regular file";
    } else {
        // One write: a line of another program's run never lands inside ours.
        ssize_t n;
        do {
            n = ::write(fd, line.constData(), static_cast<size_t>(line.size()));
        } while (n < 0 && errno == EINTR);
        if (n != line.size()) {
            failure = path + ": " + (n < 0 ? std::strerror(errno) : "disk full");
            if (n > 0) (void)!::ftruncate(fd, before.st_size);  // no half line stays
        } else if (::fsync(fd) != 0) {
            failure = path + ": " + std::strerror(errno);
        }
    }
    ::close(fd);
    return failure;
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
