#include "RunJournal.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QJsonDocument>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "Frames.h"
#include "PortDescription.h"

namespace {

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

// The journal is opened only as a regular file: not through a link at its name, and without
// waiting (a named pipe there would hold the run, or `history`, for ever). -1 with errno set;
// anything but a regular file gives EINVAL.
int OpenJournalFile(const std::string& path, int access) {
    int fd;
    do {
        fd = ::open(path.c_str(), access | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (errno == ELOOP || errno == ENXIO) errno = EINVAL;  // a link, a pipe nobody reads
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

std::string FileFailure(const std::string& path, int error) {
    return path + ": " + (error == EINVAL ? "not a regular file" : std::strerror(error));
}

// True when the file's last byte ends a line (or the file is empty): a record appended after
// a cut-off line (a power cut, a hand edit) must start a line of its own.
bool EndsWithNewline(int fd, off_t size) {
    char last = '\n';
    return size == 0 || ::pread(fd, &last, 1, size - 1) != 1 || last == '\n';
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
    QByteArray line = QJsonDocument(JournalRecord(run)).toJson(QJsonDocument::Compact) + '\n';
    const int fd = OpenJournalFile(path, O_RDWR | O_APPEND | O_CREAT);
    if (fd < 0) return FileFailure(path, errno);
    struct stat before {};
    std::string failure;
    if (::fstat(fd, &before) != 0) {
        failure = FileFailure(path, errno);
    } else {
        if (!EndsWithNewline(fd, before.st_size)) line.prepend('\n');
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
    const int fd = OpenJournalFile(path, O_RDONLY);
    if (fd < 0) {
        if (errno != ENOENT) error = FileFailure(path, errno);
        return records;
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        error = path + ": " + file.errorString().toStdString();
        return records;
    }
    while (!file.atEnd()) {
        const QJsonDocument line = QJsonDocument::fromJson(file.readLine());
        if (line.isObject()) records.push_back(line.object());
    }
    return records;
}
