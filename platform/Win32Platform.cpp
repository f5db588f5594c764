// Winsock before windows.h, which would bring the old socket header otherwise.
#include <winsock2.h>
#include <ws2tcpip.h>
// Then the rest.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <utility>

#include "Platform.h"
#include "Win32Text.h"

namespace platform {

const char kPathSeparator = '\\';
const char* const kDevicePathPrefix = "\\\\.\\";
const char* const kDevicePathText = "a \\\\.\\ device name";
const std::size_t kPathMax = MAX_PATH;
const std::size_t kNameMax = 255;

bool IsPathSeparator(char c) {
    return c == '/' || c == '\\';
}

std::wstring WideText(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

std::string Utf8Text(const std::wstring& wide) {
    if (wide.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n,
                        nullptr, nullptr);
    return utf8;
}

int ErrnoOf(unsigned long win32Error) {
    switch (win32Error) {
        case ERROR_SUCCESS:
            return 0;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_PATHNAME:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
        case ERROR_PRIVILEGE_NOT_HELD:
            return EACCES;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_BUSY:
            return EBUSY;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_INVALID_NAME:
        case ERROR_DIRECTORY:
        case ERROR_INVALID_PARAMETER:
            return EINVAL;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        case ERROR_NOT_READY:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_DEVICE_NOT_CONNECTED:
            return ENXIO;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        case ERROR_TOO_MANY_OPEN_FILES:
            return EMFILE;
        case ERROR_DIR_NOT_EMPTY:
            return ENOTEMPTY;
        case ERROR_NOT_SUPPORTED:
            return ENOTSUP;
        case ERROR_OPERATION_ABORTED:
            return EINTR;
        default:
            return EIO;
    }
}

std::string CurrentFolder() {
    const DWORD n = GetCurrentDirectoryW(0, nullptr);
    if (n == 0) return ".";
    std::wstring folder(n, L'\0');
    const DWORD used = GetCurrentDirectoryW(n, folder.data());
    if (used == 0 || used >= n) return ".";
    folder.resize(used);
    return Utf8Text(folder);
}

std::string ErrorText(int error) {
    return std::strerror(error);
}

std::string EnglishErrorText(int error) {
    return std::strerror(error);
}

namespace {

FileKind KindOfAttributes(DWORD attributes) {
    if (attributes == INVALID_FILE_ATTRIBUTES) return FileKind::Missing;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return FileKind::Folder;
    if (attributes & FILE_ATTRIBUTE_DEVICE) return FileKind::Other;
    return FileKind::Regular;
}

// Closes a handle once.
void CloseIfOpen(intptr_t& handle) {
    if (handle != -1) CloseHandle(reinterpret_cast<HANDLE>(std::exchange(handle, -1)));
}

HANDLE AsHandle(intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

FileKind KindOf(const std::string& path) {
    return KindOfAttributes(GetFileAttributesW(WideText(path).c_str()));
}

FileKind OwnKindOf(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(WideText(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return FileKind::Other;
    return KindOfAttributes(attributes);
}

int MakeFolder(const std::string& path) {
    return CreateDirectoryW(WideText(path).c_str(), nullptr) ? 0 : ErrnoOf(GetLastError());
}

std::vector<FolderEntry> ListFolderKinds(const std::string& path) {
    std::vector<FolderEntry> entries;
    WIN32_FIND_DATAW found{};
    const std::wstring pattern = WideText(path) + L"\\*";
    const HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return entries;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        FileKind kind = KindOfAttributes(found.dwFileAttributes);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            kind = KindOf(path + "\\" + Utf8Text(name));  // what the link names
        }
        entries.push_back({Utf8Text(name), kind});
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return entries;
}

std::vector<std::string> ListFolder(const std::string& path) {
    std::vector<std::string> names;
    for (FolderEntry& entry : ListFolderKinds(path)) names.push_back(std::move(entry.name));
    return names;
}

int RemoveFile(const std::string& path) {
    return DeleteFileW(WideText(path).c_str()) ? 0 : ErrnoOf(GetLastError());
}

// A file a run holds open refuses deletion (sharing violation): that is its lock.
bool RemoveUnlessHeld(const std::string& path) {
    return OwnKindOf(path) == FileKind::Regular && DeleteFileW(WideText(path).c_str());
}

int RenameOver(const std::string& from, const std::string& to) {
    return MoveFileExW(WideText(from).c_str(), WideText(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? 0
               : ErrnoOf(GetLastError());
}

// A rename moved with MOVEFILE_WRITE_THROUGH is on disk when it returns.
void FlushFolder(const std::string&) {}

bool SystemCanHoldName(std::string_view name) {
    return WindowsCanHoldName(name);
}

InputFile::~InputFile() {
    CloseIfOpen(handle_);
}

bool InputFile::Open(const std::string& path, bool followLinks) {
    const std::wstring wide = WideText(path);
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    const HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, flags, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // A folder cannot be opened as a file here; it is no regular file, as elsewhere.
        if (KindOf(path) == FileKind::Folder) return true;
        error_ = ErrnoOf(error);
        return false;
    }
    handle_ = reinterpret_cast<intptr_t>(file);
    LARGE_INTEGER size{};
    BY_HANDLE_FILE_INFORMATION info{};
    regular_ = GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
               !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
               GetFileSizeEx(file, &size);
    size_ = regular_ && size.QuadPart > 0 ? static_cast<uint64_t>(size.QuadPart) : 0;
    return true;
}

long long InputFile::Read(char* buffer, std::size_t size) {
    DWORD n = 0;
    const DWORD wanted = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    if (!ReadFile(AsHandle(handle_), buffer, wanted, &n, nullptr)) {
        error_ = ErrnoOf(GetLastError());
        return -1;
    }
    return n;
}

OutputFile::OutputFile(OutputFile&& other) noexcept : handle_(std::exchange(other.handle_, -1)) {}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = std::exchange(other.handle_, -1);
    }
    return *this;
}

int OutputFile::CreateNew(const std::string& path) {
    const HANDLE file =
        CreateFileW(WideText(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return ErrnoOf(GetLastError());
    handle_ = reinterpret_cast<intptr_t>(file);
    return 0;
}

// CreateNew shares the file for reading only: while it is open nobody deletes or renames it.
bool OutputFile::LockForLife(const std::string&) {
    return handle_ != -1;
}

int OutputFile::WriteAll(std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::size_t left = bytes.size() - done;
        const DWORD chunk = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
        DWORD n = 0;
        if (!WriteFile(AsHandle(handle_), bytes.data() + done, chunk, &n, nullptr))
            return ErrnoOf(GetLastError());
        if (n == 0) return ENOSPC;
        done += n;
    }
    return 0;
}

void OutputFile::StartWriteBack() {}

int OutputFile::Flush() const {
    return FlushFileBuffers(AsHandle(handle_)) ? 0 : ErrnoOf(GetLastError());
}

int OutputFile::Close() {
    if (handle_ == -1) return 0;
    return CloseHandle(AsHandle(std::exchange(handle_, -1))) ? 0 : ErrnoOf(GetLastError());
}

std::string AppendWhole(const std::string& path, std::string_view line) {
    const auto failed = [&path](int error) { return path + ": " + std::strerror(error); };
    // A link is not followed: the journal is this program's own file.
    const HANDLE file = CreateFileW(WideText(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return failed(ErrnoOf(GetLastError()));
    std::string failure;
    BY_HANDLE_FILE_INFORMATION info{};
    LARGE_INTEGER before{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
        !GetFileSizeEx(file, &before)) {
        failure = path + ": not a regular file";
    } else {
        // After a cut-off last line the record starts a line of its own.
        std::string whole(line);
        if (before.QuadPart > 0) {
            OVERLAPPED lastByte{};
            lastByte.Offset = static_cast<DWORD>(before.QuadPart - 1);
            lastByte.OffsetHigh = static_cast<DWORD>((before.QuadPart - 1) >> 32);
            char last = '\n';
            DWORD got = 0;
            if (ReadFile(file, &last, 1, &got, &lastByte) && got == 1 && last != '\n')
                whole.insert(0, 1, '\n');
        }
        // One write at the end: a line of another program's run never lands inside ours.
        OVERLAPPED atEnd{};
        atEnd.Offset = 0xFFFFFFFF;
        atEnd.OffsetHigh = 0xFFFFFFFF;
        DWORD n = 0;
        const BOOL wrote =
            WriteFile(file, whole.data(), static_cast<DWORD>(whole.size()), &n, &atEnd);
        if (!wrote || n != whole.size()) {
            failure = !wrote ? failed(ErrnoOf(GetLastError())) : path + ": disk full";
            if (n > 0) {  // no half line stays
                FILE_END_OF_FILE_INFO end{};
                end.EndOfFile = before;
                SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end);
            }
        } else if (!FlushFileBuffers(file)) {
            failure = failed(ErrnoOf(GetLastError()));
        }
    }
    CloseHandle(file);
    return failure;
}

intptr_t OpenSocket(int family, int type, int protocol) {
    const SOCKET s = WSASocketW(family, type, protocol, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    return s == INVALID_SOCKET ? -1 : static_cast<intptr_t>(s);
}

int CloseSocket(intptr_t socket) {
    return closesocket(static_cast<SOCKET>(socket)) == 0 ? 0 : -1;
}

std::string SocketAddressText(const void* address) {
    char text[INET6_ADDRSTRLEN] = "";
    const auto* any = static_cast<const sockaddr*>(address);
    if (any->sa_family == AF_INET) {
        inet_ntop(AF_INET, &static_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
    } else if (any->sa_family == AF_INET6) {
        inet_ntop(AF_INET6, &static_cast<const sockaddr_in6*>(address)->sin6_addr, text,
                  sizeof text);
    }
    return text;
}

const int kSocketTimedOut = WSAETIMEDOUT;
const int kSocketRefused = WSAECONNREFUSED;

std::string SocketErrorReason(int error) {
    wchar_t* text = nullptr;
    const DWORD flags =
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    DWORD n = FormatMessageW(flags, nullptr, static_cast<DWORD>(error),
                             MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                             reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    if (n == 0) {
        n = FormatMessageW(flags, nullptr, static_cast<DWORD>(error), 0,
                           reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    }
    if (n == 0) return "error " + std::to_string(error);
    std::wstring reason(text, n);
    LocalFree(text);
    while (!reason.empty() && (reason.back() == L'\n' || reason.back() == L'\r' ||
                               reason.back() == L' ' || reason.back() == L'.')) {
        reason.pop_back();
    }
    return Utf8Text(reason);
}

int OpenRegularForAppending(const std::string& path, std::string& reason) {
    const int fd =
        _wopen(WideText(path).c_str(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT,
               _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        reason = KindOf(path) == FileKind::Folder ? "Not a regular file" : std::strerror(errno);
        return -1;
    }
    if (GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(fd))) != FILE_TYPE_DISK) {
        _close(fd);
        reason = "Not a regular file";
        return -1;
    }
    return fd;
}

std::string WriteWhole(int fd, std::string_view data) {
    const int n = _write(fd, data.data(), static_cast<unsigned>(data.size()));
    if (n == static_cast<int>(data.size())) return {};
    return n < 0 ? std::strerror(errno) : "disk full";
}

void CloseFile(int fd) {
    if (fd >= 0) _close(fd);
}

long ProcessId() {
    return static_cast<long>(GetCurrentProcessId());
}

bool ProcessRuns(long pid) {
    const HANDLE process =
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    // Refused: it runs, as another user.
    if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
    DWORD code = 0;
    const bool runs = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    CloseHandle(process);
    return runs;
}

std::string UserName() {
    wchar_t name[257] = {};
    DWORD size = 257;
    return GetUserNameW(name, &size) ? Utf8Text(name) : "";
}

std::string HostName() {
    wchar_t name[256] = {};
    DWORD size = 256;
    return GetComputerNameExW(ComputerNameDnsHostname, name, &size) ? Utf8Text(name) : "";
}

namespace {

std::string Environment(const wchar_t* name) {
    const DWORD n = GetEnvironmentVariableW(name, nullptr, 0);
    if (n == 0) return {};
    std::wstring value(n, L'\0');
    const DWORD used = GetEnvironmentVariableW(name, value.data(), n);
    if (used == 0 || used >= n) return {};
    value.resize(used);
    return Utf8Text(value);
}

}  // namespace

std::string StateFolder() {
    std::string local = Environment(L"LOCALAPPDATA");
    if (local.empty()) local = Environment(L"USERPROFILE") + "\\AppData\\Local";
    return local + "\\tandel";
}

namespace {

HANDLE OsHandle(int fd) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

// A console, not the NUL device (which is a character device too).
bool IsConsole(int fd) {
    DWORD mode = 0;
    return fd >= 0 && GetConsoleMode(OsHandle(fd), &mode);
}

}  // namespace

bool IsTerminal(int fd) {
    return IsConsole(fd);
}

int TerminalColumns(int fd) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (fd < 0 || !GetConsoleScreenBufferInfo(OsHandle(fd), &info)) return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

// The console sends no signal when it is resized: its width is asked at every redraw.
void WatchTerminalResize() {}

bool TakeTerminalResize() {
    return true;
}

int ChangeFolder(const std::string& folder) {
    return SetCurrentDirectoryW(WideText(folder).c_str()) ? 0 : ErrnoOf(GetLastError());
}

int ReadInputByte(int fd, char& byte) {
    const int n = _read(fd, &byte, 1);
    if (stop::Received() != 0) return -1;
    return n < 0 ? -1 : n;
}

void PrepareConsole() {
    SetConsoleOutputCP(CP_UTF8);
    // The same bytes as elsewhere: "\n" is not widened into "\r\n" in pipes and files.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    for (const DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        const HANDLE console = GetStdHandle(which);
        DWORD mode = 0;
        // The progress line redraws itself with "\r" and the erase-line sequence.
        if (GetConsoleMode(console, &mode))
            SetConsoleMode(console,
                           mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
}

namespace stop {
namespace {

std::atomic<int> received{0};
HANDLE wake = nullptr;

// Runs on a thread of its own that the system starts for the console event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
            Raise(kInterrupt);
            return TRUE;
        case CTRL_BREAK_EVENT:
            Raise(kTerminate);
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            Raise(kHangUp);
            // The process ends when this returns: it waits here while the run stops and frees
            // the port, until the program exits (or the system's grace time ends).
            Sleep(INFINITE);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void Install() {
    received = 0;
    if (wake == nullptr) wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ResetEvent(wake);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

int Received() {
    return received.load();
}

void Raise(int signal) {
    int none = 0;
    received.compare_exchange_strong(none, signal);
    if (wake != nullptr) SetEvent(wake);
}

void* WakeHandle() {
    return wake;
}

}  // namespace stop

}  // namespace platform
