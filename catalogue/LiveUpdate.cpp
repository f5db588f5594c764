#include "LiveUpdate.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include "BaseDirectory.h"
#include "Cp1250.h"
#include "DeviceConfig.h"
#include "FirmwareStore.h"
#include "HttpSource.h"
#include "StoreNames.h"

namespace {

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

[[noreturn]] void CannotCreate(const std::string& path, int error) {
    throw std::runtime_error("Cannot create file \"" + path + "\". " + SystemReason(error));
}

// Replaces `path` with `bytes` through a temporary file in the same folder, so that the
// file is either the old one or the complete new one, never a part.
void WriteFileWhole(const std::string& path, std::string_view bytes) {
    static std::atomic<unsigned> counter{0};
    const std::size_t slash = path.rfind('/');
    const std::string folder = path.substr(0, slash + 1);

    // Not derived from the file name, so that a name near the length limit still fits.
    std::string temporary;
    int fd = -1;
    do {
        temporary = folder + ".tandel-" + std::to_string(getpid()) + "-" +
                    std::to_string(counter++) + ".part";
        fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    } while (fd < 0 && (errno == EEXIST || errno == EINTR));
    if (fd < 0) CannotCreate(path, errno);

    int error = 0;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = errno;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (error == 0 && fsync(fd) != 0) error = errno;
    if (close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && rename(temporary.c_str(), path.c_str()) != 0) error = errno;
    if (error != 0) {
        unlink(temporary.c_str());
        CannotCreate(path, error);
    }
}

// Printable form of a refused name for the log.
std::string ShownName(std::string_view name) {
    std::string shown(LogPart(name));
    for (char& c : shown) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) c = '?';
    }
    return Cp1250ToUtf8(shown) + (shown.size() < name.size() ? "..." : "");
}

class Run {
  public:
    Run(LiveUpdateHost& host, HttpSource& http, const LiveUpdateLimits& limits)
        : host_(host), http_(http), limits_(limits) {}

    void Execute() {
        host_.LogClear();
        host_.ProcessMessages();
        base_ = host_.BaseDirectory();
        address_ = LiveUpdateBaseAddress();
        for (const std::string& line : host_.DeviceTypeLines()) DeviceType(line);
        host_.LogAppend("Aktualizacja oprogramowania zakończona.");
    }

  private:
    void DeviceType(const std::string& line) {
        const std::string folder = CutFolder(line);
        if (!UsableStoreFolder(base_, folder, address_) || !StaysInBase(FolderOnDisk(folder))) {
            host_.LogAppend("Błąd : niedozwolona nazwa katalogu : " + ShownName(folder));
            return;
        }
        const std::string store = JoinPath(base_, FolderOnDisk(folder));
        const std::string remote = address_ + EncodeUrlPath(folder) + "/";
        const std::string shown = Cp1250ToUtf8(folder);
        RemoveStaleTemporaries(store);

        host_.LogAppend("Pobieram listę oprogramowania dla : " + shown);
        const std::string list = http_.Get(remote + "lista.txt", limits_.textBodyCap);
        host_.LogAppend("Pobieram opis dla : " + shown);
        WriteFileWhole(JoinPath(store, "opis.txt"),
                       http_.Get(remote + "opis.txt", limits_.textBodyCap));
        host_.ProcessMessages();

        for (const std::string& name : SplitFirmwareList(list)) Firmware(name, store, remote);
    }

    void Firmware(const std::string& name, const std::string& store, const std::string& remote) {
        if (!IsPlainFileName(name) || !UsableStoreFile(store, name, remote)) {
            host_.LogAppend("Błąd : niedozwolona nazwa pliku : " + ShownName(name) + ".bin");
            return;
        }
        const std::string file = Cp1250ToUtf8(name) + ".bin";
        if (IsRegularFile(JoinPath(base_, file)) || HoldsFileIgnoringCase(store, file)) {
            host_.LogAppend(file + " : JEST");
            return;
        }
        host_.LogAppend(file + " : POBIERAM");
        const std::string body =
            http_.GetAtMost(remote + EncodeUrlPath(name) + ".bin", kFirmwareFileSize);
        if (body.size() == kFirmwareFileSize) {
            WriteFileWhole(JoinPath(store, file), body);
        } else {
            host_.LogAppend(
                "Błąd : niewłąściwy rozmiar pliku, wykonaj aktualizacje jeszcze raz...");
        }
    }

    LiveUpdateHost& host_;
    HttpSource& http_;
    const LiveUpdateLimits& limits_;
    std::string base_;
    std::string address_;
};

}  // namespace

void RunLiveUpdate(LiveUpdateHost& host, HttpSource& http, const LiveUpdateLimits& limits) {
    // The run processes window messages, so START can be clicked again inside it.
    static bool running = false;
    if (running) return;
    running = true;
    struct Finish {
        HttpSource& http;
        ~Finish() {
            http.EndOfRun();
            http.SetWaitPass(nullptr);
            running = false;
        }
    } finish{http};
    http.SetWaitPass([&host] { host.PaintOnlyPass(); });
    Run(host, http, limits).Execute();
}

std::string LiveUpdateBaseAddress() {
    const char* configured = std::getenv("TANDEL_LIVEUPDATE_URL");
    std::string address =
        configured != nullptr && *configured != '\0' ? configured : kLiveUpdateAddress;
    if (address.back() != '/') address += '/';
    return address;
}

std::string EncodeUrlPath(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    static constexpr std::string_view kKept =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-._~!$&'()*+,;=:@/";
    std::string out;
    for (const char c : bytes) {
        if (kKept.find(c) != std::string_view::npos) {
            out += c;
        } else {
            const auto byte = static_cast<unsigned char>(c);
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        }
    }
    return out;
}

std::vector<std::string> SplitFirmwareList(std::string_view text) {
    std::vector<std::string> names;
    std::string current;
    for (const char c : text) {
        if (c == '\n') continue;
        if (c == '\r') {
            names.push_back(std::move(current));
            current.clear();
        } else {
            current += c;
        }
    }
    return names;
}

bool IsPlainFileName(std::string_view name) {
    if (name == "." || name == "..") return false;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || byte < 0x20 || byte == 0x7F) return false;
    }
    return true;
}
