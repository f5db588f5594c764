#include "PortSearch.h"

#include <cerrno>
#include <optional>

#include "PortNames.h"
#include "TSerialPortDriver.h"

namespace {

constexpr int kWaitCycles = 50;
constexpr uint32_t kCycleMs = 10;

}  // namespace

bool SelectFixedPort(TSerialPortDriver& dane, const std::string& boxText) {
    const std::optional<std::string> name = PortNameForBox(boxText);
    if (!name) return false;
    dane.SetPortName(*name);
    return true;
}

SearchOutcome SearchServerPort(BootLink& link) {
    FlashHost& host = link.Host();
    TSerialPortDriver& dane = link.Dane();
    link.Step(RunStep::Search);
    if (dane.IsPortOpen()) dane.ClosePort();
    dane.SetStopBits(sb1BITS);
    dane.SetParity(ptNONE);
    dane.SetBaudRateValue(9600);
    // Ports the user may not open: a search that finds nothing says so below its line.
    std::string refused;

    for (int n = 1; n <= kComPortCount; ++n) {
        // After STOP no further port is opened.
        if (host.StopRequested()) return SearchOutcome::Stopped;
        if (dane.IsPortOpen()) dane.ClosePort();
        dane.SetPortName(ComPortName(n));
        const std::string label = "COM:" + std::to_string(n);
        if (!dane.OpenPort()) {
            const int error = dane.LastOpenFailure().error;
            if (error == EACCES || error == EPERM) {
                refused += (refused.empty() ? "" : ", ") + ComLabel(n);
            }
            link.Log(label + " -");
            link.ProcessMessages();
            continue;
        }
        link.Log(label + " +");
        link.Log("Czekam na dane z serwera...");
        link.ProcessMessages();
        if (host.StopRequested()) return SearchOutcome::Stopped;
        link.Log("Reset...");
        link.ProcessMessages();
        if (host.StopRequested()) return SearchOutcome::Stopped;
        link.Sleep(500);
        // What the device's own program said before its reset must not hide the greeting
        // behind it: the wait below reads one byte per cycle.
        dane.PurgeQueues(true, false);
        dane.SetRTSLine(true);
        link.Sleep(100);
        dane.SetRTSLine(false);

        for (int cycle = 1;; ++cycle) {
            // The greeting stays in the input queue for the read below.
            link.WaitPass();
            link.Sleep(kCycleMs);
            if (host.StopRequested()) return SearchOutcome::Stopped;
            // A port whose line was lost (its adapter pulled) has nothing more to say.
            if (!dane.IsPortOpen()) break;
            if (cycle == kWaitCycles || dane.BytesWaiting() >= 1) {
                Byte b = 0;
                // On the last cycle this read may wait the driver's input time-out.
                if (link.ReadByte(b) && b == kGreetingByte) {
                    link.NotePortOpened();
                    return SearchOutcome::Found;
                }
            }
            if (cycle == kWaitCycles || !dane.IsPortOpen()) break;
        }
    }
    link.EndRun(RunEnd::Untouched);
    link.Log(kLineNoServer);
    if (!refused.empty()) link.Log(std::string(kLineNoPermission) + refused);
    link.Result().deniedPorts = refused;
    if (dane.IsPortOpen()) dane.ClosePort();
    return SearchOutcome::NotFound;
}
