#include "HttpClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <deque>
#include <exception>
#include <limits>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string_view>
#include <utility>
#include <vector>

#include "HttpFailureText.h"
#include "Platform.h"
#include "TransferWatch.h"

namespace {

using Clock = std::chrono::steady_clock;

// The wait pass runs this often while a request waits; a slice of waiting for the sockets
// never lasts longer.
constexpr std::chrono::milliseconds kPassInterval{20};

struct CurlDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct ShareDeleter {
    void operator()(CURLSH* share) const { curl_share_cleanup(share); }
};
struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlPtr = std::unique_ptr<CURL, CurlDeleter>;
using MultiPtr = std::unique_ptr<CURLM, MultiDeleter>;
using SharePtr = std::unique_ptr<CURLSH, ShareDeleter>;
using SlistPtr = std::unique_ptr<curl_slist, SlistDeleter>;

template <class T>
void SetOption(CURL* curl, CURLoption option, T value, const char* name) {
    const CURLcode rc = curl_easy_setopt(curl, option, value);
    if (rc != CURLE_OK) {
        throw std::runtime_error(std::string("curl_easy_setopt(") + name +
                                 ") failed: " + curl_easy_strerror(rc));
    }
}

void CheckMulti(CURLMcode rc, const char* what) {
    if (rc != CURLM_OK) {
        throw std::runtime_error(std::string(what) + " failed: " + curl_multi_strerror(rc));
    }
}

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            throw std::runtime_error("curl_global_init failed");
        }
    });
}

SlistPtr RequestHeaders() {
    SlistPtr list;
    for (const char* header :
         {"Accept: text/html, */*", "User-Agent: Mozilla/3.0 (compatible; Indy Library)"}) {
        curl_slist* grown = curl_slist_append(list.get(), header);
        if (grown == nullptr) throw std::bad_alloc();
        list.release();
        list.reset(grown);
    }
    return list;
}

std::string AddressText(const curl_sockaddr* address) {
    return platform::SocketAddressText(&address->addr);
}

}  // namespace

// One request under way or finished, on its own easy handle. Handles are kept for reuse
// while the client lives.
struct HttpClient::Transfer {
    explicit Transfer(State& owner) : state(owner) {}

    State& state;
    CurlPtr curl;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    HttpSource::Ticket ticket = 0;  // 0: free
    bool attached = false;          // added to the multi handle
    bool finished = false;
    CURLcode result = CURLE_OK;

    std::string body;
    std::size_t cap = 0;
    bool cutAtCap = false;
    bool overCap = false;
    bool tooSlow = false;
    std::string statusLine;
    TransferWatch watch{{}, {}, 0};

    static int OnPrereq(void* self, char*, char*, int, int);
    static size_t OnHeader(char* data, size_t size, size_t count, void* self);
    static size_t OnBody(char* data, size_t size, size_t count, void* self);
};

// Everything libcurl's callbacks point at; it stays at one address for the client's life,
// so the client itself can move.
struct HttpClient::State {
    // Holds the kept-alive connections between requests; made afresh after EndOfRun.
    MultiPtr multi;
    SharePtr share;  // the cookies of every handle
    SlistPtr headers;
    std::vector<std::unique_ptr<Transfer>> transfers;
    std::deque<Ticket> finished;  // finished, not yet named by WaitAny
    Ticket lastTicket = 0;
    std::size_t maxTransfers = 1;
    StatusHandler onStatus;
    std::function<void()> waitPass;
    HttpTimeouts timeouts;
    bool busy = false;
    // No notifications while requests are dropped because an exception is on its way out.
    bool quiet = false;
    std::exception_ptr handlerError;

    // The connection state as the status handler sees it: resolving, connecting and connected
    // are told once on the way up from no open connection, disconnecting and disconnected when
    // the last open one closes.
    enum class Phase { kDown, kResolving, kConnecting, kConnected };
    Phase phase = Phase::kDown;
    int openSockets = 0;

    // libcurl closes sockets while it is torn down: that is no news for the window, and the
    // callbacks must find the rest of the state alive.
    ~State() {
        onStatus = nullptr;
        for (auto& t : transfers) Detach(*t);
        multi.reset();
        transfers.clear();
    }

