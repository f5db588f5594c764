#include "BootEntries.h"

#include <optional>

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

// Opens the fixed port with the given settings; the message window when it does not open.
bool OpenFixedPort(BootLink& link, TStopBits stopBits, TParity parity) {
    TSerialPortDriver& dane = link.Dane();
    ClosePortIfOpen(dane);
    dane.SetStopBits(stopBits);
    dane.SetParity(parity);
    dane.SetBaudRateValue(9600);
    SelectFixedPort(dane, link.Host().PortBoxText());
    if (dane.OpenPort()) return true;
    link.Host().ShowMessage(kLineOpenFailed);
    return false;
}

// A server handshake wait that brought no byte: STOP has already closed the port and said
// so; otherwise the step's line, and the port is closed.
bool ServerWaitFailed(BootLink& link, const Reply& reply, const char* line) {
    if (reply.end != WaitEnd::Stopped) link.Log(line);
    ClosePortIfOpen(link.Dane());
    return false;
}

// A card wait that brought no byte: the step's line (none after STOP), then the release.
bool CardWaitFailed(BootLink& link, const Reply& reply, const char* line) {
    if (reply.end != WaitEnd::Stopped) link.Log(line);
    link.ReleasePort();
    return false;
}

// The three-byte answer to ReadFirmwareNumber after its first byte; the number is logged.
void ReadFirmwareNumberRest(BootLink& link) {
    Byte number = 0, last = 0;
    link.Dane().ReadByte(number);
    link.Log(kLineFirmwareNumber + std::to_string(number));
    link.Dane().ReadByte(last);
}

}  // namespace

bool OpenServerBoot(BootLink& link) {
    FlashHost& host = link.Host();
    host.LogClear();
    if (!OpenFixedPort(link, sb1BITS, ptNONE)) return false;
    link.Log("Czekam na dane z serwera...");
    link.ProcessMessages();
    host.SetStopRequested(false);
    // The server greets when it starts by itself: no time limit, only STOP ends this wait.
    // Messages are processed on every pass, also while other bytes keep coming, so STOP
    // always acts; the poll is held so that it cannot take the greeting.
    TSerialPortDriver& dane = link.Dane();
    for (;;) {
        {
            TSerialPortDriver::PollHold hold(dane);
            link.ProcessMessages();
        }
        if (host.StopRequested()) return false;
        if (!dane.IsPortOpen()) {
            link.LogWaitFailure(Reply{WaitEnd::Closed});
            return false;
        }
        if (dane.BytesWaiting() >= 1) {
            Byte b = 0;
            if (dane.ReadByte(b) && b == kGreetingByte) break;
        } else {
            dane.WaitForInput(link.Bounds().sliceMs);
        }
    }
    return ServerBootHandshake(link);
}

bool OpenServerBootAuto(BootLink& link) {
    link.Host().LogClear();
    if (SearchServerPort(link) != SearchOutcome::Found) return false;
    return ServerBootHandshake(link);
}

bool ServerBootHandshake(BootLink& link) {
    TSerialPortDriver& dane = link.Dane();
    Reply reply = link.AwaitReply();
    if (!reply.Got()) return ServerWaitFailed(link, reply, kServerStartError);
    if (reply.value != kGreetingByte) return ServerWaitFailed(link, reply, kServerStartError);

    reply = link.AwaitReply();
    if (!reply.Got()) return ServerWaitFailed(link, reply, kServerStartError);
    const std::optional<int> version = VersionOf(kServerVersions, reply.value);
    if (!version) {
        link.Log(kServerStartError);
        dane.ClosePort();
        return false;
    }
    link.Log(BootLine(*version));
    if (*version != 5) {
        link.Log("Program obsługuje tylko urządzenia Quorvant II");
        dane.ClosePort();
        return false;
    }
    dane.WriteByte(kServerBootV5);
    link.Log("Tryb Boot dla serwera aktywny.");
    link.ProcessMessages();
    link.Sleep(1100);

    link.SendFrame(kFrameReadFirmwareNumber);
    reply = link.AwaitReply();
    if (!reply.Got()) return ServerWaitFailed(link, reply, kLineNoAnswer);
    ReadFirmwareNumberRest(link);
    link.ProcessMessages();
    return true;
}

