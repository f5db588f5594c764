#include "StopSignal.h"

#include "ExitCodes.h"
#include "Platform.h"

namespace StopSignal {

void Install() {
    platform::stop::Install();
}

int Received() {
    return platform::stop::Received();
}

int ExitStatus() {
    return ExitStatusOf(Received());
}

int ExitStatusOf(int signal) {
    return signal == platform::stop::kTerminate ? kExitTerminated
           : signal == platform::stop::kHangUp  ? kExitHungUp
                                                : kExitInterrupted;
}

}  // namespace StopSignal