    void Notify(THttpStatus status, const std::string& text) {
        if (!onStatus || handlerError || quiet) return;
        try {
            onStatus(status, text);
        } catch (...) {
            handlerError = std::current_exception();
        }
    }

    CURLM* Multi() {
        if (!multi) {
            multi.reset(curl_multi_init());
            if (!multi) throw std::runtime_error("curl_multi_init failed");
            const long connections = static_cast<long>(maxTransfers);
            CheckMulti(curl_multi_setopt(multi.get(), CURLMOPT_MAXCONNECTS, connections),
                       "curl_multi_setopt(MAXCONNECTS)");
            CheckMulti(curl_multi_setopt(multi.get(), CURLMOPT_MAX_HOST_CONNECTIONS, connections),
                       "curl_multi_setopt(MAX_HOST_CONNECTIONS)");
            CheckMulti(curl_multi_setopt(multi.get(), CURLMOPT_PIPELINING,
                                         static_cast<long>(CURLPIPE_MULTIPLEX)),
                       "curl_multi_setopt(PIPELINING)");
        }
        return multi.get();
    }

    // Taking a handle off ends a transfer still under way and closes its connection.
    void Detach(Transfer& t) {
        if (!t.attached) return;
        curl_multi_remove_handle(multi.get(), t.curl.get());
        t.attached = false;
    }

    void Free(Transfer& t) {
        Detach(t);
        t.ticket = 0;
        t.finished = false;
        t.body = std::string();
    }

    Transfer* Find(Ticket ticket) {
        for (auto& t : transfers)
            if (t->ticket == ticket) return t.get();
        return nullptr;
    }

    Transfer& FreeTransfer();

    void Finish(Transfer& t, CURLcode result) {
        Detach(t);
        t.finished = true;
        t.result = result;
        finished.push_back(t.ticket);
    }

    // Every request under way is dropped; an exception is on its way out.
    void DropQuietly() {
        quiet = true;
        for (auto& t : transfers)
            if (t->ticket != 0) Free(*t);
        finished.clear();
        quiet = false;
    }

    // Runs the transfers in slices, with the wait pass between them, until one has finished.
    void WaitForOne() {
        CURLM* m = Multi();
        auto lastPass = Clock::now();
        while (finished.empty()) {
            int running = 0;
            CheckMulti(curl_multi_perform(m, &running), "curl_multi_perform");
            if (handlerError) return;
            int queued = 0;
            while (const CURLMsg* message = curl_multi_info_read(m, &queued)) {
                if (message->msg != CURLMSG_DONE) continue;
                for (auto& t : transfers) {
                    if (t->attached && t->curl.get() == message->easy_handle) {
                        Finish(*t, message->data.result);
                        break;
                    }
                }
            }
            const auto now = Clock::now();
            for (auto& t : transfers) {
                if (t->attached && t->watch.Expired(now)) {
                    t->tooSlow = true;
                    Finish(*t, CURLE_OPERATION_TIMEDOUT);
                }
            }
            if (handlerError || !finished.empty()) return;
            if (waitPass && Clock::now() - lastPass >= kPassInterval) {
                waitPass();
                lastPass = Clock::now();
            }
            const auto untilPass = std::chrono::duration_cast<std::chrono::milliseconds>(
                kPassInterval - (Clock::now() - lastPass));
            const int waitMs = static_cast<int>(
                std::clamp<long>(untilPass.count(), 1, static_cast<long>(kPassInterval.count())));
            CheckMulti(curl_multi_poll(m, nullptr, 0, waitMs, nullptr), "curl_multi_poll");
        }
    }

    static int OnResolverStart(void*, void*, void* self) {
        auto* state = static_cast<State*>(self);
        if (state->phase == Phase::kDown) {
            state->phase = Phase::kResolving;
            state->Notify(hsResolving, "Resolving hostname.");
        }
        return state->handlerError ? 1 : 0;
    }

