// The LiveUpdate run against an update server whose answers come from the input: lista.txt
// and opis.txt bodies, firmware bodies of any size, error statuses and network failures, over
// device-type lines and a store that the input also shapes. The run always ends (its final
// line, or the error box text), writes nothing outside the store, leaves no partial file and
// stores only firmware files of exactly 15180 bytes.
#include <cstddef>
#include <exception>
#include <fstream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "DeviceConfig.h"
#include "FuzzInput.h"
#include "HttpSource.h"
#include "LiveUpdate.h"
#include "Scratch.h"

namespace {

constexpr char kFinalLine[] = "Aktualizacja oprogramowania zakończona.";

// The update server: each request takes its answer from the input when it is started, and
// the input also picks which of the requests under way finishes next, so the run sees its
// fetched-ahead answers, failures included, in any order.
class InputServer : public HttpSource {
  public:
    explicit InputServer(FuzzInput& in) : in_(in) {}

    Ticket Start(const std::string& url, std::size_t cap, bool cutAtCap) override {
        Request request{++last_, {}, {}};
        try {
            request.body = Answer(url);
            if (request.body.size() > cap) {
                if (!cutAtCap) throw std::runtime_error("Response body exceeds the cap.");
                request.body.resize(cap + 1);
            }
        } catch (const std::runtime_error&) {
            request.failure = std::current_exception();
        }
        underWay_.push_back(std::move(request));
        // The request awaited next may go beyond the bound by one.
        FUZZ_CHECK(Held() <= maxTransfers + 1, "requests held: " + std::to_string(Held()));
        return last_;
    }
    Ticket WaitAny() override {
        FUZZ_CHECK(!underWay_.empty(), "a wait with nothing under way");
        const std::size_t pick = in_.Byte() % underWay_.size();
        finished_.push_back(std::move(underWay_[pick]));
        underWay_.erase(underWay_.begin() + static_cast<std::ptrdiff_t>(pick));
        return finished_.back().ticket;
    }
    std::string Take(Ticket ticket) override {
        for (auto it = finished_.begin(); it != finished_.end(); ++it) {
            if (it->ticket != ticket) continue;
            Request request = std::move(*it);
            finished_.erase(it);
            if (request.failure) std::rethrow_exception(request.failure);
            return std::move(request.body);
        }
        FUZZ_CHECK(false, "a ticket taken that has not finished");
        return {};
    }
    void Drop(Ticket ticket) noexcept override {
        std::erase_if(underWay_, [&](const Request& r) { return r.ticket == ticket; });
        std::erase_if(finished_, [&](const Request& r) { return r.ticket == ticket; });
    }
    void SetMaxTransfers(std::size_t transfers) override { maxTransfers = transfers; }
    void EndOfRun() noexcept override {
        ++ends;
        underWay_.clear();
        finished_.clear();
    }
    // Started and neither taken nor dropped.
    std::size_t Held() const { return underWay_.size() + finished_.size(); }

    std::size_t maxTransfers = 1;
    std::vector<std::string> urls;
    int ends = 0;

  private:
    struct Request {
        Ticket ticket;
        std::string body;
        std::exception_ptr failure;
    };

    std::string Answer(const std::string& url) {
        urls.push_back(url);
        const uint8_t choice = in_.Byte();
        if (choice >= 240) throw std::runtime_error("HTTP/1.1 404 Not Found");
        if (choice >= 232) throw std::runtime_error("Socket Error # 111\nConnection refused.");
        switch (choice % 4) {
            case 0:  // a text body
                return in_.Piece();
            case 1: {  // a firmware-sized body, give or take a byte
                static constexpr size_t kSizes[] = {kFirmwareFileSize, kFirmwareFileSize - 1,
                                                    kFirmwareFileSize + 1, 40000};
                return std::string(kSizes[in_.Byte() % 4], static_cast<char>(in_.Byte()));
            }
            case 2:  // a body of any size up to twice the firmware size
                return std::string(in_.Below(2 * kFirmwareFileSize), 'x');
            default:
                return {};
        }
    }

    FuzzInput& in_;
    Ticket last_ = 0;
    std::vector<Request> underWay_;
    std::vector<Request> finished_;
};

class Host : public LiveUpdateHost {
  public:
    Host(std::string base, std::vector<std::string> lines, HttpSource& http, bool startAgain)
        : base_(std::move(base)), lines_(std::move(lines)), http_(http), startAgain_(startAgain) {}

    void LogClear() override { log.clear(); }
    void LogAppend(const std::string& line) override { log.push_back(line); }
    void ProcessMessages() override {
        // START clicked again while the run processes messages: it must do nothing.
        if (!startAgain_) return;
        startAgain_ = false;
        const size_t before = log.size();
        RunLiveUpdate(*this, http_);
        FUZZ_CHECK(log.size() == before, "a nested start ran");
    }
    void PaintOnlyPass() override {}
    std::vector<std::string> DeviceTypeLines() override { return lines_; }
    std::string BaseDirectory() override { return base_; }

