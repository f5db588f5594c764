#include "Report.h"

#include <QDateTime>
#include <QJsonDocument>
#include <algorithm>
#include <cstdio>

#include "FirmwareImage.h"
#include "Platform.h"
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

}  // namespace

Report::Report(bool json, std::FILE* out, std::FILE* err)
    : json_(json), out_(out), err_(err), errTerminal_(platform::IsTerminal(err)) {}

bool Report::OpenLogFile(const QString& path, std::string& reason, const std::string& tag,
                         const std::string& header) {
    logFile_.setFileName(path);
    logTag_ = tag;
    if (logFile_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        if (!header.empty()) ToLogFile(header);
        return true;
    }
    reason =
        "Cannot open file \"" + path.toStdString() + "\". " + logFile_.errorString().toStdString();
    return false;
}

void Report::Log(const std::string& line) {
    ToLogFile(line);
    if (json_) {
        Emit({{"event", "log"}, {"text", Text(line)}});
    } else {
        EndProgressLine();
        Print(ShownOnTerminal(line));
    }
}

void Report::Message(const std::string& text) {
    ToLogFile(text);
    if (json_) Emit({{"event", "message"}, {"text", Text(text)}});
}

void Report::Question(const std::string& text, bool answer) {
    ToLogFile(text + (answer ? " TAK" : " NIE"));
    if (json_) Emit({{"event", "question"}, {"text", Text(text)}, {"answer", answer}});
}

void Report::Note(const std::string& text) {
    ToLogFile(text);
    if (json_) {
        Emit({{"event", "note"}, {"text", Text(text)}});
    } else {
        EndProgressLine();
        std::fprintf(err_, "tandel-cli: %s\n", text.c_str());
    }
}

void Report::Status(const std::string& text) {
    if (json_) {
        Emit({{"event", "status"}, {"text", Text(text)}});
    } else if (errTerminal_) {
        EndProgressLine();
        std::fprintf(err_, "[%s]\n", ShownOnTerminal(text).c_str());
    }
}

void Report::ProgressMax(int maximum) {
    progressMax_ = maximum;
    progressPosition_ = -1;
    drawnFrames_ = -1;
    progressClock_.start();
}

void Report::Progress(int position) {
    if (position == progressPosition_) return;
    progressPosition_ = position;
    if (json_) {
        Emit({{"event", "progress"}, {"position", position}, {"max", progressMax_}});
    } else if (errTerminal_) {
        DrawProgress(position);
    }
}

// "frame 17/220, 1173/15180 bytes, 0:03 elapsed, 0:17 left", drawn again in place whenever
// another frame is done.
void Report::DrawProgress(int position) {
    if (progressMax_ <= 0) return;
    const int total = static_cast<int>(kRecordCount);
    const int frames = std::clamp(
        static_cast<int>(static_cast<long long>(position) * total / progressMax_), 0, total);
    if (frames == drawnFrames_) return;
    drawnFrames_ = frames;
    const qint64 elapsed = progressClock_.elapsed();
    const std::string left =
        frames > 0 ? MinutesSeconds(elapsed * (total - frames) / frames) : std::string("?");
    std::fprintf(err_, "\r\033[Kframe %d/%d, %d/%d bytes, %s elapsed, %s left", frames, total,
                 frames * static_cast<int>(kRecordSize), static_cast<int>(kSentImageBytes),
                 MinutesSeconds(elapsed).c_str(), left.c_str());
    std::fflush(err_);
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
    EndProgressLine();
    std::fprintf(err_, "tandel-cli: %s\n", text.c_str());
    std::fflush(err_);
}

void Report::Record(const QJsonObject& object, const std::string& text) {
    if (json_)
        Emit(object);
    else
        Print(text);
}

void Report::RecordJson(const std::string& json) {
    Print(json);
}

int Report::Finish(int exitCode, const std::string& text) {
    EndProgressLine();
    std::string reason = text;  // one line, whatever the system's text holds
    std::replace(reason.begin(), reason.end(), '\n', ' ');
    if (exitCode != 0 && !reason.empty()) {
        ToLogFile(reason);
        std::fprintf(err_, "tandel-cli: %s\n", ShownOnTerminal(reason).c_str());
        std::fflush(err_);
    }
    ToLogFile("result: exit " + std::to_string(exitCode) + (exitCode == 0 ? " (ok)" : " (failed)"));
    if (json_) {
        QJsonObject result{
            {"event", "result"}, {"schema", 1}, {"ok", exitCode == 0}, {"exit", exitCode}};
        if (exitCode != 0 && !reason.empty()) result["reason"] = Text(reason);
        for (auto it = resultDetail_.begin(); it != resultDetail_.end(); ++it)
            result[it.key()] = it.value();
        Emit(result);
    }
    return exitCode;
}

void Report::Emit(QJsonObject object) {
    const QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact);
    object = {};
    Print(std::string_view(line.constData(), static_cast<std::size_t>(line.size())));
}

void Report::Print(std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
}

void Report::ToLogFile(const std::string& line) {
    if (!logFile_.isOpen()) return;
    const QByteArray stamp = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toUtf8();
    logFile_.write(stamp + " [" + QByteArray::fromStdString(logTag_) + "] " +
                   QByteArray::fromStdString(WithoutControls(line)) + '\n');
    logFile_.flush();
}