    static curl_socket_t OnOpenSocket(void* self, curlsocktype purpose, curl_sockaddr* address) {
        auto* state = static_cast<State*>(self);
        if (purpose != CURLSOCKTYPE_IPCXN) return CURL_SOCKET_BAD;
        // A lookup that began while another connection was open was not told.
        if (state->phase == Phase::kDown) {
            state->phase = Phase::kResolving;
            state->Notify(hsResolving, "Resolving hostname.");
        }
        if (state->phase == Phase::kResolving) {
            state->phase = Phase::kConnecting;
            state->Notify(hsConnecting, "Connecting to " + AddressText(address) + ".");
        }
        if (state->handlerError) return CURL_SOCKET_BAD;
        const intptr_t fd =
            platform::OpenSocket(address->family, address->socktype, address->protocol);
        if (fd == -1) return CURL_SOCKET_BAD;
        ++state->openSockets;
        return static_cast<curl_socket_t>(fd);
    }

    // The last open socket closing is the disconnection the user sees; a failed attempt
    // while another address is still being tried, or one of several connections, is not.
    static int OnCloseSocket(void* self, curl_socket_t fd) {
        auto* state = static_cast<State*>(self);
        const bool last = state->openSockets == 1;
        if (last) state->Notify(hsDisconnecting, "Disconnecting.");
        const int rc = platform::CloseSocket(static_cast<intptr_t>(fd));
        if (state->openSockets > 0) --state->openSockets;
        if (last) {
            state->phase = Phase::kDown;
            state->Notify(hsDisconnected, "Disconnected.");
        }
        return rc;
    }
};

// Runs before every request is sent, on a new connection or a kept-alive one.
int HttpClient::Transfer::OnPrereq(void* self, char*, char*, int, int) {
    auto* t = static_cast<Transfer*>(self);
    HttpClient::State& state = t->state;
    t->watch.Start(Clock::now());
    if (state.phase == State::Phase::kConnecting && state.openSockets > 0) {
        state.phase = State::Phase::kConnected;
        state.Notify(hsConnected, "Connected.");
    }
    return state.handlerError ? CURL_PREREQFUNC_ABORT : CURL_PREREQFUNC_OK;
}

size_t HttpClient::Transfer::OnHeader(char* data, size_t size, size_t count, void* self) {
    auto* t = static_cast<Transfer*>(self);
    const size_t length = size * count;
    t->watch.Received(Clock::now(), length);
    std::string_view line(data, length);
    if (line.starts_with("HTTP/")) {
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
            line.remove_suffix(1);
        }
        t->statusLine = line;
    }
    return length;
}

// Keeps at most cap + 1 bytes; past that the transfer is stopped.
size_t HttpClient::Transfer::OnBody(char* data, size_t size, size_t count, void* self) {
    auto* t = static_cast<Transfer*>(self);
    const size_t length = size * count;
    t->watch.Received(Clock::now(), length);
    const size_t room = t->cap - t->body.size();
    if (length <= room) {
        t->body.append(data, length);
        return length;
    }
    t->body.append(data, room + 1);
    t->overCap = true;
    return CURL_WRITEFUNC_ERROR;
}

