#pragma once

#include <string>
#include <vector>

// What a programming run came to, from what it said: the exit status and, for a failure,
// the one line that gives its reason.
struct FlashOutcome {
    int exitCode = 0;
    std::string reason;
};

struct FlashRecord {
    std::vector<std::string> lines;     // the status log of the run
    std::vector<std::string> messages;  // its message windows
    bool answeredNo = false;            // the question was answered No
    int stopSignal = 0;                 // the signal that stopped it, 0 for none
    std::string portName;               // the driver's PortName when the run ended
    std::string portText;               // the port box text of the run
};

FlashOutcome JudgeFlashRun(const FlashRecord& record);
