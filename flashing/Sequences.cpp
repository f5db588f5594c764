#include "Sequences.h"

#include "TSerialPortDriver.h"

namespace {

FirmwareImage LoadSelectedImage(BootLink& link) {
    link.Step(RunStep::Load);
    const RunSelection& chosen = link.Selection();
    FirmwareImage image =
        LoadFirmwareImage(chosen.baseDirectory, chosen.firmwareFolder, chosen.firmware);
    RunResult& result = link.Result();
    result.firmwareSize = image.fileSize;
    result.firmwareSha256 = image.fileSha256;
    result.sentImageSha256 = SentImageSha256(image);
    return image;
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
    link.Step(RunStep::Finish);
    const Reply reply = Exchange(link, kFrameBitLockOff, echoing);
    if (reply.Ok()) {
        link.Log(kLineBitLockOffOk);
        link.EndRun(RunEnd::Programmed);
    } else {
        LogCodeFailure(link, reply, "Błąd bit_lock OFF: ");
        link.EndStep(reply);
    }
    link.ReleasePort();
}

// BitLock on, then its 10 ms pause and a pass of messages. A refusal is logged with its
// code and ends the sequence: the port is released, after an RTS pulse when asked.
bool SwitchBitLockOn(BootLink& link, bool echoing, bool pulseOnFailure) {
    link.Step(RunStep::BitLockOn);
    const Reply reply = Exchange(link, kFrameBitLockOn, echoing);
    if (!reply.Ok()) {
        link.EndStep(reply);
        LogCodeFailure(link, reply, "Błąd bit_lock : ");
        if (pulseOnFailure)
            link.ResetAndReleasePort();
        else
            link.ReleasePort();
        return false;
    }
    link.Log("Bit_lock : OK");
    link.Sleep(10);
    link.ProcessMessages();
    return true;
}

// The flash erase, under the long bound, then its 10 ms pause. A refusal is logged with
// its word and ends the sequence with the port released.
bool EraseFlash(BootLink& link, bool echoing) {
    link.Step(RunStep::Erase);
    const Reply reply = Exchange(link, kFrameEraseFlash, echoing, link.Bounds().eraseMs);
    // Only a refusal says that the flash was left as it was; after silence, STOP or a lost
    // line the erase may have begun.
    if (!reply.Got() || reply.Ok()) link.Result().flashTouched = true;
    if (!reply.Ok()) {
        link.EndStep(reply);
        LogEraseFailure(link, reply);
        link.ReleasePort();
        return false;
    }
    link.Log("Kasowanie flasha : OK");
    link.Sleep(10);
    return true;
}

}  // namespace

Reply WriteImage(BootLink& link, const FirmwareImage& image, WriteVariant variant) {
    FlashHost& host = link.Host();
    TSerialPortDriver& dane = link.Dane();
    const bool card = variant != WriteVariant::Server;
    link.Step(RunStep::Write);
    host.SetProgressMax(kProgressMax);
    for (size_t record = 0; record < kRecordCount; ++record) {
        link.Result().frame = static_cast<int>(record);
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
    link.Result().frame = -1;
    return {WaitEnd::Byte, kReplyOk};
}

void FlashServer(BootLink& link) {
    FlashHost& host = link.Host();
    const FirmwareImage image = LoadSelectedImage(link);
    link.DrainInput();
    link.ProcessMessages();

    if (!SwitchBitLockOn(link, false, false)) return;
    if (!EraseFlash(link, false)) return;
    link.Log("Zapis flasha...");
    link.ProcessMessages();

    const Reply reply = WriteImage(link, image, WriteVariant::Server);
    if (!reply.Ok()) {
        link.EndStep(reply);
        LogWriteFailure(link, reply);
        link.ReleasePort();
        return;
    }
    host.SetProgress(kProgressMax);
    link.Log("Zapis flasha : OK");
    link.ProcessMessages();

    link.Step(RunStep::Finish);
    link.SendFrame(kFrameResetServer);  // the server restarts without answering
    // The reset is reported only when it went out: not after STOP closed the port at the
    // pass before, nor on a line lost under the frame.
    if (!link.Dane().IsPortOpen()) {
        const Reply gone{host.StopRequested() ? WaitEnd::Stopped : link.EndOfClosedPort()};
        link.EndStep(gone);
        link.LogWaitFailure(gone);
        link.ReleasePort();
        return;
    }
    link.EndRun(RunEnd::Programmed);
    link.Log(kLineServerReset);
    link.ProcessMessages();
    link.ReleasePort();
}

void FlashCardViaServer(BootLink& link) {
    FlashHost& host = link.Host();
    const FirmwareImage image = LoadSelectedImage(link);
    link.DrainInput();
    link.Log("Inicjalizacja karty...");
    link.ProcessMessages();

    link.Step(RunStep::CardInit);
    const Reply init = Exchange(link, kFrameCardInit, false);
    if (!init.Ok()) {
        link.EndStep(init);
        LogCodeFailure(link, init, "Błąd Inicjalizacji karty :");
        link.ResetAndReleasePort();
        return;
    }
    link.Log("Inicjalizacja karty : OK");
    link.ProcessMessages();
    link.Sleep(700);
    link.ProcessMessages();
    link.Sleep(50);

    if (!SwitchBitLockOn(link, false, true)) return;
    if (!EraseFlash(link, false)) return;
    link.Log("Zapis flasha...");
    link.ProcessMessages();

    const Reply reply = WriteImage(link, image, WriteVariant::CardViaServer);
    if (!reply.Ok()) {
        link.EndStep(reply);
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
    const FirmwareImage image = LoadSelectedImage(link);
    link.DrainInput();

    if (!SwitchBitLockOn(link, true, false)) return;
    if (!EraseFlash(link, true)) return;
    link.ProcessMessages();
    link.Log("Zapis flasha...");
    link.ProcessMessages();

    const Reply reply = WriteImage(link, image, WriteVariant::CardDirect);
    if (!reply.Ok()) {
        link.EndStep(reply);
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