// A free handle, made with the client's settings when none is left.
HttpClient::Transfer& HttpClient::State::FreeTransfer() {
    for (auto& t : transfers)
        if (t->ticket == 0) return *t;
    auto made = std::make_unique<Transfer>(*this);
    made->curl.reset(curl_easy_init());
    if (!made->curl) throw std::runtime_error("curl_easy_init failed");
    CURL* curl = made->curl.get();
    Transfer* self = made.get();
    SetOption(curl, CURLOPT_ERRORBUFFER, made->errorBuffer, "ERRORBUFFER");
    SetOption(curl, CURLOPT_NOSIGNAL, 1L, "NOSIGNAL");
    SetOption(curl, CURLOPT_PROTOCOLS_STR, "http,https", "PROTOCOLS_STR");
    SetOption(curl, CURLOPT_HTTPGET, 1L, "HTTPGET");
    SetOption(curl, CURLOPT_HTTPHEADER, headers.get(), "HTTPHEADER");
    // An empty proxy disables the proxy environment variables as well.
    SetOption(curl, CURLOPT_PROXY, "", "PROXY");
    SetOption(curl, CURLOPT_NOPROXY, "*", "NOPROXY");
    SetOption(curl, CURLOPT_COOKIEFILE, "", "COOKIEFILE");
    SetOption(curl, CURLOPT_SHARE, share.get(), "SHARE");
    SetOption(curl, CURLOPT_FOLLOWLOCATION, 0L, "FOLLOWLOCATION");
    // No cached lookups: a new connection reports its resolving.
    SetOption(curl, CURLOPT_DNS_CACHE_TIMEOUT, 0L, "DNS_CACHE_TIMEOUT");

    SetOption(curl, CURLOPT_RESOLVER_START_FUNCTION, &State::OnResolverStart,
              "RESOLVER_START_FUNCTION");
    SetOption(curl, CURLOPT_RESOLVER_START_DATA, this, "RESOLVER_START_DATA");
    SetOption(curl, CURLOPT_OPENSOCKETFUNCTION, &State::OnOpenSocket, "OPENSOCKETFUNCTION");
    SetOption(curl, CURLOPT_OPENSOCKETDATA, this, "OPENSOCKETDATA");
    SetOption(curl, CURLOPT_CLOSESOCKETFUNCTION, &State::OnCloseSocket, "CLOSESOCKETFUNCTION");
    SetOption(curl, CURLOPT_CLOSESOCKETDATA, this, "CLOSESOCKETDATA");
    SetOption(curl, CURLOPT_PREREQFUNCTION, &Transfer::OnPrereq, "PREREQFUNCTION");
    SetOption(curl, CURLOPT_PREREQDATA, self, "PREREQDATA");
    SetOption(curl, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader, "HEADERFUNCTION");
    SetOption(curl, CURLOPT_HEADERDATA, self, "HEADERDATA");
    SetOption(curl, CURLOPT_WRITEFUNCTION, &Transfer::OnBody, "WRITEFUNCTION");
    SetOption(curl, CURLOPT_WRITEDATA, self, "WRITEDATA");
    transfers.push_back(std::move(made));
    return *transfers.back();
}

HttpClient::HttpClient(HttpTimeouts timeouts) : state_(std::make_unique<State>()) {
    GlobalInit();
    state_->headers = RequestHeaders();
    state_->share.reset(curl_share_init());
    if (!state_->share) throw std::runtime_error("curl_share_init failed");
    if (curl_share_setopt(state_->share.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE) !=
        CURLSHE_OK) {
        throw std::runtime_error("curl_share_setopt(SHARE) failed");
    }
    state_->timeouts = timeouts;
}

HttpClient::~HttpClient() = default;

HttpClient::HttpClient(HttpClient&&) noexcept = default;
HttpClient& HttpClient::operator=(HttpClient&&) noexcept = default;

void HttpClient::SetOnStatus(StatusHandler handler) {
    if (!state_) throw std::logic_error("HttpClient used after move");
    state_->onStatus = std::move(handler);
}

void HttpClient::SetWaitPass(std::function<void()> pass) {
    if (!state_) throw std::logic_error("HttpClient used after move");
    state_->waitPass = std::move(pass);
}

void HttpClient::SetTimeouts(HttpTimeouts timeouts) {
    if (!state_) throw std::logic_error("HttpClient used after move");
    state_->timeouts = timeouts;
}

void HttpClient::SetMaxTransfers(std::size_t transfers) {
    if (!state_) throw std::logic_error("HttpClient used after move");
    transfers = std::max<std::size_t>(transfers, 1);
    if (transfers == state_->maxTransfers) return;
    state_->maxTransfers = transfers;
    if (state_->multi) {
        const long connections = static_cast<long>(transfers);
        CheckMulti(curl_multi_setopt(state_->multi.get(), CURLMOPT_MAXCONNECTS, connections),
                   "curl_multi_setopt(MAXCONNECTS)");
        CheckMulti(
            curl_multi_setopt(state_->multi.get(), CURLMOPT_MAX_HOST_CONNECTIONS, connections),
            "curl_multi_setopt(MAX_HOST_CONNECTIONS)");
    }
}

