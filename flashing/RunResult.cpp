#include "RunResult.h"

const char* RunStepName(RunStep step) {
    switch (step) {
        case RunStep::Port:
            return "port";
        case RunStep::Search:
            return "port search";
        case RunStep::Greeting:
            return "greeting";
        case RunStep::BootMode:
            return "boot mode";
        case RunStep::ViaServer:
            return "pass-through";
        case RunStep::FirmwareNumber:
            return "firmware number";
        case RunStep::Question:
            return "question";
        case RunStep::Load:
            return "firmware file";
        case RunStep::CardInit:
            return "card init";
        case RunStep::BitLockOn:
            return "BitLock on";
        case RunStep::Erase:
            return "erase";
        case RunStep::Write:
            return "write";
        case RunStep::Finish:
            return "finish";
    }
    return "?";
}

const char* RunEndName(RunEnd end) {
    switch (end) {
        case RunEnd::NotRun:
            return "not-run";
        case RunEnd::Programmed:
            return "programmed";
        case RunEnd::Declined:
            return "declined";
        case RunEnd::Stopped:
            return "stopped";
        case RunEnd::Untouched:
            return "untouched";
        case RunEnd::Refused:
            return "refused";
        case RunEnd::Damaged:
            return "damaged";
    }
    return "?";
}

const char* WaitEndName(WaitEnd end) {
    switch (end) {
        case WaitEnd::Byte:
            return "byte";
        case WaitEnd::Expired:
            return "expired";
        case WaitEnd::Stopped:
            return "stopped";
        case WaitEnd::Closed:
            return "closed";
        case WaitEnd::Lost:
            return "lost";
    }
    return "?";
}
