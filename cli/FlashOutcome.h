#pragma once

#include <string>

#include "RunResult.h"

// What a programming run came to for the terminal: the exit status and, for a failure, the
// one line that gives its reason.
struct FlashOutcome {
    int exitCode = 0;
    std::string reason;
};

// `stopSignal` is the signal that stopped the run (0 for none); `portText` the run's port text.
FlashOutcome JudgeFlashRun(const RunResult& result, int stopSignal, const std::string& portText);
