#include "BootEntries.h"

#include <optional>

#include "OpenFailureDetail.h"
#include "PortSearch.h"
#include "TSerialPortDriver.h"

namespace {

constexpr const char* kServerStartError = "Błąd startu serwera !!!";
constexpr const char* kLineFirmwareNumber = "Aktualnie masz wgrane oprogramowanie nr: ";
constexpr const char* kLineViaServerInit = "Inicjalizacja serwera... Czekaj (max 10sek)";
constexpr const char* kLineAtrError = "Błąd : ATR";

struct VersionRow {
    Byte byte;
    int version;
};
constexpr VersionRow kServerVersions[] = {
    {0xAA, 1}, {0xBB, 2}, {0xDD, 2}, {0xD1, 3}, {0xD2, 4}, {0xD3, 5},
};
constexpr VersionRow kCardVersions[] = {
    {0xAA, 1}, {0xBB, 2}, {0xB1, 3}, {0xB2, 4}, {0xB3, 5},
};

template <size_t N>
std::optional<int> VersionOf(const VersionRow (&table)[N], Byte b) {
    for (const VersionRow& row : table)
        if (row.byte == b) return row.version;
    return std::nullopt;
}

std::string BootLine(int version) {
    return "BOOT >> v" + std::to_string(version);
}

void ClosePortIfOpen(TSerialPortDriver& dane) {
    if (dane.IsPortOpen()) dane.ClosePort();
}

// Opens the fixed port of the run's port box text with the given settings; the message
// window when the text names no port or the port does not open.
bool OpenFixedPort(BootLink& link, TStopBits stopBits, TParity parity) {
    TSerialPortDriver& dane = link.Dane();
    RunResult& result = link.Result();
    link.Step(RunStep::Port);
    ClosePortIfOpen(dane);
    dane.SetStopBits(stopBits);
    dane.SetParity(parity);
    dane.SetBaudRateValue(9600);
    if (!SelectFixedPort(dane, link.Selection().portBox)) {
        result.end = RunEnd::Untouched;
        result.portNamed = false;
        link.Host().ShowMessage(kLineOpenFailed);
        return false;
    }
    result.portName = dane.PortName();
    if (dane.OpenPort()) {
        link.NotePortOpened();
        return true;
    }
    const OpenFailure& failure = dane.LastOpenFailure();
    result.end = RunEnd::Untouched;
    result.openError = failure.error;
    result.openPath = failure.path;
    result.openHolder = failure.holder;
    link.Host().ShowOpenFailure(kLineOpenFailed, OpenFailureDetail(dane.PortName(), failure));
    return false;
}

// A wait that ended on a lost line: its own line, then the release.
bool LineLost(BootLink& link) {
    link.EndStep(Reply{WaitEnd::Lost});
    link.Log(kLinePortLost);
    link.ReleasePort();
    return false;
}

// A server handshake wait that brought no byte: STOP has already closed the port and said
// so; otherwise the step's line, and the port is closed.
bool ServerWaitFailed(BootLink& link, const Reply& reply, const char* line) {
    if (reply.end == WaitEnd::Lost) return LineLost(link);
    link.EndStep(reply, RunEnd::Untouched);
    if (reply.end != WaitEnd::Stopped) link.Log(line);
    ClosePortIfOpen(link.Dane());
    return false;
}

// A card wait that brought no byte: the step's line (none after STOP), then the release.
bool CardWaitFailed(BootLink& link, const Reply& reply, const char* line) {
    if (reply.end == WaitEnd::Lost) return LineLost(link);
    link.EndStep(reply, RunEnd::Untouched);
    if (reply.end != WaitEnd::Stopped) link.Log(line);
    link.ReleasePort();
    return false;
}

// The three-byte answer to ReadFirmwareNumber after its first byte; the number is logged.
// False when the line was lost before the number came (nothing is logged then).
bool ReadFirmwareNumberRest(BootLink& link) {
    Byte number = 0, last = 0;
    link.ReadByte(number);
    if (link.Dane().PortLost()) return false;
    link.Result().firmwareNumber = number;
    link.Log(kLineFirmwareNumber + std::to_string(number));
    link.ReadByte(last);
    return true;
}

}  // namespace

