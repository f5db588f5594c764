#pragma once

#include <string>
#include <sys/types.h>

// Other programs on a serial line. Two programs reading one line garble what the device
// says, so a port that another live process has open, or has locked the way terminal
// programs do (a UUCP lock file "LCK..ttyUSB0" in /run/lock holding the owner's PID), is in
// use even when that program took no exclusive lock of its own.

// The lock file's path for the device node `device` (a path with its links resolved):
// "<lock dir>/LCK..ttyUSB0"; a node below /dev/ is named by its path there with '/' as '_'.
std::string UucpLockPath(const std::string& device);

// The other live process that holds `device`: its UUCP lock file names a running process,
// or one of its open descriptors (those this user may inspect) is the same node, compared by
// device number whatever its path. "name (PID n)", empty when none. This process does not
// count, nor does a node that is no terminal. The controlling terminal of this process (by
// any of its names, /dev/tty included) is held by its session leader, the shell: it is never
// a port to open.
std::string PortHolder(const std::string& device);

// True when `rdev` is this process's controlling terminal or /dev/tty.
bool IsControllingTerminal(dev_t rdev);

// The UUCP lock file of a port while this process holds it. Taken where the lock directory
// lets us write; a stale file of a dead process is replaced. Removed when released.
class UucpLock {
  public:
    UucpLock() = default;
    UucpLock(UucpLock&& other) noexcept;
    UucpLock& operator=(UucpLock&& other) noexcept;
    UucpLock(const UucpLock&) = delete;
    UucpLock& operator=(const UucpLock&) = delete;
    ~UucpLock() { Release(); }

    // False only when another live process holds the lock (its "name (PID n)" in `holder`);
    // a directory we may not write to is no failure.
    bool Take(const std::string& device, std::string& holder);
    void Release();

  private:
    std::string path_;
};
