#include "Report.h"

#include <QDateTime>
#include <QJsonDocument>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "ExitCodes.h"
#include "FirmwareImage.h"
#include "TerminalSystem.h"
#include "TerminalText.h"

namespace {

QString Text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

std::string MinutesSeconds(qint64 ms) {
    const qint64 s = (ms + 500) / 1000;
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(s / 60),
                  static_cast<long long>(s % 60));
    return text;
}

// The write phase's progress line after `frames` of the image's frames in `elapsedMs`, in at
// most `room` columns (no bound when `room` is 0 or less): the percentage first, then as much
// of "frame 17/220, 1173/15180 bytes, 0:03 elapsed, 0:17 left" as fits.
std::string ProgressLine(int frames, qint64 elapsedMs, int room) {
    const int total = static_cast<int>(kRecordCount);
    const std::string percent = std::to_string(frames * 100 / total) + "%";
    const std::string frame = " frame " + std::to_string(frames) + "/" + std::to_string(total);
    const std::string bytes = ", " + std::to_string(frames * static_cast<int>(kRecordSize)) + "/" +
                              std::to_string(static_cast<int>(kSentImageBytes)) + " bytes";
    const std::string elapsed = ", " + MinutesSeconds(elapsedMs) + " elapsed";
    const std::string left =
        ", " +
        (frames > 0 ? MinutesSeconds(elapsedMs * (total - frames) / frames) : std::string("?")) +
        " left";
    // From the whole line to the percentage alone, the first that fits; the time left goes
    // last, since it is what a technician looks for.
    const std::string candidates[] = {percent + frame + bytes + elapsed + left,
                                      percent + frame + elapsed + left, percent + frame + left,
                                      percent + frame, percent};
    for (const std::string& line : candidates) {
        if (room <= 0 || static_cast<int>(line.size()) <= room) return line;
    }
    return percent.substr(0, static_cast<size_t>(room));
}

}  // namespace

Report::Report(bool json, std::FILE* out, std::FILE* err)
    : json_(json), out_(out), err_(err), errTerminal_(IsTerminal(::fileno(err))) {}

Report::~Report() {
    CloseFile(logFd_);
}

bool Report::OpenLogFile(const QString& path, std::string& reason, const std::string& tag,
                         const std::string& header) {
    logPath_ = path.toStdString();
    logTag_ = tag;
    std::string why;
    logFd_ = OpenRegularFileForAppending(logPath_, why);
    if (logFd_ >= 0) {
        if (!header.empty()) ToLogFile(header);
        return true;
    }
    reason = "Cannot open file \"" + logPath_ + "\". " + why;
    return false;
}

void Report::Log(const std::string& line) {
    ToLogFile(line);
    if (quiet_) return;
    if (json_) {
        Emit({{"event", "log"}, {"text", Text(line)}});
    } else {
        EndProgressLine();
        Print(tag_ + ShownOnTerminal(line));
    }
}

void Report::Message(const std::string& text) {
    ToLogFile(text);
    if (json_ && !quiet_) Emit({{"event", "message"}, {"text", Text(text)}});
}

void Report::Question(const std::string& text, bool answer) {
    ToLogFile(text + (answer ? " TAK" : " NIE"));
    if (json_ && !quiet_) Emit({{"event", "question"}, {"text", Text(text)}, {"answer", answer}});
}

void Report::Note(const std::string& text) {
    ToLogFile(text);
    if (json_) {
        Emit({{"event", "note"}, {"text", Text(text)}});
    } else {
        PrintError("tandel-cli: " + text);
    }
}

void Report::Status(const std::string& text) {
    if (quiet_) return;
    if (json_) {
        Emit({{"event", "status"}, {"text", Text(text)}});
    } else if (errTerminal_) {
        PrintError("[" + ShownOnTerminal(text) + "]");
    }
}

void Report::ProgressMax(int maximum) {
    progressMax_ = maximum;
    progressPosition_ = -1;
    drawnFrames_ = -1;
    progressClock_.start();
}

void Report::Progress(int position) {
    if (position == progressPosition_ || quiet_) return;
    progressPosition_ = position;
    if (json_) {
        Emit({{"event", "progress"}, {"position", position}, {"max", progressMax_}});
    } else if (errTerminal_) {
        DrawProgress(position);
    }
}

