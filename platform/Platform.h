#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// The operating system as the core and the command line use it, in plain C++ types. Two
// implementations, PosixPlatform.cpp and Win32Platform.cpp, chosen by the build; nothing
// else of the program includes a system header. Failures are reported as errno values
// (ENOENT, EACCES, ...) on both systems, so that one text table serves both; paths are UTF-8.
namespace platform {

// A system call made again while it fails with EINTR (a signal came in): its last result.
template <typename F>
auto RetryEintr(F call) {
    decltype(call()) r;
    do {
        r = call();
    } while (r == -1 && errno == EINTR);
    return r;
}

// '/' here, '\' on Windows: what paths are joined and shown with.
extern const char kPathSeparator;
// The longest path the system takes, its terminating zero included (PATH_MAX; MAX_PATH on
// Windows, counted here in UTF-8 bytes, never fewer than its UTF-16 units), and the longest
// piece of a path.
extern const std::size_t kPathMax;
extern const std::size_t kNameMax;
// True for every character that separates path pieces ('/' everywhere, also '\' on Windows).
bool IsPathSeparator(char c);

// The process's current working folder, read afresh; "." when it cannot be read.
std::string CurrentFolder();
// A port named by its device path: a text beginning with kDevicePathPrefix ("/dev/"; "\\.\" on
// Windows) opens as it stands. kDevicePathText names such a text in messages ("a /dev path").
extern const char* const kDevicePathPrefix;
extern const char* const kDevicePathText;

// The system's English text for an errno value ("No such file or directory").
std::string ErrorText(int error);
// The same in English whatever the locale; "error <n>" for a value the system has no text for.
std::string EnglishErrorText(int error);

enum class FileKind { Missing, Regular, Folder, Other };
// What `path` names, links followed.
FileKind KindOf(const std::string& path);
// What `path` itself is, a link not followed (a link is Other).
FileKind OwnKindOf(const std::string& path);
// Creates one folder; 0 or the errno.
int MakeFolder(const std::string& path);
// Names of the entries of a folder ("." and ".." left out), in the system's order; empty when
// it cannot be read.
std::vector<std::string> ListFolder(const std::string& path);
// The same with what each entry names, links followed; cheap where the listing tells it.
struct FolderEntry {
    std::string name;
    FileKind kind;
};
std::vector<FolderEntry> ListFolderKinds(const std::string& path);
// 0 or the errno.
int RemoveFile(const std::string& path);
// Removes the regular file `path` (a link is not followed) unless a run holds it (see
// OutputFile::LockForLife); true when it was removed.
bool RemoveUnlessHeld(const std::string& path);
// Puts `from` in the place of `to`, replacing a file there; 0 or the errno.
int RenameOver(const std::string& from, const std::string& to);
// Flushes a folder's own entries (its renames) to disk where the system can; failure is no
// error (some file systems refuse).
void FlushFolder(const std::string& folder);
// True when every piece of a name this system would be asked to create is one it can hold
// (Windows refuses reserved device names, trailing dots and blanks and some characters).
bool SystemCanHoldName(std::string_view name);
// Whether Windows can hold `name` as a file or folder name: not empty; no control character
// nor any of <>:"|?* nor a separator; no trailing dot or blank; not a reserved device name
// (CON, PRN, AUX, NUL, COM1-9, LPT1-9, in any case, with or without an extension).
bool WindowsCanHoldName(std::string_view name);

// A file read from start to end without ever blocking the caller: a FIFO or a device node
// opens at once and is then found to be no regular file.
class InputFile {
  public:
    InputFile() = default;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile();

    // False with Error() set when it cannot be opened. Without `followLinks` a link at the
    // name is refused (ELOOP) or, where it cannot be, found to be no regular file.
    bool Open(const std::string& path, bool followLinks = true);
    bool IsRegular() const { return regular_; }
    uint64_t Size() const { return size_; }
    // Bytes read (0 at the end), -1 with Error() set; an interrupted call is retried.
    long long Read(char* buffer, std::size_t size);
    int Error() const { return error_; }

  private:
    intptr_t handle_ = -1;
    bool regular_ = false;
    uint64_t size_ = 0;
    int error_ = 0;
};

// A new file written whole and then flushed, for a later RenameOver onto its final name.
class OutputFile {
  public:
    OutputFile() = default;
    OutputFile(OutputFile&& other) noexcept;
    OutputFile& operator=(OutputFile&& other) noexcept;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile() { Close(); }

