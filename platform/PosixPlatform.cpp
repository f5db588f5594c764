#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "Platform.h"

namespace platform {

const char kPathSeparator = '/';
const char* const kDevicePathPrefix = "/dev/";
const char* const kDevicePathText = "a /dev path";
const std::size_t kPathMax = PATH_MAX;
const std::size_t kNameMax = NAME_MAX;

bool IsPathSeparator(char c) {
    return c == '/';
}

std::string CurrentFolder() {
    std::vector<char> buffer(4096);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) return ".";
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

std::string ErrorText(int error) {
    char buffer[256];
    // GNU strerror_r returns the text, which may or may not live in the buffer.
    return strerror_r(error, buffer, sizeof buffer);
}

std::string EnglishErrorText(int error) {
    const char* text = ::strerrordesc_np(error);
    return text != nullptr ? text : "error " + std::to_string(error);
}

namespace {

FileKind KindOfMode(mode_t mode) {
    if (S_ISREG(mode)) return FileKind::Regular;
    if (S_ISDIR(mode)) return FileKind::Folder;
    return FileKind::Other;
}

}  // namespace

FileKind KindOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? KindOfMode(st.st_mode) : FileKind::Missing;
}

FileKind OwnKindOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? KindOfMode(st.st_mode) : FileKind::Missing;
}

int MakeFolder(const std::string& path) {
    return ::mkdir(path.c_str(), 0777) == 0 ? 0 : errno;
}

std::vector<std::string> ListFolder(const std::string& path) {
    std::vector<std::string> names;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(path.c_str()), ::closedir);
    if (!dir) return names;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    return names;
}

std::vector<FolderEntry> ListFolderKinds(const std::string& path) {
    std::vector<FolderEntry> entries;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(path.c_str()), ::closedir);
    if (!dir) return entries;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        FileKind kind = entry->d_type == DT_REG   ? FileKind::Regular
                        : entry->d_type == DT_DIR ? FileKind::Folder
                                                  : FileKind::Other;
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            kind = KindOf(path + "/" + name);
        }
        entries.push_back({name, kind});
    }
    return entries;
}

int RemoveFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0 ? 0 : errno;
}

bool RemoveUnlessHeld(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    // The lock is taken before the removal: a run's file is never removed from under it.
    const bool removed = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                         ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::unlink(path.c_str()) == 0;
    ::close(fd);
    return removed;
}

