#pragma once

#include <QElapsedTimer>
#include <QJsonObject>
#include <cstdio>
#include <string>
#include <string_view>

// Everything tandel-cli tells its user. The log lines go to standard output as they happen,
// as text or, with --json, as one JSON object per line; the progress of the write phase and
// the LiveUpdate connection state go to standard error only when it is a terminal (always
// as events with --json); a failure's reason is one line on standard error. With --log, the
// log lines, messages and the final reason are also appended to a file with an ISO time stamp.
// Text lines show control characters as \xNN (TerminalText.h), the log file drops them; a
// Record's text is the caller's to make safe, since its line breaks are its own.
class Report {
  public:
    // `out` and `err` stand for standard output and standard error.
    Report(bool json, std::FILE* out, std::FILE* err);
    ~Report();
    Report(const Report&) = delete;
    Report& operator=(const Report&) = delete;

    // Appends to `path` from now on, every line tagged "[tag]" after its time stamp, the first
    // one `header`; false (and the reason) when it cannot be opened. Only a regular file is
    // opened, not through a link at its name, without waiting. Finish closes the run there
    // with a result line. A line that cannot be written gets a note on standard error, once.
    bool OpenLogFile(const QString& path, std::string& reason, const std::string& tag = "-",
                     const std::string& header = {});
    bool Json() const { return json_; }
    // --verbose: the serial line's events go to standard error.
    void SetVerbose(bool verbose) { verbose_ = verbose; }
    bool Verbose() const { return verbose_; }
    // --quiet: only the command's result (its records, the result event) and its failure.
    void SetQuiet(bool quiet) { quiet_ = quiet; }
    // The port the run works on as the technician reads it ("COM1", "/dev/ttyUSB0", "auto",
    // then the port a search found): a failure's reason names it and every JSON event carries
    // it.
    void SetPort(const std::string& port) { port_ = port; }
    // --tag: every text line on standard output and standard error starts with "[tag] ", so
    // that the outputs of runs side by side stay apart (JSON events carry the port instead).
    void SetTag(const std::string& tag) { tag_ = tag.empty() ? tag : "[" + tag + "] "; }
    const std::string& Tag() const { return tag_; }
    // One event of the serial line, with --verbose.
    void LineEvent(const std::string& text);

    // One line of a run's log.
    void Log(const std::string& line);
    // The text of a message window of the run.
    void Message(const std::string& text);
    // The question of a run and its answer.
    void Question(const std::string& text, bool answer);
    // A remark of the program's own (not a line of the run's log): standard error, and an
    // event with --json.
    void Note(const std::string& text);
    // The connection state shown beside the LiveUpdate log.
    void Status(const std::string& text);
    // The write phase: its range, then positions in it.
    void ProgressMax(int maximum);
    void Progress(int position);
    // One record of a listing: `object` with --json, else `text` as a line.
    void Record(const QJsonObject& object, const std::string& text);
    // One record of a listing with --json, given as its JSON text (one line).
    void RecordJson(const std::string& json);
    // Ends the command: the reason of a failure on standard error, the result event with
    // --json. Returns `exitCode`.
    int Finish(int exitCode, const std::string& text = {});
    // Standard output is the command's result (a listing, the version, the help), the default:
    // when a line cannot be written there the command fails with exit 4, unless it failed
    // otherwise. A run's output is its log (flash, liveupdate): its status stays what the
    // device and the store came to. Either way standard error says what was lost.
    void SetOutputIsResult(bool result) { outputIsResult_ = result; }
    // Text written to standard output as it stands (the help), checked as a line is.
    void PrintText(std::string_view text);
    // Fields the result event carries besides ok, exit and reason (how a run ended).
    void SetResultDetail(QJsonObject detail) { resultDetail_ = std::move(detail); }

  private:
    void Emit(QJsonObject object);
    void Print(std::string_view line);
    // One line on standard error, the tag before it.
    void PrintError(const std::string& line);
    void ToLogFile(const std::string& line);
    void DrawProgress(int position);
    void EndProgressLine();

    bool json_;
    std::FILE* out_;
    std::FILE* err_;
    bool verbose_ = false;
    bool quiet_ = false;
    std::string port_;
    std::string tag_;
    bool errTerminal_;
    int columns_ = -1;      // the terminal's width as last asked; -1: not asked yet
    int drawnColumns_ = 0;  // how wide the progress line was drawn
    int logFd_ = -1;
    std::string logPath_;
    bool logFailed_ = false;
    std::string logTag_;
    int progressMax_ = 0;
    int progressPosition_ = -1;
    int drawnFrames_ = -1;
    bool progressShown_ = false;
    QElapsedTimer progressClock_;
    QJsonObject resultDetail_;
    bool outputIsResult_ = true;
    int outError_ = 0;  // why standard output could not be written (errno); 0 while it could
};
