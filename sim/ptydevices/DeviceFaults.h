#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "BootLoader.h"
#include "CardModel.h"
#include "DeviceCore.h"
#include "ServerModel.h"

// Which simulated device a fault belongs to.
enum class FaultTarget : uint8_t {
    Server,      // the server's boot loader
    ServerCard,  // the card behind the server
    ReaderCard,  // the card in the reader
};

// A step of the device's own, outside its boot loader.
enum class OwnStep : uint8_t {
    None,      // the fault is a boot-loader step's
    Greeting,  // the server's greeting after its reset, the card's answer to reset
    Probe,     // the server's answer to the via-server probe
};

struct DeviceFault {
    FaultTarget target;
    StepFault fault;  // when `own` is None
    OwnStep own = OwnStep::None;
    LineFault ownFault = LineFault::None;
};

// Reads a fault given on the command line:
//   WHO:STEP=CODE     the step is answered with the reply code CODE (two hex digits)
//   WHO:STEP=silent   the device answers nothing from that step on
//   WHO:STEP=drop     the line drops (the cable is pulled) when the step's frame is in
//   WHO:STEP=drop@K   the line drops after K bytes of the step's frame
// WHO is server, card (behind the server) or reader (the card in the reader); STEP is init,
// bitlock-on, bitlock-off, erase, write, write@N (record N only, 0..219), firmware-number or
// reset, and also greeting (server and reader, silent or drop) and probe (server, silent or
// drop). Nothing for a text that is none of these.
std::optional<DeviceFault> ParseDeviceFault(std::string_view text);

// The models' options that carry the faults meant for them: the server's, and a card's (the
// card behind the server, or the card in the reader, which makes it a card in a reader).
ServerModel::Options ServerOptionsWith(const std::vector<DeviceFault>& faults);
CardModel::Options CardOptionsWith(const std::vector<DeviceFault>& faults, FaultTarget target);
