#include "Sequences.h"

#include "TSerialPortDriver.h"

namespace {

FirmwareImage LoadSelectedImage(FlashHost& host) {
    return LoadFirmwareImage(host.BaseDirectory(), host.FirmwareFolder(), host.SelectedFirmware());
}

// A control frame and its reply; on the echoing link every byte's echo is read first.
Reply Exchange(BootLink& link, std::span<const Byte> frame, bool echoing, uint32_t boundMs = 0) {
    if (echoing) {
        const Reply echo = link.SendFrameEchoed(frame);
        if (!echo.Got()) return echo;
    } else {
        link.SendFrame(frame);
    }
    return link.AwaitReply(boundMs);
}

// The line of a failed step that prints its code after `text`, or the wait's own line.
void LogCodeFailure(BootLink& link, const Reply& reply, const std::string& text) {
    if (reply.Got())
        link.Log(text + HexByte(reply.value));
    else
        link.LogWaitFailure(reply);
}

void LogEraseFailure(BootLink& link, const Reply& reply) {
    if (!reply.Got()) {
        link.LogWaitFailure(reply);
    } else if (reply.value == kReplyProcess) {
        link.Log("Bład kasowanie flasha : PROCES");
    } else if (reply.value == kReplyCrc) {
        link.Log("Bład kasowanie flasha : CRC");
    } else if (reply.value == kReplyLock) {
        link.Log("Bład kasowanie flasha : LOCK");
    }
}

// The named line of a failed write frame (CRC or PROCES), or the wait's own line.
void LogWriteFailure(BootLink& link, const Reply& reply) {
    if (!reply.Got()) {
        link.LogWaitFailure(reply);
    } else if (reply.value == kReplyCrc) {
        link.Log("Błąd zapisu flasha : CRC");
    } else if (reply.value == kReplyProcess) {
        link.Log("Błąd zapisu flasha : PROCES");
    }
}

// BitLock off, whose answer decides only the line; the port is released either way.
void FinishCard(BootLink& link, bool echoing) {
    const Reply reply = Exchange(link, kFrameBitLockOff, echoing);
    if (reply.Ok())
        link.Log("Bit_lock OFF : OK");
    else
        LogCodeFailure(link, reply, "Błąd bit_lock OFF: ");
    link.ReleasePort();
}

}  // namespace

Reply WriteImage(BootLink& link, const FirmwareImage& image, WriteVariant variant) {
    FlashHost& host = link.Host();
    TSerialPortDriver& dane = link.Dane();
    const bool card = variant != WriteVariant::Server;
    host.SetProgressMax(kProgressMax);
    for (size_t record = 0; record < kRecordCount; ++record) {
        const int address = RecordAddress(record);
        const WriteFrame frame = BuildWriteFrame(image, record);
        // CC 48 40, the address, record bytes 1 and 2.
        size_t i = 0;
        for (; i < 7; ++i) dane.WriteByte(frame[i]);
        // Record bytes 3 to 66 in pairs.
        for (; i < 71; i += 2) {
            dane.WriteByte(frame[i]);
            dane.WriteByte(frame[i + 1]);
            if (card) host.SetProgress(address);
            if (variant == WriteVariant::CardViaServer) link.ProcessMessages();
        }
        if (!card) host.SetProgress(address);
        // Record bytes 67 to 69 and the check.
        for (; i < kWriteFrameSize; ++i) dane.WriteByte(frame[i]);

        if (variant == WriteVariant::CardDirect) {
            const Reply echo = link.SkipEchoes(kWriteFrameSize);
            if (!echo.Got()) return echo;
        }
        const Reply reply = link.AwaitReply();
        if (!reply.Ok()) return reply;
        if (card) link.Sleep(1);
        if (variant != WriteVariant::CardViaServer) link.ProcessMessages();
    }
    return {WaitEnd::Byte, kReplyOk};
}

