#include "PortSearch.h"

#include <cerrno>

#include "TSerialPortDriver.h"

const std::array<PortNameRow, 10> PortNameTable{{
    {"COM1", "\\\\.\\COM1"},
    {"COM2", "\\\\.\\COM2"},
    {"COM3", "\\\\.\\COM3"},
    {"COM4", "\\\\.\\COM4"},
    {"COM5", "\\\\.\\COM5"},
    {"COM6", "\\\\.\\COM6"},
    {"COM7", "\\\\.\\COM7"},
    {"COM8", "\\\\.\\COM8"},
    {"COM9", "\\\\.\\COM9"},
    {"COM10", "\\\\.\\COM10"},
}};

std::string ComPortName(int n) {
    return "\\\\.\\COM" + std::to_string(n);
}

namespace {

constexpr int kSearchPorts = 20;
constexpr int kWaitCycles = 50;
constexpr uint32_t kCycleMs = 10;

}  // namespace

std::optional<std::string> PortNameForBox(const std::string& boxText) {
    for (const PortNameRow& row : PortNameTable)
        if (boxText == row.boxText) return row.portName;
    for (int n = static_cast<int>(PortNameTable.size()) + 1; n <= kSearchPorts; ++n)
        if (boxText == "COM" + std::to_string(n)) return ComPortName(n);
    if (boxText.rfind("/dev/", 0) == 0) return boxText;
    return std::nullopt;
}

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

    for (int n = 1; n <= kSearchPorts; ++n) {
        // After STOP no further port is opened.
        if (host.StopRequested()) return SearchOutcome::Stopped;
        if (dane.IsPortOpen()) dane.ClosePort();
        dane.SetPortName(ComPortName(n));
        const std::string label = "COM:" + std::to_string(n);
        if (!dane.OpenPort()) {
            const int error = dane.LastOpenFailure().error;
            if (error == EACCES || error == EPERM) {
                refused += (refused.empty() ? "" : ", ") + ("COM" + std::to_string(n));
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
            {
                // The greeting must stay in the input queue for the read below.
                TSerialPortDriver::PollHold hold(dane);
                link.ProcessMessages();
            }
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
