#include "FlashOutcome.h"

#include <algorithm>
#include <csignal>

#include "BootEntries.h"
#include "BootLink.h"
#include "ExitCodes.h"
#include "PortDescription.h"
#include "PortSearch.h"
#include "Sequences.h"

namespace {

bool Contains(const std::vector<std::string>& lines, const char* text) {
    return std::find(lines.begin(), lines.end(), text) != lines.end();
}

bool IsFailureLine(const std::string& line) {
    return line.starts_with("Błąd") || line.starts_with("Bład");
}

// The device was programmed: the sequence's last step succeeded and the port was released.
bool Programmed(const std::vector<std::string>& lines) {
    const size_t n = lines.size();
    return n >= 2 && lines[n - 1] == kLinePortFree &&
           (lines[n - 2] == kLineServerReset || lines[n - 2] == kLineBitLockOffOk);
}

// The line that says why the run failed: its last failure line, else its last line that is
// not the port's release.
std::string FailureReason(const std::vector<std::string>& lines) {
    const auto failure = std::find_if(lines.rbegin(), lines.rend(), IsFailureLine);
    if (failure != lines.rend()) return *failure;
    const auto last = std::find_if(lines.rbegin(), lines.rend(),
                                   [](const std::string& line) { return line != kLinePortFree; });
    return last != lines.rend() ? *last : std::string("the run ended before programming");
}

}  // namespace

FlashOutcome JudgeFlashRun(const FlashRecord& record) {
    if (record.stopSignal != 0) {
        return {record.stopSignal == SIGTERM ? kExitTerminated : kExitInterrupted, kLineStopped};
    }
    if (Contains(record.messages, kLineOpenFailed)) {
        const std::string why =
            record.portName.empty()
                ? record.portText + ": no such port (COM1 to COM20 or a /dev path)"
                : OpenFailureReason(record.portName);
        return {kExitNoDevice, std::string(kLineOpenFailed) + " " + why};
    }
    if (Programmed(record.lines)) return {kExitOk, {}};
    if (record.answeredNo) return {kExitDeviceFailed, "answered No: the card was not programmed"};
    for (const char* absent : {kLineNoServer, kLineAtrTimeout, kLinePortLost}) {
        if (Contains(record.lines, absent)) return {kExitNoDevice, absent};
    }
    return {kExitDeviceFailed, FailureReason(record.lines)};
}
