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
    return Received() == platform::stop::kTerminate ? kExitTerminated : kExitInterrupted;
}

}  // namespace StopSignal