bool OpenServerBoot(BootLink& link) {
    FlashHost& host = link.Host();
    host.LogClear();
    if (!OpenFixedPort(link, sb1BITS, ptNONE)) return false;
    link.Log("Czekam na dane z serwera...");
    link.Step(RunStep::Greeting);
    link.ProcessMessages();
    // The server greets when it starts by itself: no time limit; STOP, a port closed under
    // the wait or a lost line end it. Messages are processed on every cycle, also while other
    // bytes keep coming, so STOP always acts; the wait's passes cannot take the greeting.
    TSerialPortDriver& dane = link.Dane();
    BootLink::OpenWait wait(link);
    for (;;) {
        if (host.StopRequested()) return false;
        if (dane.IsPortOpen() && wait.EndIfOverBound()) return false;
        if (!dane.IsPortOpen()) {
            if (dane.PortLost()) return LineLost(link);
            link.EndStep(Reply{WaitEnd::Closed});
            link.LogWaitFailure(Reply{WaitEnd::Closed});
            return false;
        }
        link.WaitPass();
        if (host.StopRequested() || !dane.IsPortOpen()) continue;
        if (dane.BytesWaiting() >= 1) {
            Byte b = 0;
            if (dane.ReadByte(b) && b == kGreetingByte) break;
        } else {
            link.WaitSliceForInput();
        }
    }
    return ServerBootHandshake(link);
}

bool OpenServerBootAuto(BootLink& link) {
    link.Host().LogClear();
    if (SearchServerPort(link) != SearchOutcome::Found) return false;
    link.Step(RunStep::Greeting);
    return ServerBootHandshake(link);
}

bool ServerBootHandshake(BootLink& link) {
    TSerialPortDriver& dane = link.Dane();
    Reply reply = link.AwaitReply();
    if (!reply.Got()) return ServerWaitFailed(link, reply, kServerStartError);
    if (reply.value != kGreetingByte) return ServerWaitFailed(link, reply, kServerStartError);

    reply = link.AwaitReply();
    if (!reply.Got()) return ServerWaitFailed(link, reply, kServerStartError);
    link.Step(RunStep::BootMode);
    const std::optional<int> version = VersionOf(kServerVersions, reply.value);
    if (!version) {
        link.EndStep(reply, RunEnd::Untouched);
        link.Log(kServerStartError);
        dane.ClosePort();
        return false;
    }
    link.Result().bootVersion = *version;
    link.Log(BootLine(*version));
    if (*version != 5) {
        link.EndStep(reply, RunEnd::Untouched);
        link.Log("Program obsługuje tylko urządzenia Quorvant II");
        dane.ClosePort();
        return false;
    }
    dane.WriteByte(kServerBootV5);
    if (dane.PortLost()) return LineLost(link);
    link.Log("Tryb Boot dla serwera aktywny.");
    link.ProcessMessages();
    // After STOP nothing more is sent; the STOP action has closed the port and said so.
    if (link.Host().StopRequested()) return false;
    link.Sleep(1100);

    link.Step(RunStep::FirmwareNumber);
    link.SendFrame(kFrameReadFirmwareNumber);
    reply = link.AwaitReply();
    if (!reply.Got()) return ServerWaitFailed(link, reply, kLineNoAnswer);
    if (!ReadFirmwareNumberRest(link)) return LineLost(link);
    link.ProcessMessages();
    return !link.Host().StopRequested();
}

bool OpenViaServer(BootLink& link) {
    FlashHost& host = link.Host();
    TSerialPortDriver& dane = link.Dane();
    host.LogClear();
    if (!OpenFixedPort(link, sb1BITS, ptNONE)) return false;
    link.Step(RunStep::ViaServer);
    link.Log(kLineViaServerInit);
    link.ProcessMessages();
    // A STOP seen here ends the entry at the activation loop's first step, before any reset.
    if (!host.StopRequested()) {
        link.Sleep(500);
        dane.SetRTSLine(true);
        link.Sleep(100);
        dane.SetRTSLine(false);
        link.Sleep(8000);
    }
    return ActivateViaServer(link);
}

bool OpenViaServerAuto(BootLink& link) {
    FlashHost& host = link.Host();
    host.LogClear();
    if (SearchServerPort(link) != SearchOutcome::Found) return false;
    link.Step(RunStep::ViaServer);
    link.Log(kLineViaServerInit);
    link.ProcessMessages();
    if (!host.StopRequested()) {
        // Written into the open port at once, which also empties both queues.
        link.Dane().SetBaudRateValue(19200);
        link.Sleep(8000);
    }
    return ActivateViaServer(link);
}

