#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "HttpClient.h"
#include "StoreNames.h"

class HttpSource;

// What the LiveUpdate run needs from the window that starts it (the LiveUpdate page).
// The main window implements it; tests implement it with a recording fake. Texts are UTF-8.
class LiveUpdateHost {
  public:
    virtual ~LiveUpdateHost() = default;

    // LiveUpdate log `Memo1`.
    virtual void LogClear() = 0;
    virtual void LogAppend(const std::string& line) = 0;

    // One pass of the window's processing of pending messages.
    virtual void ProcessMessages() = 0;
    // The paint-only pass: the events that are not user input (paint, expose, the window
    // manager's ping, clipboard requests, timers); user input waits for ProcessMessages.
    // Called at least every 50 ms while an HTTP request is under way.
    virtual void PaintOnlyPass() = 0;

    // The device-type list `ListBox2`, first to last, as the CP1250 bytes read from init.cfg.
    virtual std::vector<std::string> DeviceTypeLines() = 0;

    // Base directory (current working directory, read afresh).
    virtual std::string BaseDirectory() = 0;

    // The user asked to stop the run; looked at before each device type and each file.
    virtual bool StopRequested() { return false; }
};

// The last line of a run that the user stopped.
inline constexpr char kLineUpdateStopped[] = "Aktualizacja przerwana przez użytkownika.";

// Size of every published firmware file; a body of any other size is not stored.
inline constexpr std::size_t kFirmwareFileSize = 15180;

// Built-in update server address; TANDEL_LIVEUPDATE_URL replaces it.
inline constexpr char kLiveUpdateAddress[] = "http://liveupdate.quorvant.example/liveupdate/";

// Most requests a run keeps under way (fetched ahead of their turn).
inline constexpr std::size_t kMaxLiveUpdateTransfers = 8;

// TANDEL_LIVEUPDATE_PARALLEL when it is a number from 1 up (capped at kMaxLiveUpdateTransfers),
// else kMaxLiveUpdateTransfers.
std::size_t LiveUpdateTransfers();

struct LiveUpdateLimits {
    // Largest lista.txt and opis.txt accepted.
    std::size_t textBodyCap = std::size_t{1} << 20;
    // Requests under way at once; 1 fetches one at a time, each when its turn comes.
    std::size_t transfers = LiveUpdateTransfers();
};

// The LiveUpdate run started by START on the LiveUpdate page: for every device-type line,
// fetches lista.txt and opis.txt of its folder, stores opis.txt, and fetches every listed
// firmware file that is held neither in the base directory nor in the device folder.
// Progress goes to the host's log. An HTTP or network error, or a file that cannot be
// written, ends the run by throwing std::runtime_error with the text for the error box;
// the log keeps its lines and gets no final line. Files are replaced whole or not at all,
// and a listed name that is not a plain file name is logged and skipped, as is a device
// type whose folder does not stay in the base directory.
// While a request waits for the network, the host's PaintOnlyPass runs (through the
// source's wait pass); an exception from it ends the run and is passed on. When the run is
// over, finished or failed, the source is told (EndOfRun) and its wait pass cleared.
// Up to `limits.transfers` requests run at once: the lists and descriptions of the next device
// types and the firmware files that the store lacks are fetched ahead, but every body is
// examined, stored and logged in list order as if fetched one at a time, and a failure ends
// the run where it would have then, with nothing fetched past it stored. Stored firmware files
// are flushed in batches and count as present once renamed into place.
// A call made while a run is in progress (from its message processing) does nothing.
// When the host's StopRequested is found set between two files, the run ends there: the file
// at its turn was stored or dropped, what is stored stays, nothing fetched ahead is stored,
// and the log ends with kLineUpdateStopped instead of the final line.
// What a finished run did with the lists: firmware files stored and already present, files
// refused (a name that cannot be a file, a body of the wrong size) and device types skipped
// (a folder name that cannot be used).
struct LiveUpdateSummary {
    int stored = 0;
    int present = 0;
    int refused = 0;
    int skippedTypes = 0;
    bool stopped = false;  // by the host's StopRequested
};
LiveUpdateSummary RunLiveUpdate(LiveUpdateHost& host, HttpSource& http,
                                const LiveUpdateLimits& limits = {});

// True while RunLiveUpdate is on the stack (so from inside its message processing).
bool LiveUpdateRunning();

// The update server's base address: TANDEL_LIVEUPDATE_URL when set and not empty, else
// kLiveUpdateAddress; always ends in '/'.
std::string LiveUpdateBaseAddress();

// The LiveUpdate page's status label text for a connection state of the HTTP client; nothing
// for other values (the label then keeps its text).
std::optional<std::string> StatusLabelText(THttpStatus status);

// The names of lista.txt, as CP1250 bytes: a CR ends a name, LFs are dropped wherever they
// stand, bytes after the last CR form no name; empty names are kept.
std::vector<std::string> SplitFirmwareList(std::string_view text);

// True when `name` + ".bin" can be used as a file name in the device folder: no '/', '\',
// NUL or other control byte, and not "." or "..".
bool IsPlainFileName(std::string_view name);
