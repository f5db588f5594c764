#include "PortSearch.h"

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

void SelectFixedPort(TSerialPortDriver& dane, const std::string& boxText) {
    for (const PortNameRow& row : PortNameTable) {
        if (boxText == row.boxText) {
            dane.SetPortName(row.portName);
            return;
        }
    }
}

namespace {

constexpr int kSearchPorts = 20;
constexpr int kWaitCycles = 50;
constexpr uint32_t kCycleMs = 10;

}  // namespace

SearchOutcome SearchServerPort(BootLink& link) {
    FlashHost& host = link.Host();
    TSerialPortDriver& dane = link.Dane();
    if (dane.IsPortOpen()) dane.ClosePort();
    dane.SetStopBits(sb1BITS);
    dane.SetParity(ptNONE);
    dane.SetBaudRateValue(9600);

    // A STOP from before this run does not end the search; one pressed at any message pass of
    // the search ends it before the next port is opened (STOP is final).
    host.SetStopRequested(false);
    for (int n = 1; n <= kSearchPorts; ++n) {
        if (host.StopRequested()) return SearchOutcome::Stopped;
        if (dane.IsPortOpen()) dane.ClosePort();
        dane.SetPortName(ComPortName(n));
        const std::string label = "COM:" + std::to_string(n);
        if (!dane.OpenPort()) {
            link.Log(label + " -");
            link.ProcessMessages();
            continue;
        }
        link.Log(label + " +");
        link.Log("Czekam na dane z serwera...");
        link.ProcessMessages();
        link.Log("Reset...");
        link.ProcessMessages();
        link.Sleep(500);
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
            if (cycle == kWaitCycles || dane.BytesWaiting() >= 1) {
                Byte b = 0;
                // On the last cycle this read may wait the driver's input time-out.
                if (dane.ReadByte(b) && b == kGreetingByte) return SearchOutcome::Found;
            }
            if (cycle == kWaitCycles) break;
        }
    }
    link.Log("Nie wykryto serwera !!!");
    if (dane.IsPortOpen()) dane.ClosePort();
    return SearchOutcome::NotFound;
}