// The progress line, drawn again in place whenever another frame is done or the terminal's
// width changed. It stays short of the last column, so that it never wraps and a carriage
// return always reaches its start.
void Report::DrawProgress(int position) {
    if (progressMax_ <= 0) return;
    const int total = static_cast<int>(kRecordCount);
    const int frames = std::clamp(
        static_cast<int>(static_cast<long long>(position) * total / progressMax_), 0, total);
    const bool resized = TakeTerminalResize();
    if (frames == drawnFrames_ && !resized) return;
    drawnFrames_ = frames;
    if (resized || columns_ < 0) columns_ = TerminalColumns(::fileno(err_));
    std::string erase = "\r\033[K";
    if (progressShown_ && columns_ > 0 && drawnColumns_ > columns_) {
        // A terminal that narrowed under the line wrapped it onto more rows: back to the
        // first of them, and everything below goes.
        erase = "\r\033[" + std::to_string((drawnColumns_ - 1) / columns_) + "A\033[J";
    }
    const int room = columns_ > 0 ? std::max(1, columns_ - 1 - static_cast<int>(tag_.size())) : 0;
    std::string line = tag_ + ProgressLine(frames, progressClock_.elapsed(), room);
    if (columns_ > 0 && static_cast<int>(line.size()) >= columns_) line.resize(columns_ - 1);
    std::fputs((erase + line).c_str(), err_);
    std::fflush(err_);
    drawnColumns_ = static_cast<int>(line.size());
    progressShown_ = true;
}

// The progress line stays on the screen as it was last drawn; what follows starts below it.
void Report::EndProgressLine() {
    if (!progressShown_) return;
    std::fputc('\n', err_);
    progressShown_ = false;
}

void Report::LineEvent(const std::string& text) {
    if (!verbose_) return;
    PrintError("tandel-cli: " + text);
}

void Report::Record(const QJsonObject& object, const std::string& text) {
    if (json_)
        Emit(object);
    else
        Print(tag_ + text);
}

void Report::RecordJson(const std::string& json) {
    Print(json);
}

int Report::Finish(int exitCode, const std::string& text) {
    EndProgressLine();
    std::string reason = text;  // one line, whatever the system's text holds
    std::replace(reason.begin(), reason.end(), '\n', ' ');
    // Runs side by side each say which port failed.
    if (!port_.empty() && !reason.empty() && reason.find(port_) == std::string::npos)
        reason = port_ + ": " + reason;
    const auto outputLost = [this] {
        return "standard output not written: " + std::string(std::strerror(outError_));
    };
    if (outError_ != 0 && exitCode == 0 && outputIsResult_) {
        exitCode = kExitFileError;
        reason = outputLost();
    }
    if (exitCode != 0 && !reason.empty()) {
        ToLogFile(reason);
        PrintError("tandel-cli: " + ShownOnTerminal(reason));
    }
    if (json_) {
        QJsonObject result{
            {"event", "result"}, {"schema", 1}, {"ok", exitCode == 0}, {"exit", exitCode}};
        if (exitCode != 0 && !reason.empty()) result["reason"] = Text(reason);
        for (auto it = resultDetail_.begin(); it != resultDetail_.end(); ++it)
            result[it.key()] = it.value();
        Emit(result);
    }
    // Lines of a run's log, or the result event itself, that were lost are said; a run's
    // status stays what the device and the store came to.
    if (outError_ != 0 && reason != outputLost()) {
        ToLogFile(outputLost());
        PrintError("tandel-cli: " + outputLost());
        if (exitCode == 0 && outputIsResult_) exitCode = kExitFileError;
    }
    ToLogFile("result: exit " + std::to_string(exitCode) + (exitCode == 0 ? " (ok)" : " (failed)"));
    return exitCode;
}

void Report::Emit(QJsonObject object) {
    if (!port_.empty() && !object.contains("port")) object["port"] = Text(port_);
    const QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact);
    object = {};
    Print(std::string_view(line.constData(), static_cast<std::size_t>(line.size())));
}

void Report::Print(std::string_view line) {
    std::string text(line);
    text += '\n';
    PrintText(text);
}

void Report::PrintText(std::string_view text) {
    if (outError_ != 0) return;  // a closed pipe or a full disk stays so: told once, at the end
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), out_) != text.size() || std::fflush(out_) != 0)
        outError_ = errno != 0 ? errno : EIO;
}

void Report::PrintError(const std::string& line) {
    EndProgressLine();
    std::fprintf(err_, "%s%s\n", tag_.c_str(), line.c_str());
    std::fflush(err_);
}

void Report::ToLogFile(const std::string& line) {
    if (logFd_ < 0) return;
    const QByteArray stamp = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toUtf8();
    const QByteArray text = stamp + " [" + QByteArray::fromStdString(logTag_) + "] " +
                            QByteArray::fromStdString(WithoutControls(line)) + '\n';
    // One write per line: lines of runs side by side in one file stay whole.
    const std::string failure =
        WriteWhole(logFd_, std::string_view(text.constData(), static_cast<size_t>(text.size())));
    if (failure.empty() || logFailed_) return;
    logFailed_ = true;  // told once; the run goes on
    PrintError("tandel-cli: log file not written: " + ShownOnTerminal(logPath_) + ": " + failure);
}