bool ActivateViaServer(BootLink& link) {
    FlashHost& host = link.Host();
    TSerialPortDriver& dane = link.Dane();
    // The port closed under the loop (not by STOP) or its line lost: the wait's own line,
    // then the release.
    auto portGone = [&] {
        link.EndStep(Reply{link.EndOfClosedPort()});
        link.LogWaitFailure(Reply{link.EndOfClosedPort()});
        link.ReleasePort();
        return false;
    };
    BootLink::OpenWait wait(link);
    for (;;) {
        if (host.StopRequested()) {
            link.Log(kLinePortFree);
            return false;
        }
        if (dane.IsPortOpen() && wait.EndIfOverBound()) return false;
        link.ProcessMessages();
        if (host.StopRequested()) continue;  // no probe after STOP
        if (!dane.IsPortOpen()) return portGone();
        // What came before this probe is not its answer (the reset greeting, a late answer
        // to an earlier probe); the driver's poll would drop it as well, had it run.
        dane.PurgeQueues(true, false);
        dane.WriteByte(kProbeFirst);
        dane.WriteByte(kProbeSecond);
        if (!dane.IsPortOpen()) return portGone();
        link.Sleep(300);
        if (dane.BytesWaiting() < 1) continue;
        Byte answer = 0;
        if (!dane.ReadByte(answer)) continue;
        if (answer == kGreetingByte) {
            link.Log("Tryb Via Serwer aktywny.");
            link.ProcessMessages();
            return !host.StopRequested();
        }
        link.EndStep(Reply{WaitEnd::Byte, answer}, RunEnd::Untouched);
        link.Log(std::string(kServerStartError) + " [" + HexByte(answer) + "]");
        link.ProcessMessages();
        return false;
    }
}

bool OpenCardBoot(BootLink& link) {
    FlashHost& host = link.Host();
    TSerialPortDriver& dane = link.Dane();
    host.LogClear();
    if (!OpenFixedPort(link, sb2BITS, ptEVEN)) return false;
    link.Log("SerialPort załączony : " + dane.PortName());
    link.Log("Czekam na ATR...");
    link.Step(RunStep::Greeting);
    link.ProcessMessages();
    // After STOP the card is not reset; the STOP action has released the port.
    if (host.StopRequested()) return false;
    dane.SetRTSLine(true);
    link.Sleep(100);
    dane.SetRTSLine(false);
    link.Sleep(800);

    Byte first = 0;
    const bool gotFirst = link.ReadByte(first);
    if (!gotFirst && dane.PortLost()) return LineLost(link);
    if (!gotFirst || first != kGreetingByte) {
        link.EndStep(gotFirst ? Reply{WaitEnd::Byte, first} : Reply{WaitEnd::Expired},
                     RunEnd::Untouched);
        link.Log(kLineAtrTimeout);
        link.ReleasePort();
        return false;
    }
    Reply reply = link.AwaitReply();
    if (!reply.Got() || reply.value != kGreetingByte)
        return CardWaitFailed(link, reply, kLineAtrError);
    reply = link.AwaitReply();
    if (!reply.Got()) return CardWaitFailed(link, reply, kLineAtrError);
    link.Step(RunStep::BootMode);
    const std::optional<int> version = VersionOf(kCardVersions, reply.value);
    if (!version) return CardWaitFailed(link, reply, kLineAtrError);
    link.Result().bootVersion = *version;
    link.Log(BootLine(*version));
    if (*version != 5) {
        link.EndStep(reply, RunEnd::Untouched);
        link.Log("Program obsługuje tylko urzadzenia Quorvant II");
        link.ReleasePort();
        return false;
    }
    link.Log("Tryb Boot dla karty aktywny.");
    link.Sleep(500);

    link.DrainInput();  // the rest of the answer to reset
    link.Step(RunStep::FirmwareNumber);
    reply = link.SendFrameEchoed(kFrameReadFirmwareNumber);
    if (reply.Got()) reply = link.AwaitReply();
    if (!reply.Got()) return CardWaitFailed(link, reply, kLineNoAnswer);
    if (!ReadFirmwareNumberRest(link)) return LineLost(link);

    const std::string question =
        "Twoja karta ma wgrane oprogramowanie nr:" + link.Selection().firmware +
        " czy kontynuować ?";
    link.Step(RunStep::Question);
    if (link.IdentifyOnly()) {
        // Ended as after "Nie": the card keeps its firmware and is asked nothing more.
        link.EndRun(RunEnd::Stopped);
        dane.ClosePort();
        link.ProcessMessages();
        return false;
    }
    const bool go = host.AskYesNo("?", question);
    if (!go) {
        link.EndRun(RunEnd::Declined);
        dane.ClosePort();
    }
    link.ProcessMessages();
    // A stop that ended the question (a signal on a terminal) is STOP, not the technician's No.
    if (!go && host.StopRequested()) link.EndRun(RunEnd::Stopped);
    return go && !host.StopRequested();
}