    // Creates `path`, which must not exist yet; 0, EEXIST or another errno.
    int CreateNew(const std::string& path);
    // Locks the new file `path` (this file, created by CreateNew) for as long as it stays open,
    // so that another run sees it alive whatever its name says. False when the lock cannot be
    // taken or `path` no longer names this file. On Windows an open file that others may not
    // delete is held by being open.
    bool LockForLife(const std::string& path);
    // Writes all of `bytes`; 0 or the errno.
    int WriteAll(std::string_view bytes);
    // Starts writing the file back to disk without waiting for it.
    void StartWriteBack();
    // Waits until the file is on disk; 0 or the errno. Safe from several threads on
    // different files.
    int Flush() const;
    // 0 or the errno; no effect when not open.
    int Close();
    bool IsOpen() const { return handle_ != -1; }

  private:
    intptr_t handle_ = -1;
};

// Appends `line` to the regular file `path` (created, owner-only, when missing) in one write,
// whole or not at all, and flushes it; after a file whose last line was cut off (a power cut,
// a hand edit) it starts a line of its own. Opened without waiting; a link at the name or
// anything but a regular file is refused ("<path>: not a regular file"). Empty on success,
// otherwise "<path>: <why>".
std::string AppendWhole(const std::string& path, std::string_view line);

// Sockets for the HTTP client's own opening and closing of its connections: a socket not
// inherited by child processes, -1 on failure; closing gives 0 or -1.
intptr_t OpenSocket(int family, int type, int protocol);
int CloseSocket(intptr_t socket);
// The numeric text of an IPv4 or IPv6 socket address ("127.0.0.1"); empty for other families.
std::string SocketAddressText(const void* address);

// Socket error codes as the system numbers them (errno here, Winsock's 100xx on Windows) and
// their text, without a final full stop.
extern const int kSocketTimedOut;
extern const int kSocketRefused;
std::string SocketErrorReason(int error);

// A file appended to by descriptor (tandel-cli's --log): opened for appending (created when
// missing) only as a regular file, not through a link at its name (where the system has such
// links), without waiting (a named pipe's open would wait for a reader). The descriptor, or -1
// with the reason in `reason` ("Not a regular file" or the system's words).
int OpenRegularForAppending(const std::string& path, std::string& reason);
// Writes `data` with one write; empty on success, else the system's reason.
std::string WriteWhole(int fd, std::string_view data);
// Closes `fd` when it is one.
void CloseFile(int fd);

// This process's id, and whether process `pid` still runs (as any user).
long ProcessId();
bool ProcessRuns(long pid);

// Who and where: the login name (the user id when it has none) and the machine's name.
std::string UserName();
std::string HostName();
// The folder this program keeps its state in: $XDG_STATE_HOME/tandel (an absolute value
// only; ~/.local/state/tandel otherwise), %LOCALAPPDATA%\tandel on Windows.
std::string StateFolder();

// Standard streams and terminals.
bool IsTerminal(int fd);
// Columns of the terminal on `fd`; 0 when `fd` is no terminal or does not tell.
int TerminalColumns(int fd);
// From now on a change of the terminal's size is noted (SIGWINCH); nothing else changes, a read
// or a wait goes on as before.
void WatchTerminalResize();
// Whether the terminal's size may have changed since the last call (true once per change; on
// Windows always, the console is asked again).
bool TakeTerminalResize();
// Makes `folder` the current folder; 0 or the errno.
int ChangeFolder(const std::string& folder);
// Reads one byte from `fd`: 1, 0 at the end of the input, -1 on failure; a call interrupted by
// a stop signal ends with -1, others are retried.
int ReadInputByte(int fd, char& byte);
// Prepares the console: UTF-8 output and the escape sequences of the progress line (Windows);
// nothing to do elsewhere.
void PrepareConsole();

// The stop signal: SIGINT, SIGTERM and SIGHUP here; Ctrl+C, Ctrl+Break, closing the console
// window, log-off and shut-down on Windows. The handler only notes the first; later ones change
// nothing. A pipe reader that goes away ends no run (SIGPIPE ignored).
namespace stop {
inline constexpr int kInterrupt = 2;   // SIGINT, Ctrl+C
inline constexpr int kHangUp = 1;      // SIGHUP, the console window closed, log-off, shut-down
inline constexpr int kTerminate = 15;  // SIGTERM, Ctrl+Break
// Counts from now on: no signal has come yet.
void Install();
// The first signal received (one of the above), 0 while none came.
int Received();
// Notes a stop as if the signal had come (the console handler's path; tests).
void Raise(int signal);
// A handle that is signalled when a stop comes, for waits of the serial backend on Windows
// (a HANDLE); null elsewhere, where a signal interrupts the wait itself.
void* WakeHandle();
}  // namespace stop

}  // namespace platform
