#pragma once

#include <cstdint>

#include "BootLink.h"
#include "RunResult.h"

class TSerialPortDriver;

// The device kinds a run programs: 1 to 5. Kinds 2 and 5 search the port themselves; their
// port box then shows kAutoPortText.
constexpr bool IsDeviceKind(int kind) {
    return kind >= 1 && kind <= 5;
}
constexpr bool KindSearchesPort(int kind) {
    return kind == 2 || kind == 5;
}
inline constexpr const char* kAutoPortText = "Auto";

// The settings the driver `dane` starts with in every host. The boot-mode entries set the
// port name, speed, parity and stop bits before every opening; these stay as they are.
void SetDriverDesignSettings(TSerialPortDriver& dane);

// START and STOP of the programming page. Start runs the boot-mode entry of the device kind
// and, when it succeeds, the kind's programming sequence; it returns when the run is over,
// with how it ended. The run processes window messages between its steps, so Stop (and a
// further Start, which is ignored) arrive nested inside it.
class UpdateRun {
  public:
    explicit UpdateRun(FlashHost& host, LinkBounds bounds = {});

    // Kinds 1 to 5; any other kind does nothing (RunEnd::NotRun). Ignored while a run is in
    // progress. A run clears StopRequested once, at its start, and takes the port box text,
    // the firmware folder and file and the base directory at that moment
    // (BootLink::Selection). A firmware file that cannot be loaded ends the run untouched at
    // RunStep::Load with the load's text in loadError (the host shows it in its error box);
    // the port is then left open.
    RunResult Start(uint8_t deviceKind);
    // The boot-mode entry of kinds 1, 2 and 4 up to the moment the device has told its
    // firmware number (RunResult::firmwareNumber), ended as STOP ends it there: the server's
    // port is released by the STOP action, the card's question is not asked and its port is
    // closed as after "Nie". Nothing is erased or written. Other kinds do nothing (NotRun).
    RunResult Identify(uint8_t deviceKind);
    // Sets StopRequested, processes messages once, closes an open port and then logs
    // "SerialPort wolny...". A run in progress ends at its next wait.
    void Stop();
    // Stop for a window that is being closed, which may come inside a pause: no message
    // processing, only the flag and the release of an open port.
    void Abandon();
    bool Running() const { return running_; }
    // A run is under way and the device's flash is erased (or its erase is not known to have
    // failed): the run can no longer end without leaving the device to be programmed again.
    bool FlashTouched() const { return running_ && link_.Result().flashTouched; }
    // What the last run took at its START.
    const RunSelection& Selection() const { return link_.Selection(); }

  private:
    void Dispatch(uint8_t deviceKind);
    // Begins a run, runs `body` and decides the ends that no step decided.
    template <typename Body>
    RunResult Run(Body&& body);
    void NoteStop(StopCause cause);
    void ReleaseOpenPort();

    FlashHost& host_;
    BootLink link_;
    bool running_ = false;
};
