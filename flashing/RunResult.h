#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Frames.h"
#include "PortDescription.h"

// How a wait for one byte ended.
enum class WaitEnd : uint8_t {
    Byte,     // the byte came
    Expired,  // the bound passed
    Stopped,  // StopRequested was set
    Closed,   // the port was closed under the wait
    Lost,     // the line hung up or its device went away (the driver has closed the port)
};

// How a programming run ended, decided where each step ends. The hosts show it their way;
// nothing reads it back from the log.
enum class RunEnd : uint8_t {
    NotRun,      // another run was in progress, or the kind is not 1 to 5
    Programmed,  // every step succeeded, the finishing step included
    Declined,    // the card's question was answered No
    Stopped,     // STOP (or a closing window) before the device's flash was touched
    Untouched,   // ended before the device's flash was touched: no port, no answer, refused entry
    Refused,     // the device refused a step before its flash was touched, with the reply code
    Damaged,     // the flash was erased (or its erase is not known to have failed) and the image
                 // is not whole in it: the device must be programmed again
};

// The step a run was at when it ended.
enum class RunStep : uint8_t {
    Port,            // naming and opening the fixed port
    Search,          // the automatic port search
    Greeting,        // the server's greeting or the card's answer to reset
    BootMode,        // the boot-loader version and the switch into boot mode
    ViaServer,       // the server's pass-through to the card
    FirmwareNumber,  // the firmware number the device reports
    Question,        // the card's question before it is written
    Load,            // loading the firmware file
    CardInit,
    BitLockOn,
    Erase,
    Write,
    Finish,  // the server's reset or the card's BitLock off
};

// Who stopped a run.
enum class StopCause : uint8_t { None, Stop, Closing };

struct RunResult {
    RunEnd end = RunEnd::NotRun;
    RunStep step = RunStep::Port;
    // How the step's last wait ended; Byte when a byte came (then `reply` holds it).
    WaitEnd wait = WaitEnd::Byte;
    std::optional<Byte> reply;  // the device's answer that ended the step
    int frame = -1;             // the write frame (0 to 219) that the run ended in
    StopCause stop = StopCause::None;

    std::string portName;     // the driver's PortName the run used or tried
    PortDescription port;     // the opened port's device and adapter, as they were at the open
    bool portNamed = true;    // false: the port box text names no port
    int openError = 0;        // errno of the open that failed
    std::string openPath;     // the device path that open tried
    std::string openHolder;   // the other program holding the port, "name (PID n)"
    std::string loadError;    // the text of a firmware file that did not load
    std::string deniedPorts;  // ports the search could not open for want of permission, "COM1, COM3"

    std::optional<int> bootVersion;     // the boot loader's version, as announced
    std::optional<int> firmwareNumber;  // the firmware number the device reported
    bool flashTouched = false;          // the erase went out and was not refused

    // The firmware file as the run loaded it (FirmwareImage): size and SHA-256 of the file's
    // bytes, and SHA-256 of the image the write frames carry. Empty before the load.
    uint64_t firmwareSize = 0;
    std::string firmwareSha256;
    std::string sentImageSha256;
};

// The step's name in English, for the command line's reasons and journals.
const char* RunStepName(RunStep step);
// "programmed", "declined", ...
const char* RunEndName(RunEnd end);
// "byte", "expired", "stopped", "closed", "lost".
const char* WaitEndName(WaitEnd end);
