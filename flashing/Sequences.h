#pragma once

#include "BootLink.h"
#include "FirmwareImage.h"

// The three programming sequences. Each runs on the port that its boot-mode entry left open,
// loads the selected firmware file (a failure to load propagates as std::runtime_error before
// any byte is sent, with the port left open), and releases the port on every other end.
void FlashServer(BootLink& link);
void FlashCardViaServer(BootLink& link);
void FlashCardDirect(BootLink& link);

// The last step's line of a run that programmed the device: the server was told to restart,
// or the card's flash was locked again.
inline constexpr const char* kLineServerReset = "Reset serwera : OK";
inline constexpr const char* kLineBitLockOffOk = "Bit_lock OFF : OK";

enum class WriteVariant : uint8_t { Server, CardViaServer, CardDirect };

// The write phase: 220 frames, each sent only after the previous one was accepted, with the
// progress bar at the frame's address. Returns the reply that ended the phase: 0x90 after the
// last frame, otherwise the failing reply or the wait that failed.
Reply WriteImage(BootLink& link, const FirmwareImage& image, WriteVariant variant);
