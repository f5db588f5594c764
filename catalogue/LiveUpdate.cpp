#include "LiveUpdate.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <exception>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <unordered_set>
#include <utility>

#include "BaseDirectory.h"
#include "Cp1250.h"
#include "DeviceConfig.h"
#include "FirmwareStore.h"
#include "HttpSource.h"
#include "NameOrder.h"
#include "Platform.h"
#include "StoreBatch.h"
#include "StoreNames.h"

namespace {

using Clock = std::chrono::steady_clock;

// Stored files are flushed together, up to this many, or once the first of them has waited
// this long (its log lines wait with it).
constexpr std::size_t kBatchFiles = 128;
constexpr std::chrono::milliseconds kBatchAge{250};
// Lists and descriptions held in memory ahead of their turn: those of two device types.
constexpr std::size_t kWaitingTexts = 4;

bool IsRegularFile(const std::string& path) {
    return platform::KindOf(path) == platform::FileKind::Regular;
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

// One body the run asks for: fetched ahead, or when its turn comes.
struct Request {
    HttpSource::Ticket ticket = 0;  // 0: not started
    bool finished = false;
    bool settled = false;  // taken or dropped at its turn
    bool text = false;     // a list or description
    std::string body;
    std::exception_ptr failure;
};

struct FirmwareItem {
    std::string name;  // CP1250 bytes as listed
    std::string file;  // UTF-8 name + ".bin"; empty for a name that is refused
    bool ahead = false;
    Request request;
};

struct DeviceType {
    std::string folder;
    bool allowed = false;
    std::string store;
    std::string remote;
    Request list;
    Request description;
    bool planned = false;  // its list has arrived and `files` is filled
    std::vector<FirmwareItem> files;
};

using StoreKey = std::pair<std::string, std::u32string>;  // folder, folded file name

// Stored files waiting for their flush, with the log lines held until they are in place.
struct Batch {
    std::unique_ptr<StoreBatch> files = std::make_unique<StoreBatch>();
    std::vector<StoreKey> stored;      // its files, in order
    std::vector<std::string> lines;    // lines held for it
    std::vector<std::size_t> marks;    // per file: the held lines up to its own
    std::future<void> flushed;         // its Commit, run on a thread of its own
};

class Run {
  public:
    Run(LiveUpdateHost& host, HttpSource& http, const LiveUpdateLimits& limits)
        : host_(host),
          http_(http),
          limits_(limits),
          transfers_(std::max<std::size_t>(1, limits.transfers)) {}

    LiveUpdateSummary Execute() {
        host_.LogClear();
        host_.ProcessMessages();
        base_ = host_.BaseDirectory();
        address_ = LiveUpdateBaseAddress();
        for (const std::string& line : host_.DeviceTypeLines()) {
            DeviceType& type = types_.emplace_back();
            type.folder = CutFolder(line);
            type.allowed = UsableStoreFolder(base_, type.folder, address_) &&
                           StaysInBase(FolderOnDisk(type.folder));
            type.store = JoinPath(base_, FolderOnDisk(type.folder));
            type.remote = address_ + EncodeUrlPath(type.folder) + "/";
        }
        try {
            for (DeviceType& type : types_) {
                if (Stopping()) break;
                Turn(type);
            }
            Commit();
        } catch (...) {
            // What was fetched before the failure is stored, as it would have been.
            Commit();
            throw;
        }
        summary_.stopped = Stopping();
        host_.LogAppend(summary_.stopped ? kLineUpdateStopped
                                         : "Aktualizacja oprogramowania zakończona.");
        return summary_;
    }

  private:
    // A device type's turn: in the order and with the lines of a run fetching one at a time.
    void Turn(DeviceType& type) {
        const std::string shown = Cp1250ToUtf8(type.folder);
        if (!type.allowed) {
            Log("Błąd : niedozwolona nazwa katalogu : " + ShownName(type.folder));
            ++summary_.skippedTypes;
            return;
        }
        RemoveStaleTemporaries(type.store);
        Log("Pobieram listę oprogramowania dla : " + shown);
        Await(type.list);
        Log("Pobieram opis dla : " + shown);
        Store(type.store, "opis.txt", Await(type.description), {});
        host_.ProcessMessages();
        for (FirmwareItem& item : type.files) {
            if (Stopping()) return;
            Turn(type, item);
        }
    }

    // Once the host has asked to stop, the run stops at its next look.
    bool Stopping() {
        stopped_ = stopped_ || host_.StopRequested();
        return stopped_;
    }

    void Turn(DeviceType& type, FirmwareItem& item) {
        if (batch_.files->Size() != 0 && Clock::now() - batchStart_ >= kBatchAge)
            CommitFetching();
        if (item.file.empty()) {
            Log("Błąd : niedozwolona nazwa pliku : " + ShownName(item.name) + ".bin");
            ++summary_.refused;
            return;
        }
        // A file stored earlier in this run counts as present only once it is in place.
        if (pending_.count({type.store, FoldedName(item.file)}) != 0) {
            Feed();
            Commit();
        }
        if (Present(type.store, item.file)) {
            Log(item.file + " : JEST");
            ++summary_.present;
            Drop(item.request);
            return;
        }
        Log(item.file + " : POBIERAM");
        if (item.request.ticket == 0) StartFirmware(type, item);
        const std::string body = Await(item.request);
        if (body.size() != kFirmwareFileSize) {
            Log("Błąd : niewłąściwy rozmiar pliku, wykonaj aktualizacje jeszcze raz...");
            ++summary_.refused;
            return;
        }
        ++summary_.stored;
        pending_.insert({type.store, FoldedName(item.file)});
        Store(type.store, item.file, body, FoldedName(item.file));
    }

    // Adds a file to the batch; `folded` is its name for the local test (empty: opis.txt).
    void Store(const std::string& store, const std::string& file, const std::string& body,
               std::u32string folded) {
        if (batch_.files->Size() == 0) batchStart_ = Clock::now();
        batch_.files->Add(JoinPath(store, file), body);
        batch_.marks.push_back(batch_.lines.size());
        batch_.stored.push_back({store, std::move(folded)});
        if (batch_.files->Size() >= kBatchFiles) CommitFetching();
    }

    // The network keeps working while the batch is flushed: its flush runs beside the run,
    // which goes on fetching into the next batch (the one before is put in place first).
    void CommitFetching() {
        Feed();
        Launch();
    }

    void Launch() {
        if (batch_.files->Size() == 0) return;
        Land(true);
        Batch& flight = flight_.emplace(std::move(batch_));
        batch_ = Batch{};
        flight.flushed = std::async(std::launch::async, [files = flight.files.get()] {
            files->Commit();
        });
    }

    // Takes in the batch being flushed once its flush is done (waiting for it when `wait`).
    void Land(bool wait) {
        if (!flight_) return;
        if (!wait && flight_->flushed.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
            return;
        Batch done = std::move(*flight_);
        flight_.reset();
        Placed(done);
    }

    // Puts every stored file in place and shows the lines held for them.
    void Commit() {
        Launch();
        Land(true);
    }

    // The local test: a regular file of that name in the base directory, or one of that name
    // up to letter case in the device folder (read once, then kept up to date by the run).
    bool Present(const std::string& store, const std::string& file) {
        if (IsRegularFile(JoinPath(base_, file))) return true;
        auto [found, fresh] = present_.try_emplace(store);
        if (fresh) found->second = FoldedFileNames(store);
        return found->second.count(FoldedName(file)) != 0;
    }

    // Lines written while stored files wait for their flush are shown once those are in
    // place, so that the log never tells of more than the store holds.
    void Log(const std::string& line) {
        if (batch_.files->Size() == 0 && !flight_) {
            host_.LogAppend(line);
        } else {
            batch_.lines.push_back(line);
        }
    }

    // A flushed batch: its files count as present and its lines are shown, and so are the
    // lines held behind it when no file waits after them. When a file could not be stored,
    // the run ends there: the lines up to its own are shown, nothing fetched after it is
    // stored, and its error is thrown.
    void Placed(Batch& done) {
        std::size_t shown = done.lines.size();
        std::size_t placed = done.stored.size();
        std::string failure;
        try {
            done.flushed.get();
        } catch (const StoreBatch::Failure& error) {
            shown = done.marks[error.entry];
            placed = error.entry;
            failure = error.what();
        }
        for (std::size_t i = 0; i < placed; ++i) {
            const auto& [store, folded] = done.stored[i];
            if (!folded.empty()) present_[store].insert(folded);
        }
        for (const StoreKey& key : done.stored) pending_.erase(key);
        for (std::size_t i = 0; i < shown; ++i) host_.LogAppend(done.lines[i]);
        if (!failure.empty()) {
            batch_ = Batch{};
            throw std::runtime_error(failure);
        }
        if (batch_.files->Size() == 0) {
            for (const std::string& line : batch_.lines) host_.LogAppend(line);
            batch_.lines.clear();
        }
    }

    // Fetching ahead: starts the requests that come next in list order while there is Room()
    // (lists and descriptions that arrived early: kWaitingTexts at most). The list
    // and description of the next device type go before the files of this one, so that the
    // next files are known when this type's last ones are under way. It goes no further than
    // a device type whose list has not arrived.
    void Feed() {
        while (Room() && nextType_ < types_.size()) {
            DeviceType& type = types_[nextType_];
            if (!type.allowed) {
                ++nextType_;
            } else if (StartTexts(type)) {
            } else if (!type.planned || type.description.ticket == 0) {
                // Its list, then its description, go before its files: texts waiting at their
                // bound hold the description back, and its files wait with it.
                return;
            } else if (DeviceType* next = NextAllowed(nextType_ + 1);
                       next != nullptr && StartTexts(*next)) {
            } else if (nextFile_ < type.files.size()) {
                FirmwareItem& item = type.files[nextFile_++];
                if (item.ahead && item.request.ticket == 0 && !item.request.settled) {
                    StartFirmware(type, item);
                }
            } else {
                ++nextType_;
                nextFile_ = 0;
            }
        }
    }

    DeviceType* NextAllowed(std::size_t from) {
        for (std::size_t i = from; i < types_.size(); ++i)
            if (types_[i].allowed) return &types_[i];
        return nullptr;
    }

    // Starts the type's list or, once that is under way, its description; false when both are.
    bool StartTexts(DeviceType& type) {
        if (waitingTexts_ >= kWaitingTexts) return false;
        if (type.list.ticket == 0) {
            type.list.text = true;
            Start(type.list, type.remote + "lista.txt", limits_.textBodyCap, false, &type);
            return true;
        }
        if (type.description.ticket == 0) {
            type.description.text = true;
            Start(type.description, type.remote + "opis.txt", limits_.textBodyCap, false, nullptr);
            return true;
        }
        return false;
    }

    void StartFirmware(DeviceType& type, FirmwareItem& item) {
        Start(item.request, type.remote + EncodeUrlPath(item.name) + ".bin", kFirmwareFileSize,
              true, nullptr);
    }

    void Start(Request& request, const std::string& url, std::size_t cap, bool cutAtCap,
               DeviceType* listOf) {
        request.ticket = http_.Start(url, cap, cutAtCap);
        underWay_[request.ticket] = {&request, listOf};
    }

    // Waits for one request to finish and keeps its result for its turn.
    void Pump() {
        Feed();
        const HttpSource::Ticket ticket = http_.WaitAny();
        const auto found = underWay_.find(ticket);
        if (found == underWay_.end()) throw std::logic_error("LiveUpdate: unknown request");
        auto [request, listOf] = found->second;
        underWay_.erase(found);
        try {
            request->body = http_.Take(ticket);
        } catch (const std::runtime_error&) {
            request->failure = std::current_exception();
        }
        request->finished = true;
        ++(request->text ? waitingTexts_ : waitingBodies_);
        if (listOf != nullptr && !request->failure) Plan(*listOf);
        Feed();
        Land(false);
    }

    // The list of a device type has arrived: its names, and which of them to fetch ahead
    // (those the store lacks now and no earlier name of the run asks for already).
    void Plan(DeviceType& type) {
        for (std::string& name : SplitFirmwareList(type.list.body)) {
            FirmwareItem& item = type.files.emplace_back();
            item.name = std::move(name);
            if (!IsPlainFileName(item.name) ||
                !UsableStoreFile(type.store, item.name, type.remote))
                continue;
            item.file = Cp1250ToUtf8(item.name) + ".bin";
            if (Present(type.store, item.file)) continue;
            item.ahead = planned_.insert({type.store, FoldedName(item.file)}).second;
        }
        type.planned = true;
    }

    // The body of a request at its turn, or its failure thrown.
    std::string Await(Request& request) {
        while (!request.finished) {
            if (request.ticket == 0) Feed();
            // Not started for want of room: one under way finishes first.
            if (request.ticket == 0 && underWay_.empty())
                throw std::logic_error("LiveUpdate: request not started");
            Pump();
        }
        Settle(request);
        if (request.failure) std::rethrow_exception(request.failure);
        return std::move(request.body);
    }

    void Drop(Request& request) {
        if (request.ticket != 0 && !request.finished) {
            http_.Drop(request.ticket);
            underWay_.erase(request.ticket);
        }
        request.body = std::string();
        Settle(request);
    }

    // A request at its turn, or dropped (and then no longer under way).
    void Settle(Request& request) {
        request.settled = true;
        if (request.finished) --(request.text ? waitingTexts_ : waitingBodies_);
    }

    // Whether another request may start: one at a time, only when nothing is under way or
    // waiting; fetching ahead, while fewer than `transfers_` are under way and fewer than
    // that many firmware bodies wait for their turn.
    bool Room() const {
        if (transfers_ == 1) return underWay_.empty() && waitingBodies_ + waitingTexts_ == 0;
        return underWay_.size() < transfers_ && waitingBodies_ < transfers_;
    }

    LiveUpdateHost& host_;
    HttpSource& http_;
    const LiveUpdateLimits& limits_;
    const std::size_t transfers_;
    std::string base_;
    LiveUpdateSummary summary_;
    bool stopped_ = false;
    std::string address_;
    // Filled once; the requests of the types are pointed at by `underWay_`.
    std::deque<DeviceType> types_;

    std::map<HttpSource::Ticket, std::pair<Request*, DeviceType*>> underWay_;
    std::size_t waitingBodies_ = 0;  // firmware bodies arrived ahead of their turn
    std::size_t waitingTexts_ = 0;   // lists and descriptions arrived ahead of their turn
    std::size_t nextType_ = 0;
    std::size_t nextFile_ = 0;
    std::set<StoreKey> planned_;

    std::map<std::string, std::unordered_set<std::u32string>> present_;
    Batch batch_;                  // being filled
    std::optional<Batch> flight_;  // being flushed
    Clock::time_point batchStart_;
    std::set<StoreKey> pending_;  // stored by the run, not yet in place
};

}  // namespace

std::size_t LiveUpdateTransfers() {
    const char* configured = std::getenv("TANDEL_LIVEUPDATE_PARALLEL");
    if (configured == nullptr) return kMaxLiveUpdateTransfers;
    char* end = nullptr;
    const unsigned long value = std::strtoul(configured, &end, 10);
    if (end == configured || *end != '\0' || value == 0) return kMaxLiveUpdateTransfers;
    return std::min<std::size_t>(value, kMaxLiveUpdateTransfers);
}

namespace {
// The run processes window messages, so START can be clicked again inside it.
bool running = false;
}  // namespace

bool LiveUpdateRunning() {
    return running;
}

LiveUpdateSummary RunLiveUpdate(LiveUpdateHost& host, HttpSource& http,
                                const LiveUpdateLimits& limits) {
    if (running) return {};
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
    http.SetMaxTransfers(std::max<std::size_t>(1, limits.transfers));
    return Run(host, http, limits).Execute();
}

std::string LiveUpdateBaseAddress() {
    const char* configured = std::getenv("TANDEL_LIVEUPDATE_URL");
    std::string address =
        configured != nullptr && *configured != '\0' ? configured : kLiveUpdateAddress;
    if (address.back() != '/') address += '/';
    return address;
}

std::optional<std::string> StatusLabelText(THttpStatus status) {
    switch (status) {
        case hsResolving:
            return "Wyszukiwanie hosta";
        case hsConnecting:
            return "Łączenie z hostem";
        case hsConnected:
            return "Połączenie zestawione";
        case hsDisconnecting:
            return "Rozłączanie";
        case hsDisconnected:
            return "Rozłączono";
    }
    return std::nullopt;
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
