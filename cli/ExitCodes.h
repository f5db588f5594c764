#pragma once

// Exit status of tandel-cli, documented in its manual page.
enum ExitCode : int {
    kExitOk = 0,
    kExitDeviceFailed = 1,  // the device refused a step before its flash was touched, or No
    kExitUsage = 2,
    kExitNoDevice = 3,       // the port did not open, or no device answered on it
    kExitFileError = 4,      // firmware file, init.cfg, the store, or a listing's output lost
    kExitNetwork = 5,        // network failure or an HTTP error status
    kExitFlashDamaged = 6,   // the device's flash is erased or partly written: program it again
    kExitSkipped = 7,        // LiveUpdate done, but a file was refused or a device type skipped
    kExitHungUp = 129,       // SIGHUP (128 + 1), a run ended as by SIGTERM
    kExitInterrupted = 130,  // SIGINT (128 + 2)
    kExitTerminated = 143,   // SIGTERM (128 + 15)
};
