#include "UpdateRun.h"

#include <stdexcept>

#include "BootEntries.h"
#include "PortNames.h"
#include "Sequences.h"
#include "TSerialPortDriver.h"

void SetDriverDesignSettings(TSerialPortDriver& dane) {
    dane.SetPortName(ComPortName(2));
    dane.SetStopBits(sb2BITS);
    dane.SetHwFlow(hfNONE);
    dane.SetEnableDTROnOpen(false);
}

UpdateRun::UpdateRun(FlashHost& host, LinkBounds bounds) : host_(host), link_(host, bounds) {}

template <typename Body>
RunResult UpdateRun::Run(Body&& body) {
    running_ = true;
    struct Done {
        bool& running;
        ~Done() { running = false; }
    } done{running_};
    // The run's one clearing of StopRequested: a STOP from now on ends it for good.
    host_.SetStopRequested(false);
    link_.TakeSelection();

    RunResult& result = link_.Result();
    try {
        body();
    } catch (const std::runtime_error& failure) {
        // Only the firmware file's load throws, before the sequence sends anything.
        result.end = RunEnd::Untouched;
        result.loadError = failure.what();
    }
    // An end no step decided: the entry gave up on a STOP (or the window closing) seen at one
    // of its passes.
    if (result.end == RunEnd::NotRun)
        result.end = host_.StopRequested() ? RunEnd::Stopped : RunEnd::Untouched;
    if (result.flashTouched && result.end != RunEnd::Programmed) result.end = RunEnd::Damaged;
    if (result.end == RunEnd::Stopped && result.stop == StopCause::None)
        result.stop = host_.Closing() ? StopCause::Closing : StopCause::Stop;
    return result;
}

RunResult UpdateRun::Start(uint8_t deviceKind) {
    if (running_ || !IsDeviceKind(deviceKind)) return {};
    return Run([&] { Dispatch(deviceKind); });
}

RunResult UpdateRun::Identify(uint8_t deviceKind) {
    if (running_ || (deviceKind != 1 && deviceKind != 2 && deviceKind != 4)) return {};
    return Run([&] {
        link_.SetIdentifyOnly(true);
        const bool inBootMode = deviceKind == 1   ? OpenServerBoot(link_)
                                : deviceKind == 2 ? OpenServerBootAuto(link_)
                                                  : OpenCardBoot(link_);
        link_.SetIdentifyOnly(false);
        if (inBootMode) Stop();
    });
}

void UpdateRun::Dispatch(uint8_t deviceKind) {
    switch (deviceKind) {
        case 1:
            if (OpenServerBoot(link_)) FlashServer(link_);
            break;
        case 2:
            if (OpenServerBootAuto(link_)) FlashServer(link_);
            break;
        case 3:
            if (OpenViaServer(link_)) FlashCardViaServer(link_);
            break;
        case 5:
            if (OpenViaServerAuto(link_)) FlashCardViaServer(link_);
            break;
        case 4:
            if (OpenCardBoot(link_)) FlashCardDirect(link_);
            break;
        default:
            break;
    }
}

void UpdateRun::Stop() {
    NoteStop(StopCause::Stop);
    host_.SetStopRequested(true);
    host_.ProcessMessages();
    ReleaseOpenPort();
}

void UpdateRun::Abandon() {
    NoteStop(StopCause::Closing);
    host_.SetStopRequested(true);
    ReleaseOpenPort();
}

void UpdateRun::NoteStop(StopCause cause) {
    RunResult& result = link_.Result();
    if (running_ && result.stop == StopCause::None) result.stop = cause;
}

void UpdateRun::ReleaseOpenPort() {
    TSerialPortDriver& dane = host_.Dane();
    if (!dane.IsPortOpen()) return;
    dane.ClosePort();
    host_.LogAppend(kLinePortFree);
}
