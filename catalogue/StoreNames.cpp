#include "StoreNames.h"

#include <charconv>
#include <climits>

#include "BaseDirectory.h"
#include "Cp1250.h"
#include "DeviceConfig.h"
#include "Platform.h"

namespace {

constexpr std::string_view kTemporaryPrefix = ".tandel-";
constexpr std::string_view kTemporarySuffix = ".part";
// The longest name a run writes into a device folder: opis.txt, or its temporary file with a
// process id and a counter of up to ten digits each.
constexpr std::size_t kLongestWrittenName = 8 + 10 + 1 + 10 + 5;

// Every piece of the path no longer than the system takes and a name it can hold.
bool PiecesFit(std::string_view path) {
    std::size_t start = 0;
    for (;;) {
        std::size_t end = start;
        while (end < path.size() && !platform::IsPathSeparator(path[end])) ++end;
        const std::string_view piece = path.substr(start, end - start);
        if (piece.size() > platform::kNameMax || !platform::SystemCanHoldName(piece)) return false;
        if (end == path.size()) return true;
        start = end + 1;
    }
}

// The process id of a temporary file name (for people; the lock decides), 0 when the name
// is none.
long TemporaryOwner(std::string_view name) {
    if (!name.starts_with(kTemporaryPrefix) || !name.ends_with(kTemporarySuffix)) return 0;
    name.remove_prefix(kTemporaryPrefix.size());
    name.remove_suffix(kTemporarySuffix.size());
    const std::size_t dash = name.find('-');
    if (dash == std::string_view::npos || dash == 0 || dash + 1 == name.size()) return 0;
    long pid = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + dash, pid);
    if (error != std::errc() || end != name.data() + dash || pid <= 0 || pid > INT_MAX) return 0;
    for (const char c : name.substr(dash + 1)) {
        if (c < '0' || c > '9') return 0;
    }
    return pid;
}

}  // namespace

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

bool UsableStoreFolder(const std::string& base, std::string_view folder,
                       const std::string& address) {
    // Every byte is at least one on disk and in the address: a long folder fails unconverted.
    if (base.size() + folder.size() >= platform::kPathMax ||
        address.size() + folder.size() > kUrlLimit)
        return false;
    const std::string onDisk = FolderOnDisk(folder);
    const std::string store = JoinPath(base, onDisk);
    return PiecesFit(onDisk) && store.size() + 1 + kLongestWrittenName < platform::kPathMax &&
           (address + EncodeUrlPath(folder) + "/lista.txt").size() <= kUrlLimit;
}

bool UsableStoreFile(const std::string& store, std::string_view name, const std::string& remote) {
    if (name.size() > platform::kNameMax || remote.size() + name.size() > kUrlLimit) return false;
    const std::string file = Cp1250ToUtf8(name) + ".bin";
    return file.size() <= platform::kNameMax && platform::SystemCanHoldName(file) &&
           store.size() + 1 + file.size() < platform::kPathMax &&
           (remote + EncodeUrlPath(name) + ".bin").size() <= kUrlLimit;
}

std::string_view LogPart(std::string_view name) {
    return name.substr(0, 255);
}

int RemoveStaleTemporaries(const std::string& directory) {
    int removed = 0;
    for (const std::string& name : platform::ListFolder(directory)) {
        if (TemporaryOwner(name) == 0) continue;
        if (platform::RemoveUnlessHeld(JoinPath(directory, name))) ++removed;
    }
    return removed;
}