HttpSource::Ticket HttpClient::Start(const std::string& url, std::size_t cap, bool cutAtCap) {
    if (!state_) throw std::logic_error("HttpClient used after move");
    State& s = *state_;
    if (s.busy) throw std::runtime_error("HTTP request already in progress.");
    CURLM* m = s.Multi();
    Transfer& t = s.FreeTransfer();
    CURL* curl = t.curl.get();
    SetOption(curl, CURLOPT_URL, url.c_str(), "URL");
    SetOption(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(s.timeouts.connect.count()),
              "CONNECTTIMEOUT_MS");
    // One at a time is HTTP/1.1 as it always was; several at once may share one HTTP/2
    // connection where a TLS server offers it (plain HTTP stays HTTP/1.1: no upgrade dance).
    const bool several = s.maxTransfers > 1 && url.starts_with("https:");
    SetOption(curl, CURLOPT_HTTP_VERSION,
              static_cast<long>(several ? CURL_HTTP_VERSION_2TLS : CURL_HTTP_VERSION_1_1),
              "HTTP_VERSION");
    SetOption(curl, CURLOPT_PIPEWAIT, several ? 1L : 0L, "PIPEWAIT");
    t.body.clear();
    t.cap = std::min(cap, std::numeric_limits<std::size_t>::max() - 1);
    t.cutAtCap = cutAtCap;
    t.overCap = false;
    t.tooSlow = false;
    t.finished = false;
    t.result = CURLE_OK;
    t.statusLine.clear();
    t.errorBuffer[0] = '\0';
    t.watch = TransferWatch(s.timeouts.stall, s.timeouts.minimumRateWindow, s.timeouts.minimumRate);
    CheckMulti(curl_multi_add_handle(m, curl), "curl_multi_add_handle");
    t.attached = true;
    t.ticket = ++s.lastTicket;
    return t.ticket;
}

HttpSource::Ticket HttpClient::WaitAny() {
    if (!state_) throw std::logic_error("HttpClient used after move");
    State& s = *state_;
    if (s.busy) throw std::runtime_error("HTTP request already in progress.");
    if (s.finished.empty() && std::none_of(s.transfers.begin(), s.transfers.end(),
                                           [](const auto& t) { return t->attached; })) {
        throw std::logic_error("HttpClient::WaitAny with no request under way");
    }
    s.busy = true;
    struct Idle {
        bool& busy;
        ~Idle() { busy = false; }
    } idle{s.busy};
    try {
        s.WaitForOne();
    } catch (...) {
        s.DropQuietly();
        throw;
    }
    if (s.handlerError) {
        s.DropQuietly();
        std::rethrow_exception(std::exchange(s.handlerError, nullptr));
    }
    const Ticket ticket = s.finished.front();
    s.finished.pop_front();
    return ticket;
}

std::string HttpClient::Take(Ticket ticket) {
    if (!state_) throw std::logic_error("HttpClient used after move");
    Transfer* found = state_->Find(ticket);
    if (found == nullptr || !found->finished) {
        throw std::logic_error("HttpClient::Take of a request that has not finished");
    }
    Transfer& t = *found;
    struct Done {
        State& s;
        Transfer& t;
        ~Done() { s.Free(t); }
    } done{*state_, t};

    long status = 0;
    curl_easy_getinfo(t.curl.get(), CURLINFO_RESPONSE_CODE, &status);
    if (status != 0 && (status < 200 || status > 299)) {
        throw std::runtime_error(t.statusLine.empty() ? "HTTP " + std::to_string(status)
                                                      : StatusLineText(t.statusLine));
    }
    if (t.overCap) {
        if (!t.cutAtCap) {
            throw std::runtime_error("Response body exceeds " + std::to_string(t.cap) + " bytes.");
        }
        return std::move(t.body);
    }
    if (t.result != CURLE_OK) {
        if (t.tooSlow) throw std::runtime_error("Read timed out.");
        long osErrno = 0;
        curl_easy_getinfo(t.curl.get(), CURLINFO_OS_ERRNO, &osErrno);
        throw std::runtime_error(TransferFailureText(t.result, osErrno, t.errorBuffer));
    }
    if (status == 0) throw std::runtime_error("No HTTP response.");
    return std::move(t.body);
}

void HttpClient::Drop(Ticket ticket) noexcept {
    if (!state_) return;
    Transfer* t = state_->Find(ticket);
    if (t == nullptr) return;
    std::erase(state_->finished, ticket);
    state_->Free(*t);
}

void HttpClient::EndOfRun() noexcept {
    if (!state_ || state_->busy) return;
    State& s = *state_;
    for (auto& t : s.transfers)
        if (t->ticket != 0) s.Free(*t);
    s.finished.clear();
    s.multi.reset();  // closes the kept-alive connections, with their notifications
    s.handlerError = nullptr;
    s.phase = State::Phase::kDown;
}
