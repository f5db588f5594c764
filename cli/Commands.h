#pragma once

#include <optional>
#include <string>

class Report;

// The commands of tandel-cli. Each works in the current folder as the window does and
// returns its exit status (ExitCodes.h) through Report::Finish.

// The ports of COM1 to COM20 that exist on this machine; with `all` every one of them.
int PortsCommand(Report& report, bool all);
// The device types of init.cfg and the firmware files of each folder.
int TypesCommand(Report& report);
// The LiveUpdate run.
int LiveUpdateCommand(Report& report);

struct FlashRequest {
    std::string type;      // the text of a device type of init.cfg; empty: folder and kind
    std::string folder;    // FirmwareFolder as on disk
    int kind = 0;          // DeviceKind
    std::string firmware;  // the firmware file of the folder
    std::optional<std::string> port;  // the port box text; nothing when --port was not given
    bool yes = false;      // the question of the card in a reader is answered Yes
    int timeoutSeconds = 0;  // --timeout: bound of the waits without a limit; 0: none
};
// One programming run.
int FlashCommand(Report& report, FlashRequest request);
