#include "FlashOutcome.h"

#include "BootLink.h"
#include "ExitCodes.h"
#include "OpenFailureDetail.h"
#include "Platform.h"
#include "PortDescription.h"
#include "PortNames.h"
#include "PortSearch.h"
#include "StopSignal.h"

namespace {

std::string Hex(Byte value) {
    return "0x" + HexByte(value);
}

// How the step ended, in words: "reply 0x93", "no answer", "the line was lost", ...
std::string StepEnd(const RunResult& r) {
    switch (r.wait) {
        case WaitEnd::Byte:
            return r.reply ? "reply " + Hex(*r.reply) : "no reply";
        case WaitEnd::Expired:
            return "no answer";
        case WaitEnd::Stopped:
            return "stopped";
        case WaitEnd::Closed:
            return "the port was closed";
        case WaitEnd::Lost:
            return "the line was lost";
    }
    return "?";
}

std::string StepAt(const RunResult& r) {
    std::string at = RunStepName(r.step);
    if (r.step == RunStep::Write && r.frame >= 0) at += " frame " + std::to_string(r.frame);
    return at;
}

std::string OneLine(std::string text) {
    for (size_t at; (at = text.find('\n')) != std::string::npos;) text.replace(at, 1, "; ");
    return text;
}

FlashOutcome Untouched(const RunResult& r, const std::string& portText) {
    if (r.step == RunStep::Load) return {kExitFileError, r.loadError};
    if (r.step == RunStep::Port) {
        const std::string why =
            !r.portNamed ? portText + ": no such port (COM1 to COM20 or " +
                               platform::kDevicePathText + ")"
                         : OneLine(OpenFailureDetail(r.portName,
                                                     {r.openPath, r.openError, r.openHolder}));
        return {kExitNoDevice, std::string(kLineOpenFailed) + " " + why};
    }
    if (r.wait == WaitEnd::Lost) return {kExitNoDevice, kLinePortLost};
    if (r.step == RunStep::Search && !r.deniedPorts.empty()) {
        const std::string first = r.deniedPorts.substr(0, r.deniedPorts.find(','));
        const PortDescription port = DescribePort(ComLabelNumber(first));
        return {kExitNoDevice, std::string(kLineNoServer) + " No permission to open " +
                                   r.deniedPorts + ": " +
                                   OneLine(PermissionHint(port, ReasonLanguage::English))};
    }
    if (r.step == RunStep::Search) return {kExitNoDevice, kLineNoServer};
    if (r.bootVersion && *r.bootVersion != 5) {
        return {kExitNoDevice, "boot loader version " + std::to_string(*r.bootVersion) +
                                   ": only Quorvant II devices (version 5) are programmed"};
    }
    return {kExitNoDevice, StepEnd(r) + " at the " + StepAt(r) + " step; nothing was written"};
}

}  // namespace

FlashOutcome JudgeFlashRun(const RunResult& r, int stopSignal, const std::string& portText) {
    const int signalExit = StopSignal::ExitStatusOf(stopSignal);
    switch (r.end) {
        case RunEnd::Programmed:
            return {kExitOk, {}};
        case RunEnd::Declined:
            return {kExitDeviceFailed, "answered No: the card was not programmed"};
        case RunEnd::Stopped:
            return {stopSignal != 0 ? signalExit : kExitNoDevice, kLineStopped};
        case RunEnd::Untouched:
            return Untouched(r, portText);
        case RunEnd::Refused: {
            std::string reason = "the device refused the " + StepAt(r) + " step (" + StepEnd(r);
            if (r.reply && !ReplyWord(*r.reply).empty()) reason += ", " + ReplyWord(*r.reply);
            return {kExitDeviceFailed, reason + "); its flash was not touched"};
        }
        case RunEnd::Damaged: {
            const std::string state =
                "the device's flash is erased or partly written (" + StepAt(r) + ", " +
                (r.stop != StopCause::None && r.wait != WaitEnd::Byte ? std::string("stopped")
                                                                      : StepEnd(r)) +
                "): program it again";
            // A signal keeps its status, as every program's; the reason tells the flash's state.
            if (stopSignal != 0) return {signalExit, std::string(kLineStopped) + "; " + state};
            return {kExitFlashDamaged, state};
        }
        case RunEnd::NotRun:
            break;
    }
    return {kExitUsage, "the run did not start"};
}
