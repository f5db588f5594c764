#include "PtyDeviceSet.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "PortNames.h"

namespace fs = std::filesystem;

namespace {

// Status lines of the server's own program, as it talks on its line until it is reset.
std::vector<uint8_t> Chatter(size_t bytes) {
    static const std::string kLine = "STAN: 0 OK\r\n";
    std::vector<uint8_t> chatter;
    for (size_t k = 0; k < bytes; ++k)
        chatter.push_back(static_cast<uint8_t>(kLine[k % kLine.size()]));
    return chatter;
}

ServerModel::Options ServerOptions(const PtyDeviceSet::Options& options) {
    ServerModel::Options server = ServerOptionsWith(options.faults);
    server.chatter = Chatter(options.serverChatter);
    return server;
}

}  // namespace

PtyDeviceSet::PtyDeviceSet(const Options& options)
    : flashDir_(options.flashDir),
      serverCard_(CardOptionsWith(options.faults, FaultTarget::ServerCard)),
      server_(ServerOptions(options), &serverCard_),
      readerCard_(CardOptionsWith(options.faults, FaultTarget::ReaderCard)),
      com1_(ComLabel(1), server_, kServerResetAfterMs, {8, false, 1}, options.pacing),
      com2_(ComLabel(2), readerCard_, kReaderResetAfterMs, {8, true, 2}, options.pacing) {
    com1_.SetOnClosed([this] {
        SaveFlash("COM1-server.bin", server_.Boot());
        SaveFlash("COM1-card.bin", serverCard_.Boot());
    });
    com2_.SetOnClosed([this] { SaveFlash("COM2-card.bin", readerCard_.Boot()); });
    com1_.SetReplugAfter(options.replugAfterMs);
    com2_.SetReplugAfter(options.replugAfterMs);
}

void PtyDeviceSet::Create(const std::string& portDir) {
    fs::create_directories(portDir);
    if (!flashDir_.empty()) fs::create_directories(flashDir_);
    com1_.Create(portDir);
    com2_.Create(portDir);
}

void PtyDeviceSet::Describe(std::ostream& out) const {
    out << "COM1 -> " << com1_.SlavePath()
        << ": server with a card behind it (kinds 1 and 3: port box COM1; kinds 2 and 5: Auto)\n"
        << "COM2 -> " << com2_.SlavePath()
        << ": card reader with a card in it (kind 4: port box COM2)\n";
}

void PtyDeviceSet::SaveFlash() const {
    SaveFlash("COM1-server.bin", server_.Boot());
    SaveFlash("COM1-card.bin", serverCard_.Boot());
    SaveFlash("COM2-card.bin", readerCard_.Boot());
}

// Whole or not at all: a reader never sees half a flash. A flash the program never erased or
// wrote is not saved, so a file there means that device was programmed (or its programming
// began).
void PtyDeviceSet::SaveFlash(const std::string& file, const BootLoader& boot) const {
    if (flashDir_.empty()) return;
    const auto& flash = boot.Flash();
    if (std::all_of(flash.begin(), flash.end(),
                    [](uint8_t byte) { return byte == BootLoader::kFreshFlashByte; })) {
        return;
    }
    const fs::path target = fs::path(flashDir_) / file;
    const fs::path temporary = fs::path(flashDir_) / ("." + file + ".tmp");
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(boot.Flash().data()),
                  static_cast<std::streamsize>(boot.Flash().size()));
        if (!out) throw std::system_error(errno, std::generic_category(), temporary.string());
    }
    fs::rename(temporary, target);
}
