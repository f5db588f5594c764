#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <functional>
#include <string>

#include "BootLink.h"
#include "RunResult.h"

// The programming journal: one JSON line per programming run, from the window and from the
// command line alike, in $XDG_STATE_HOME/tandel/journal.jsonl (~/.local/state/tandel/ when
// the variable is not set; %LOCALAPPDATA%\tandel\journal.jsonl on Windows), so that a service shop can tell what was written into which
// device, when and by whom.

// Every field is what the run took at START, or what it found and loaded itself: a choice
// changed in the window during the run, or a file replaced under its name, changes nothing.
struct JournalRun {
    std::string program;     // "tandel" or "tandel-cli"
    std::string deviceType;  // the device type's text as the list showed it at START (UTF-8)
    int kind = 0;            // the device kind at START
    RunSelection selection;  // what the run took at START
    RunResult result;        // with the firmware file's size and hashes as the run loaded it
    QDateTime start;
    QDateTime end;
};

std::string JournalPath();

// The line's object: times, user and host, the port (text, name, path and the adapter's USB
// identity), the device type, the firmware file (name, folder; once loaded its size and
// SHA-256, and sentImageSha256, the SHA-256 of the 15180-byte image the write frames carry),
// the firmware number the device reported and how the run ended.
QJsonObject JournalRecord(const JournalRun& run);

// Appends the run's line whole or not at all, on a line of its own, and flushes it to disk.
// The journal is opened only as a regular file, not through a link, without waiting. Empty on
// success, otherwise why it was not written. Never throws.
std::string AppendToJournal(const JournalRun& run);

// Hands the journal's records to `each` in order, one at a time, so that a journal of years
// is read in little memory; a line that is no JSON object, or longer than any record can be
// (kLongestJournalLine), is skipped. Returns why the journal could not be read, empty when
// it was read or does not exist yet; it is read only when it is a regular file.
constexpr std::size_t kLongestJournalLine = 1 << 20;
std::string ForEachJournalRecord(const std::string& path,
                                 const std::function<void(const QJsonObject&)>& each);
