#include "UpdateRun.h"

#include "BootEntries.h"
#include "Sequences.h"
#include "TSerialPortDriver.h"

UpdateRun::UpdateRun(FlashHost& host, LinkBounds bounds) : host_(host), link_(host, bounds) {}

void UpdateRun::Start(uint8_t deviceKind) {
    if (running_ || deviceKind < 1 || deviceKind > 5) return;
    running_ = true;
    struct Done {
        bool& running;
        ~Done() { running = false; }
    } done{running_};
    // The run's one clearing of StopRequested: a STOP from now on ends it for good.
    host_.SetStopRequested(false);
    link_.TakeSelection();

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
    host_.SetStopRequested(true);
    host_.ProcessMessages();
    ReleaseOpenPort();
}

void UpdateRun::Abandon() {
    host_.SetStopRequested(true);
    ReleaseOpenPort();
}

void UpdateRun::ReleaseOpenPort() {
    TSerialPortDriver& dane = host_.Dane();
    if (!dane.IsPortOpen()) return;
    dane.ClosePort();
    host_.LogAppend(kLinePortFree);
}