    std::vector<std::string> log;

  private:
    std::string base_;
    std::vector<std::string> lines_;
    HttpSource& http_;
    bool startAgain_;
};

bool StartsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}
bool EndsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() &&
           s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool IsDesignedLine(const std::string& line) {
    static const std::vector<std::string> kPrefixes = {
        "Pobieram listę oprogramowania dla : ",
        "Pobieram opis dla : ",
        "Błąd : niedozwolona nazwa pliku : ",
        "Błąd : niedozwolona nazwa katalogu : ",
    };
    for (const auto& prefix : kPrefixes)
        if (StartsWith(line, prefix)) return true;
    return line == kFinalLine ||
           line == "Błąd : niewłąściwy rozmiar pliku, wykonaj aktualizacje jeszcze raz..." ||
           EndsWith(line, ".bin : JEST") || EndsWith(line, ".bin : POBIERAM");
}

bool IsValidUtf8(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const size_t n = c < 0x80         ? 1
                         : (c >> 5) == 6  ? 2
                         : (c >> 4) == 14 ? 3
                         : (c >> 3) == 30 ? 4
                                          : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
        i += n;
    }
    return true;
}

// A URL may carry only the characters that stand in a URL path as they are, and '%'.
bool IsUrlSafe(const std::string& url) {
    static const std::string kAllowed =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-._~!$&'()*+,;=:@/%";
    return url.find_first_not_of(kAllowed) == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const std::filesystem::path outer = FreshFolder("outer");
    const std::filesystem::path base = outer / "base";
    std::filesystem::create_directory(base);

    // Device-type lines; the start-up makes the folders of some of them, and a folder may
    // already hold a file (or a directory) of a listed name.
    std::vector<std::string> lines(1 + in.Byte() % 3);
    std::set<std::filesystem::path> placed;
    for (std::string& line : lines) {
        // As init.cfg gives it: a line holds no NUL, CR or LF.
        line = in.Piece();
        line = line.substr(0, line.find_first_of(std::string("\0\r\n", 3)));
        const uint8_t shape = in.Byte();
        if (shape & 1) continue;
        CreateDeviceFolders(base.string(), {line});
        const std::string folder = FolderOnDisk(CutFolder(line));
        if (!(shape & 2) || folder.find("..") != std::string::npos) continue;
        const std::string name = in.Piece();
        if (name.find('/') != std::string::npos || name.find('\0') != std::string::npos) continue;
        const std::filesystem::path file = base / folder / (name + ".bin");
        std::error_code ignored;
        if (shape & 4) {
            std::filesystem::create_directory(file, ignored);
        } else {
            std::ofstream(file, std::ios::binary) << "held";
        }
        placed.insert(std::filesystem::relative(file, base));
    }

    InputServer server(in);
    Host host(base.string(), lines, server, (in.Byte() & 1) != 0);
    const LiveUpdateLimits limits{.transfers = 1 + in.Byte() % kMaxLiveUpdateTransfers};
    std::string failure;
    bool failed = false;
    try {
        RunLiveUpdate(host, server, limits);
    } catch (const std::runtime_error& error) {
        failed = true;
        failure = error.what();
    }

    FUZZ_CHECK(server.ends == 1, "EndOfRun calls: " + std::to_string(server.ends));
    FUZZ_CHECK(server.maxTransfers == limits.transfers, "transfers not passed on");
    if (failed) {
        FUZZ_CHECK(!failure.empty(), "an empty error box");
        FUZZ_CHECK(host.log.empty() || host.log.back() != kFinalLine, "final line after a failure");
    } else {
        FUZZ_CHECK(!host.log.empty() && host.log.back() == kFinalLine, "no final line");
    }
    for (const std::string& line : host.log) {
        FUZZ_CHECK(IsDesignedLine(line), line);
        FUZZ_CHECK(IsValidUtf8(line), line);
    }
    for (const std::string& url : server.urls) {
        FUZZ_CHECK(StartsWith(url, LiveUpdateBaseAddress()), url);
        FUZZ_CHECK(IsUrlSafe(url.substr(LiveUpdateBaseAddress().size())), url);
    }

    for (const auto& entry : std::filesystem::directory_iterator(outer))
        FUZZ_CHECK(entry.path() == base, "written outside the store: " + entry.path().string());
    for (const std::filesystem::path& relative : TreeOf(base)) {
        const std::filesystem::path path = base / relative;
        const std::string name = relative.filename().string();
        // Folders are the start-up's, named by init.cfg; the run writes only files.
        if (std::filesystem::is_directory(std::filesystem::symlink_status(path))) continue;
        // A file laid out before the run may have any name, ".tandel-" ones included.
        if (placed.count(relative) != 0) continue;
        FUZZ_CHECK(!StartsWith(name, ".tandel-"), "a partial file is left: " + relative.string());
        if (EndsWith(name, ".bin"))
            FUZZ_CHECK(std::filesystem::file_size(path) == kFirmwareFileSize, relative.string());
    }
    return 0;
}