int RenameOver(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

void FlushFolder(const std::string& folder) {
    const int fd =
        ::open(folder.empty() ? "/" : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

bool SystemCanHoldName(std::string_view) {
    return true;  // every byte but '/' and NUL, which no name of ours carries
}

InputFile::~InputFile() {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

bool InputFile::Open(const std::string& path, bool followLinks) {
    const int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW);
    const int fd = RetryEintr([&] { return ::open(path.c_str(), flags); });
    if (fd < 0) {
        error_ = errno;
        return false;
    }
    handle_ = fd;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error_ = errno;
        return false;
    }
    regular_ = S_ISREG(st.st_mode);
    size_ = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
    return true;
}

long long InputFile::Read(char* buffer, std::size_t size) {
    const ssize_t n = RetryEintr([&] { return ::read(static_cast<int>(handle_), buffer, size); });
    if (n < 0) error_ = errno;
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
    const int fd = RetryEintr(
        [&] { return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666); });
    if (fd < 0) return errno;
    handle_ = fd;
    return 0;
}

bool OutputFile::LockForLife(const std::string& path) {
    if (::flock(static_cast<int>(handle_), LOCK_EX | LOCK_NB) != 0) return false;
    struct stat named {
    }, opened{};
    return ::stat(path.c_str(), &named) == 0 && ::fstat(static_cast<int>(handle_), &opened) == 0 &&
           named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
}

int OutputFile::WriteAll(std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = RetryEintr([&] {
            return ::write(static_cast<int>(handle_), bytes.data() + done, bytes.size() - done);
        });
        if (n < 0) return errno;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

void OutputFile::StartWriteBack() {
    sync_file_range(static_cast<int>(handle_), 0, 0, SYNC_FILE_RANGE_WRITE);
}

int OutputFile::Flush() const {
    return RetryEintr([&] { return ::fsync(static_cast<int>(handle_)); }) == 0 ? 0 : errno;
}

int OutputFile::Close() {
    if (handle_ < 0) return 0;
    const int fd = static_cast<int>(std::exchange(handle_, -1));
    return ::close(fd) == 0 ? 0 : errno;
}

std::string AppendWhole(const std::string& path, std::string_view line) {
    const int fd = RetryEintr([&] {
        return ::open(path.c_str(),
                      O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    });
    const std::string notRegular = path + ": not a regular file";
    if (fd < 0) {
        return errno == ELOOP || errno == ENXIO ? notRegular : path + ": " + std::strerror(errno);
    }
    struct stat before {};
    std::string failure;
    if (::fstat(fd, &before) != 0 || !S_ISREG(before.st_mode)) {
        failure = notRegular;
    } else {
        std::string whole(line);
        char last = '\n';
        if (before.st_size > 0 && ::pread(fd, &last, 1, before.st_size - 1) == 1 && last != '\n')
            whole.insert(0, 1, '\n');
        // One write: a line of another program's run never lands inside ours.
        const ssize_t n = RetryEintr([&] { return ::write(fd, whole.data(), whole.size()); });
        if (n != static_cast<ssize_t>(whole.size())) {
            failure = path + ": " + (n < 0 ? std::strerror(errno) : "disk full");
            if (n > 0) (void)!::ftruncate(fd, before.st_size);  // no half line stays
        } else if (::fsync(fd) != 0) {
            failure = path + ": " + std::strerror(errno);
        }
    }
    ::close(fd);
    return failure;
}

intptr_t OpenSocket(int family, int type, int protocol) {
    return ::socket(family, type | SOCK_CLOEXEC, protocol);
}

int CloseSocket(intptr_t socket) {
    return ::close(static_cast<int>(socket));
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

const int kSocketTimedOut = ETIMEDOUT;
const int kSocketRefused = ECONNREFUSED;

std::string SocketErrorReason(int error) {
    return ErrorText(error);
}

int OpenRegularForAppending(const std::string& path, std::string& reason) {
    const int fd = RetryEintr([&] {
        return ::open(path.c_str(),
                      O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    });
    struct stat st {};
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) return fd;
    const bool notRegular = fd >= 0 || errno == ELOOP || errno == ENXIO;  // a link, a pipe
    reason = notRegular ? "Not a regular file" : std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return -1;
}

std::string WriteWhole(int fd, std::string_view data) {
    const ssize_t n = RetryEintr([&] { return ::write(fd, data.data(), data.size()); });
    if (n == static_cast<ssize_t>(data.size())) return {};
    return n < 0 ? std::strerror(errno) : "disk full";
}

void CloseFile(int fd) {
    if (fd >= 0) ::close(fd);
}

long ProcessId() {
    return ::getpid();
}

bool ProcessRuns(long pid) {
    // EPERM: it runs, as another user.
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

std::string UserName() {
    if (const passwd* pw = ::getpwuid(::geteuid())) return pw->pw_name;
    return std::to_string(::geteuid());
}

std::string HostName() {
    char name[256] = {};
    return ::gethostname(name, sizeof name - 1) == 0 ? name : "";
}

std::string StateFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    std::string dir;
    if (state != nullptr && state[0] == '/') {
        dir = state;
    } else {
        const char* home = std::getenv("HOME");
        dir = std::string(home != nullptr && home[0] != '\0' ? home : "/") + "/.local/state";
    }
    return dir + "/tandel";
}

bool IsTerminal(int fd) {
    return fd >= 0 && ::isatty(fd) == 1;
}

int TerminalColumns(int fd) {
    winsize size{};
    if (fd < 0 || ::ioctl(fd, TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}

namespace {

volatile sig_atomic_t resized = 0;

void OnResize(int) {
    resized = 1;
}

}  // namespace

void WatchTerminalResize() {
    struct sigaction action {};
    action.sa_handler = OnResize;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;  // a resize never ends a read of the terminal
    sigaction(SIGWINCH, &action, nullptr);
}

bool TakeTerminalResize() {
    if (resized == 0) return false;
    resized = 0;
    return true;
}

int ChangeFolder(const std::string& folder) {
    return ::chdir(folder.c_str()) == 0 ? 0 : errno;
}

int ReadInputByte(int fd, char& byte) {
    for (;;) {
        const ssize_t n = ::read(fd, &byte, 1);
        if (n < 0 && errno == EINTR && stop::Received() == 0) continue;
        return n < 0 ? -1 : static_cast<int>(n);
    }
}

void PrepareConsole() {}

namespace stop {
namespace {

volatile sig_atomic_t received = 0;

void OnSignal(int number) {
    if (received == 0) received = number;
}

}  // namespace

void Install() {
    received = 0;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a read from the terminal ends with EINTR
    // A hang-up (the terminal or the ssh session closed) ends a run as SIGTERM does: the
    // port is released, the journal and the log file get their lines.
    for (const int stop : {SIGINT, SIGTERM, SIGHUP}) sigaction(stop, &action, nullptr);
    // A reader of the output that goes away must not end a run half-way through writing a
    // device's flash: output then fails quietly and the run goes on to its end.
    ::signal(SIGPIPE, SIG_IGN);
}

int Received() {
    return received;
}

void Raise(int signal) {
    OnSignal(signal);
}

void* WakeHandle() {
    return nullptr;
}

}  // namespace stop

}  // namespace platform