bool OpenViaServer(BootLink& link) {
    FlashHost& host = link.Host();
    TSerialPortDriver& dane = link.Dane();
    host.LogClear();
    if (!OpenFixedPort(link, sb1BITS, ptNONE)) return false;
    link.Log(kLineViaServerInit);
    // Cleared before the pass, so that a STOP pressed in it is seen.
    host.SetStopRequested(false);
    link.ProcessMessages();
    link.Sleep(500);
    dane.SetRTSLine(true);
    link.Sleep(100);
    dane.SetRTSLine(false);
    link.Sleep(8000);
    return ActivateViaServer(link);
}

bool OpenViaServerAuto(BootLink& link) {
    FlashHost& host = link.Host();
    host.LogClear();
    if (SearchServerPort(link) != SearchOutcome::Found) return false;
    link.Log(kLineViaServerInit);
    // The search has cleared StopRequested at its start; a STOP since then ends the entry.
    link.ProcessMessages();
    // Written into the open port at once, which also empties both queues.
    link.Dane().SetBaudRateValue(19200);
    link.Sleep(8000);
    return ActivateViaServer(link);
}

bool ActivateViaServer(BootLink& link) {
    FlashHost& host = link.Host();
    TSerialPortDriver& dane = link.Dane();
    for (;;) {
        if (host.StopRequested()) {
            link.Log(kLinePortFree);
            return false;
        }
        link.ProcessMessages();
        // What came before this probe is not its answer (the reset greeting, a late answer
        // to an earlier probe); the driver's poll would drop it as well, had it run.
        dane.PurgeQueues(true, false);
        dane.WriteByte(kProbeFirst);
        dane.WriteByte(kProbeSecond);
        link.Sleep(300);
        if (dane.BytesWaiting() < 1) continue;
        Byte answer = 0;
        if (!dane.ReadByte(answer)) continue;
        if (answer == kGreetingByte) {
            link.Log("Tryb Via Serwer aktywny.");
            link.ProcessMessages();
            return true;
        }
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
    // The card's waits end on STOP; one pressed before this run must not end them.
    host.SetStopRequested(false);
    link.Log("SerialPort załączony : " + dane.PortName());
    link.Log("Czekam na ATR...");
    link.ProcessMessages();
    dane.SetRTSLine(true);
    link.Sleep(100);
    dane.SetRTSLine(false);
    link.Sleep(800);

    Byte first = 0;
    if (!dane.ReadByte(first) || first != kGreetingByte) {
        link.Log("Błąd : przekroczony czas oczekiwania");
        link.ReleasePort();
        return false;
    }
    Reply reply = link.AwaitReply();
    if (!reply.Got() || reply.value != kGreetingByte)
        return CardWaitFailed(link, reply, kLineAtrError);
    reply = link.AwaitReply();
    if (!reply.Got()) return CardWaitFailed(link, reply, kLineAtrError);
    const std::optional<int> version = VersionOf(kCardVersions, reply.value);
    if (!version) return CardWaitFailed(link, reply, kLineAtrError);
    link.Log(BootLine(*version));
    if (*version != 5) {
        link.Log("Program obsługuje tylko urzadzenia Quorvant II");
        link.ReleasePort();
        return false;
    }
    link.Log("Tryb Boot dla karty aktywny.");
    link.Sleep(500);

    link.DrainInput();  // the rest of the answer to reset
    reply = link.SendFrameEchoed(kFrameReadFirmwareNumber);
    if (reply.Got()) reply = link.AwaitReply();
    if (!reply.Got()) return CardWaitFailed(link, reply, kLineNoAnswer);
    ReadFirmwareNumberRest(link);

    const std::string question =
        "Twoja karta ma wgrane oprogramowanie nr:" + host.SelectedFirmware() + " czy kontynuować ?";
    const bool go = host.AskYesNo("?", question);
    if (!go) dane.ClosePort();
    link.ProcessMessages();
    return go;
}
