#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "CardModel.h"
#include "DeviceFaults.h"
#include "PtyLine.h"
#include "ServerModel.h"

// The simulated devices of the demo and the end-to-end tests, each behind a pseudo-terminal:
//
//   COM1  a server with a card behind it. It greets after the reset (the opening) and, left
//         alone, starts its program and takes the via-server probe, so every server kind
//         finds what it needs here: kinds 1 and 3 with the port box at COM1, kinds 2 and 5
//         through the automatic search, which tries COM1 first.
//   COM2  a card reader (echoing every byte) with a card in it: kind 4, port box COM2.
// The server's line carries 8 data bits, no parity and 1 stop bit; the reader's 8 data bits,
// even parity and 2 stop bits.
//
// With a flash directory, each device's flash is written there as <port>-server.bin or
// <port>-card.bin whenever the program closes that port, and at the end.
class PtyDeviceSet {
  public:
    struct Options {
        Pacing pacing;
        std::vector<DeviceFault> faults;
        std::string flashDir;
        size_t serverChatter = 0;      // bytes the server's program says before its reset
        uint32_t replugAfterMs = 500;  // a dropped device comes back after this
    };

    explicit PtyDeviceSet(const Options& options);

    // Creates the pseudo-terminals and their links COM1, COM2 in `portDir` (made if missing).
    void Create(const std::string& portDir);
    // One line per port: its name, the terminal, the device and the kinds that reach it.
    void Describe(std::ostream& out) const;
    std::vector<PtyLine*> Lines() { return {&com1_, &com2_}; }
    void SaveFlash() const;

    const ServerModel& Server() const { return server_; }
    const CardModel& ServerCard() const { return serverCard_; }
    const CardModel& ReaderCard() const { return readerCard_; }

    // When the reset happens after the line set-up. The server's stands where the program's
    // RTS pulse ends in the search and the via-server entry (500 ms + 100 ms): its greeting
    // then arrives while the search listens and its boot window covers the acknowledgement.
    // The card's falls inside the program's 800 ms wait for the answer to reset, well after
    // the one pass of window messages (and of the driver's input poll) before that wait.
    static constexpr uint32_t kServerResetAfterMs = 600;
    static constexpr uint32_t kReaderResetAfterMs = 400;

  private:
    void SaveFlash(const std::string& file, const BootLoader& boot) const;

    std::string flashDir_;
    CardModel serverCard_;
    ServerModel server_;
    CardModel readerCard_;
    PtyLine com1_;
    PtyLine com2_;
};
