#include "BootLink.h"

#include <algorithm>

#include "Clock.h"
#include "TSerialPortDriver.h"

BootLink::BootLink(FlashHost& host, LinkBounds bounds) : host_(host), bounds_(bounds) {}

void BootLink::TakeSelection() {
    selection_ = {host_.PortBoxText(), host_.BaseDirectory(), host_.FirmwareFolder(),
                  host_.SelectedFirmware()};
    result_ = RunResult{};
}

void BootLink::NotePortOpened() {
    result_.portName = Dane().PortName();
    result_.port = DescribePortName(result_.portName);
}

void BootLink::EndStep(const Reply& reply, RunEnd onCode) {
    result_.wait = reply.end;
    if (reply.Got()) result_.reply = reply.value;
    if (result_.flashTouched)
        result_.end = RunEnd::Damaged;
    else if (reply.end == WaitEnd::Stopped)
        result_.end = RunEnd::Stopped;
    else
        result_.end = reply.Got() ? onCode : RunEnd::Untouched;
}

WaitEnd BootLink::EndOfClosedPort() {
    return Dane().PortLost() ? WaitEnd::Lost : WaitEnd::Closed;
}

void BootLink::Sleep(uint32_t ms) {
    Clock& clock = host_.Time();
    // A line that hung up ends the run: its pauses are over.
    if (Dane().PortLost()) return;
    // The short pauses of the write loops cost line time; a pass there would only add to it.
    if (ms <= bounds_.sliceMs) {
        clock.SleepMs(ms);
        return;
    }
    const uint32_t start = clock.TickMs();
    for (;;) {
        PaintOnlyPass();
        if (host_.Closing()) return;
        const uint32_t elapsed = clock.TickMs() - start;
        if (elapsed >= ms) return;
        const uint32_t slice = std::min(bounds_.sliceMs, ms - elapsed);
        // Each slice watches the line: a hang-up ends the pause when it happens.
        if (!Dane().SleepWatchingLine(slice)) return;
        if (elapsed + slice >= ms) return;
    }
}

bool BootLink::ReadByte(Byte& value) {
    TSerialPortDriver& dane = Dane();
    Clock& clock = host_.Time();
    const uint32_t bound = dane.InputTimeout();
    const uint32_t start = clock.TickMs();
    while (dane.IsPortOpen() && dane.BytesWaiting() == 0) {
        const uint32_t elapsed = clock.TickMs() - start;
        if (elapsed >= bound || host_.Closing()) return false;
        if (WaitSliceForInput(bound - elapsed)) break;
        PaintOnlyPass();
    }
    return dane.ReadByte(value);
}

bool BootLink::WaitSliceForInput(uint32_t leftMs) {
    return Dane().WaitForInput(std::min(bounds_.sliceMs, leftMs));
}

void BootLink::ProcessMessages() {
    host_.ProcessMessages();
    lastPass_ = host_.Time().TickMs();
}

void BootLink::WaitPass() {
    {
        TSerialPortDriver::PollHold hold(Dane());
        host_.ProcessMessages();
    }
    lastPass_ = host_.Time().TickMs();
}

void BootLink::PaintOnlyPass() {
    {
        TSerialPortDriver::PollHold hold(Dane());
        host_.PaintOnlyPass();
    }
    lastPass_ = host_.Time().TickMs();
}

BootLink::OpenWait::OpenWait(BootLink& link) : link_(link), startMs_(link.Host().Time().TickMs()) {}

bool BootLink::OpenWait::EndIfOverBound() {
    const uint32_t bound = link_.Bounds().unboundedWaitMs;
    if (bound == kNoTimeLimit || link_.Host().Time().TickMs() - startMs_ < bound) return false;
    link_.EndStep(Reply{WaitEnd::Expired});
    link_.EndRun(RunEnd::Stopped);
    link_.Host().SetStopRequested(true);
    link_.ReleasePort();
    return true;
}

void BootLink::PaintIfDue() {
    if (host_.Time().TickMs() - lastPass_ >= bounds_.sliceMs) PaintOnlyPass();
}

void BootLink::SendFrame(std::span<const Byte> frame) {
    for (Byte b : frame) Dane().WriteByte(b);
}

Reply BootLink::AwaitReply(uint32_t boundMs) {
    TSerialPortDriver& dane = Dane();
    Clock& clock = host_.Time();
    const uint32_t bound = boundMs == 0 ? bounds_.replyMs : boundMs;
    // A chain of waits that each end quickly (the 75 echoes of a write frame) is still a
    // long stretch without a pass.
    PaintIfDue();
    const uint32_t start = clock.TickMs();
    for (;;) {
        if (dane.IsPortOpen() && dane.BytesWaiting() > 0) {
            Byte b = 0;
            if (dane.ReadByte(b)) return {WaitEnd::Byte, b};
        }
        if (host_.StopRequested()) return {WaitEnd::Stopped};
        if (!dane.IsPortOpen()) return {EndOfClosedPort()};
        const uint32_t elapsed = clock.TickMs() - start;
        if (bound != kNoTimeLimit && elapsed >= bound) return {WaitEnd::Expired};
        if (WaitSliceForInput(bound == kNoTimeLimit ? kNoTimeLimit : bound - elapsed)) continue;
        WaitPass();
    }
}

Reply BootLink::SkipEchoes(size_t n) {
    Reply echo{WaitEnd::Byte};
    for (size_t i = 0; i < n && echo.Got(); ++i) echo = AwaitReply();
    return echo;
}

Reply BootLink::SendFrameEchoed(std::span<const Byte> frame) {
    Reply echo{WaitEnd::Byte};
    for (size_t i = 0; i < frame.size() && echo.Got(); ++i) {
        Dane().WriteByte(frame[i]);
        echo = SkipEchoes(1);
    }
    return echo;
}

void BootLink::DrainInput() {
    TSerialPortDriver& dane = Dane();
    Clock& clock = host_.Time();
    Byte scratch = 0;
    ReadByte(scratch);
    const uint32_t start = clock.TickMs();
    while (dane.IsPortOpen() && dane.BytesWaiting() != 0 &&
           clock.TickMs() - start < bounds_.replyMs) {
        dane.ReadByte(scratch);
        PaintIfDue();
    }
}

void BootLink::ReleasePort() {
    if (Dane().IsPortOpen()) Dane().ClosePort();
    Log(kLinePortFree);
}

void BootLink::ResetAndReleasePort() {
    Dane().SetRTSLine(true);
    Sleep(100);
    Dane().SetRTSLine(false);
    Sleep(100);
    ReleasePort();
}

void BootLink::LogWaitFailure(const Reply& reply) {
    switch (reply.end) {
        case WaitEnd::Expired:
            Log(kLineNoAnswer);
            break;
        case WaitEnd::Stopped:
            Log(kLineStopped);
            break;
        case WaitEnd::Closed:
            Log(kLinePortClosed);
            break;
        case WaitEnd::Lost:
            Log(kLinePortLost);
            break;
        case WaitEnd::Byte:
            break;
    }
}