void FlashServer(BootLink& link) {
    FlashHost& host = link.Host();
    const FirmwareImage image = LoadSelectedImage(host);
    link.DrainInput();
    link.ProcessMessages();

    Reply reply = Exchange(link, kFrameBitLockOn, false);
    if (!reply.Ok()) {
        LogCodeFailure(link, reply, "Błąd bit_lock : ");
        link.ReleasePort();
        return;
    }
    link.Log("Bit_lock : OK");
    link.Sleep(10);
    link.ProcessMessages();

    reply = Exchange(link, kFrameEraseFlash, false, link.Bounds().eraseMs);
    if (!reply.Ok()) {
        LogEraseFailure(link, reply);
        link.ReleasePort();
        return;
    }
    link.Log("Kasowanie flasha : OK");
    link.Sleep(10);
    link.Log("Zapis flasha...");
    link.ProcessMessages();

    reply = WriteImage(link, image, WriteVariant::Server);
    if (!reply.Ok()) {
        LogWriteFailure(link, reply);
        link.ReleasePort();
        return;
    }
    host.SetProgress(kProgressMax);
    link.Log("Zapis flasha : OK");
    link.ProcessMessages();

    link.SendFrame(kFrameResetServer);  // the server restarts without answering
    link.Log("Reset serwera : OK");
    link.ProcessMessages();
    link.ReleasePort();
}

void FlashCardViaServer(BootLink& link) {
    FlashHost& host = link.Host();
    const FirmwareImage image = LoadSelectedImage(host);
    link.DrainInput();
    link.Log("Inicjalizacja karty...");
    link.ProcessMessages();

    Reply reply = Exchange(link, kFrameCardInit, false);
    if (!reply.Ok()) {
        LogCodeFailure(link, reply, "Błąd Inicjalizacji karty :");
        link.ResetAndReleasePort();
        return;
    }
    link.Log("Inicjalizacja karty : OK");
    link.ProcessMessages();
    link.Sleep(700);
    link.ProcessMessages();
    link.Sleep(50);

    reply = Exchange(link, kFrameBitLockOn, false);
    if (!reply.Ok()) {
        LogCodeFailure(link, reply, "Błąd bit_lock : ");
        link.ResetAndReleasePort();
        return;
    }
    link.Log("Bit_lock : OK");
    link.Sleep(10);
    link.ProcessMessages();

    reply = Exchange(link, kFrameEraseFlash, false, link.Bounds().eraseMs);
    if (!reply.Ok()) {
        LogEraseFailure(link, reply);
        link.ReleasePort();
        return;
    }
    link.Log("Kasowanie flasha : OK");
    link.Sleep(10);
    link.Log("Zapis flasha...");
    link.ProcessMessages();

    reply = WriteImage(link, image, WriteVariant::CardViaServer);
    if (!reply.Ok()) {
        LogWriteFailure(link, reply);
        if (reply.Got()) link.Log(HexByte(reply.value));
        link.ReleasePort();
        return;
    }
    host.SetProgress(kProgressMax);
    link.Log("Zapisu flasha : OK");
    link.ProcessMessages();
    link.Sleep(10);
    link.ProcessMessages();

    FinishCard(link, false);
}

void FlashCardDirect(BootLink& link) {
    FlashHost& host = link.Host();
    const FirmwareImage image = LoadSelectedImage(host);
    link.DrainInput();

    Reply reply = Exchange(link, kFrameBitLockOn, true);
    if (!reply.Ok()) {
        LogCodeFailure(link, reply, "Błąd bit_lock : ");
        link.ReleasePort();
        return;
    }
    link.Log("Bit_lock : OK");
    link.Sleep(10);
    link.ProcessMessages();

    reply = Exchange(link, kFrameEraseFlash, true, link.Bounds().eraseMs);
    if (!reply.Ok()) {
        LogEraseFailure(link, reply);
        link.ReleasePort();
        return;
    }
    link.Log("Kasowanie flasha : OK");
    link.Sleep(10);
    link.ProcessMessages();
    link.Log("Zapis flasha...");
    link.ProcessMessages();

    reply = WriteImage(link, image, WriteVariant::CardDirect);
    if (!reply.Ok()) {
        LogWriteFailure(link, reply);
        link.ReleasePort();
        if (reply.Got()) link.Log(HexByte(reply.value));
        link.ProcessMessages();
        return;
    }
    host.SetProgress(kProgressMax);
    link.Log("Zapis flasha : OK");
    link.Sleep(10);
    link.ProcessMessages();

    FinishCard(link, true);
}
