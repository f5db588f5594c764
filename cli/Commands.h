#pragma once

#include <string>

class Report;

// The commands of tandel-cli. Each works in the current folder as the window does and
// returns its exit status (ExitCodes.h) through Report::Finish.

// COM1 to COM20 as this machine maps them.
int PortsCommand(Report& report);
// The device types of init.cfg and the firmware files of each folder.
int TypesCommand(Report& report);
// The LiveUpdate run; `sequential`: one request at a time.
int LiveUpdateCommand(Report& report, bool sequential);

struct FlashRequest {
    std::string type;      // the text of a device type of init.cfg; empty: folder and kind
    std::string folder;    // FirmwareFolder as on disk
    int kind = 0;          // DeviceKind
    std::string firmware;  // the firmware file of the folder
    std::string port;      // the port box text; empty: the box's first row
    bool yes = false;      // the question of the card in a reader is answered Yes
};
// One programming run.
int FlashCommand(Report& report, FlashRequest request);
