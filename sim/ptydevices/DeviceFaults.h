#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "BootLoader.h"

// Which simulated device a fault belongs to.
enum class FaultTarget : uint8_t {
    Server,      // the server's boot loader
    ServerCard,  // the card behind the server
    ReaderCard,  // the card in the reader
};

struct DeviceFault {
    FaultTarget target;
    StepFault fault;
};

// Reads a fault given on the command line:
//   WHO:STEP=CODE     the step is answered with the reply code CODE (two hex digits)
//   WHO:STEP=silent   the device answers nothing from that step on
// WHO is server, card (behind the server) or reader (the card in the reader); STEP is init,
// bitlock-on, bitlock-off, erase, write, write@N (record N only, 0..219), firmware-number or
// reset. Nothing for a text that is none of these.
std::optional<DeviceFault> ParseDeviceFault(std::string_view text);
