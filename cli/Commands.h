#pragma once

#include <optional>
#include <string>

class Report;
struct CliServices;

// The commands of tandel-cli. Each works in the current folder as the window does and
// returns its exit status (ExitCodes.h) through Report::Finish.

// The ports of COM1 to COM20 that exist on this machine; with `all` every one of them.
int PortsCommand(Report& report, bool all);
// The device types of init.cfg and the firmware files of each folder.
int TypesCommand(Report& report);
// The LiveUpdate run; `sequential`: one request at a time.
int LiveUpdateCommand(Report& report, bool sequential);

struct FlashRequest {
    std::string type;      // the text of a device type of init.cfg; empty: folder and kind
    std::string folder;    // FirmwareFolder as on disk
    int kind = 0;          // DeviceKind
    std::string firmware;  // the firmware file of the folder
    std::optional<std::string> port;  // the port box text; nothing when --port was not given
    bool yes = false;                 // the question of the card in a reader is answered Yes
    int timeoutSeconds = 0;           // bound of the waits without a limit; 0: none
    bool timeoutIsDefault = false;    // no --timeout: the bound taken without a terminal
    bool noteWait = false;            // say once how a wait without a limit is ended (a terminal)
    bool tag = false;                 // --tag: every line starts with the port
};
// One programming run on the ports of `services`.
int FlashCommand(Report& report, FlashRequest request, const CliServices& services);
// The device's firmware number without erasing it (the firmware field is not used).
int InfoCommand(Report& report, FlashRequest request, const CliServices& services);

struct HistoryRequest {
    std::string since;  // ISO date or date and time; empty: from the first run
    std::string port;   // COMn, the port text or a device path; empty: every port
};
// The programming journal, one run per line (or one JSON object per run).
int HistoryCommand(Report& report, const HistoryRequest& request);
