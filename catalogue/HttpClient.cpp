#include "HttpClient.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <exception>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "HttpFailureText.h"
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
struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlPtr = std::unique_ptr<CURL, CurlDeleter>;
using MultiPtr = std::unique_ptr<CURLM, MultiDeleter>;
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
    char text[INET6_ADDRSTRLEN] = "";
    if (address->family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(&address->addr);
        inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
    } else if (address->family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&address->addr);
        inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
    }
    return text;
}

}  // namespace

std::optional<std::string> StatusLabelText(int code) {
    switch (code) {
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
        default:
            return std::nullopt;
    }
}

// Everything libcurl's callbacks point at; it stays at one address for the client's life,
// so the client itself can move.
struct HttpClient::State {
    CurlPtr curl;
    // Holds the kept-alive connection between requests; made afresh after EndOfRun.
    MultiPtr multi;
    SlistPtr headers;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    StatusHandler onStatus;
    std::function<void()> waitPass;
    HttpTimeouts timeouts;
    bool busy = false;
    // No notifications while a request is dropped because an exception is on its way out.
    bool quiet = false;

    // The connection.
    int openSockets = 0;
    bool connectingReported = false;
    bool connectedPending = false;

    // One request.
    std::string body;
    std::size_t cap = 0;
    bool overCap = false;
    bool tooSlow = false;
    std::string statusLine;
    TransferWatch watch{{}, {}, 0};
    std::exception_ptr handlerError;

    // libcurl closes sockets while it is torn down: that is no news for the window, and the
    // callbacks must find the rest of the state alive.
    ~State() {
        onStatus = nullptr;
        multi.reset();
        curl.reset();
    }

    void Notify(int code, const std::string& text) {
        if (!onStatus || handlerError || quiet) return;
        try {
            onStatus(code, text);
        } catch (...) {
            handlerError = std::current_exception();
        }
    }

    CURLM* Multi() {
        if (!multi) {
            multi.reset(curl_multi_init());
            if (!multi) throw std::runtime_error("curl_multi_init failed");
            CheckMulti(curl_multi_setopt(multi.get(), CURLMOPT_MAXCONNECTS, 1L),
                       "curl_multi_setopt(MAXCONNECTS)");
        }
        return multi.get();
    }

    // Runs the transfer set up on `curl` to its end, in slices with the wait pass between
    // them. Returns libcurl's result, or the code of the reason it was cut short.
    CURLcode Drive() {
        CURLM* m = Multi();
        CheckMulti(curl_multi_add_handle(m, curl.get()), "curl_multi_add_handle");
        // Taking the handle off ends a transfer still under way and closes its connection.
        struct Attached {
            State& s;
            CURLM* m;
            int exceptions = std::uncaught_exceptions();
            ~Attached() {
                s.quiet = std::uncaught_exceptions() > exceptions;
                curl_multi_remove_handle(m, s.curl.get());
                s.quiet = false;
            }
        } attached{*this, m};

        auto lastPass = Clock::now();
        while (true) {
            int running = 0;
            CheckMulti(curl_multi_perform(m, &running), "curl_multi_perform");
            if (handlerError) return CURLE_ABORTED_BY_CALLBACK;
            if (running == 0) break;
            if (watch.Expired(Clock::now())) {
                tooSlow = true;
                return CURLE_OPERATION_TIMEDOUT;
            }
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
        CURLcode result = CURLE_OK;
        int queued = 0;
        while (const CURLMsg* message = curl_multi_info_read(m, &queued)) {
            if (message->msg == CURLMSG_DONE) result = message->data.result;
        }
        return result;
    }

    static int OnResolverStart(void*, void*, void* self) {
        auto* state = static_cast<State*>(self);
        state->connectingReported = false;
        state->Notify(hsResolving, "Resolving hostname.");
        return state->handlerError ? 1 : 0;
    }

    static curl_socket_t OnOpenSocket(void* self, curlsocktype purpose, curl_sockaddr* address) {
        auto* state = static_cast<State*>(self);
        if (purpose != CURLSOCKTYPE_IPCXN) return CURL_SOCKET_BAD;
        if (!state->connectingReported) {
            state->connectingReported = true;
            state->Notify(hsConnecting, "Connecting to " + AddressText(address) + ".");
        }
        if (state->handlerError) return CURL_SOCKET_BAD;
        const int fd = socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
        if (fd >= 0) {
            ++state->openSockets;
            state->connectedPending = true;
        }
        return fd;
    }

    // Runs before every request is sent, on a new connection or a kept-alive one.
    static int OnPrereq(void* self, char*, char*, int, int) {
        auto* state = static_cast<State*>(self);
        state->watch.Start(Clock::now());
        if (state->connectedPending) {
            state->connectedPending = false;
            state->Notify(hsConnected, "Connected.");
        }
        return state->handlerError ? CURL_PREREQFUNC_ABORT : CURL_PREREQFUNC_OK;
    }

    // The last open socket closing is the disconnection the user sees; a failed attempt
    // while another address is still being tried is not.
    static int OnCloseSocket(void* self, curl_socket_t fd) {
        auto* state = static_cast<State*>(self);
        const bool last = state->openSockets == 1;
        if (last) state->Notify(hsDisconnecting, "Disconnecting.");
        const int rc = close(fd);
        if (state->openSockets > 0) --state->openSockets;
        if (last) state->Notify(hsDisconnected, "Disconnected.");
        return rc;
    }

    static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
        auto* state = static_cast<State*>(self);
        const size_t length = size * count;
        state->watch.Received(Clock::now(), length);
        std::string_view line(data, length);
        if (line.starts_with("HTTP/")) {
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
                line.remove_suffix(1);
            }
            state->statusLine = line;
        }
        return length;
    }

    // Keeps at most cap + 1 bytes; past that the transfer is stopped.
    static size_t OnBody(char* data, size_t size, size_t count, void* self) {
        auto* state = static_cast<State*>(self);
        const size_t length = size * count;
        state->watch.Received(Clock::now(), length);
        const size_t room = state->cap - state->body.size();
        if (length <= room) {
            state->body.append(data, length);
            return length;
        }
        state->body.append(data, room + 1);
        state->overCap = true;
        return CURL_WRITEFUNC_ERROR;
    }
};

HttpClient::HttpClient(HttpTimeouts timeouts) : state_(std::make_unique<State>()) {
    GlobalInit();
    state_->curl.reset(curl_easy_init());
    if (!state_->curl) throw std::runtime_error("curl_easy_init failed");
    state_->headers = RequestHeaders();

    CURL* curl = state_->curl.get();
    State* self = state_.get();
    SetOption(curl, CURLOPT_ERRORBUFFER, state_->errorBuffer, "ERRORBUFFER");
    SetOption(curl, CURLOPT_NOSIGNAL, 1L, "NOSIGNAL");
    SetOption(curl, CURLOPT_PROTOCOLS_STR, "http,https", "PROTOCOLS_STR");
    SetOption(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1), "HTTP_VERSION");
    SetOption(curl, CURLOPT_HTTPGET, 1L, "HTTPGET");
    SetOption(curl, CURLOPT_HTTPHEADER, state_->headers.get(), "HTTPHEADER");
    // An empty proxy disables the proxy environment variables as well.
    SetOption(curl, CURLOPT_PROXY, "", "PROXY");
    SetOption(curl, CURLOPT_NOPROXY, "*", "NOPROXY");
    SetOption(curl, CURLOPT_COOKIEFILE, "", "COOKIEFILE");
    SetOption(curl, CURLOPT_FOLLOWLOCATION, 0L, "FOLLOWLOCATION");
    // No cached lookups: a new connection reports its resolving.
    SetOption(curl, CURLOPT_DNS_CACHE_TIMEOUT, 0L, "DNS_CACHE_TIMEOUT");

    SetOption(curl, CURLOPT_RESOLVER_START_FUNCTION, &State::OnResolverStart,
              "RESOLVER_START_FUNCTION");
    SetOption(curl, CURLOPT_RESOLVER_START_DATA, self, "RESOLVER_START_DATA");
    SetOption(curl, CURLOPT_OPENSOCKETFUNCTION, &State::OnOpenSocket, "OPENSOCKETFUNCTION");
    SetOption(curl, CURLOPT_OPENSOCKETDATA, self, "OPENSOCKETDATA");
    SetOption(curl, CURLOPT_PREREQFUNCTION, &State::OnPrereq, "PREREQFUNCTION");
    SetOption(curl, CURLOPT_PREREQDATA, self, "PREREQDATA");
    SetOption(curl, CURLOPT_CLOSESOCKETFUNCTION, &State::OnCloseSocket, "CLOSESOCKETFUNCTION");
    SetOption(curl, CURLOPT_CLOSESOCKETDATA, self, "CLOSESOCKETDATA");
    SetOption(curl, CURLOPT_HEADERFUNCTION, &State::OnHeader, "HEADERFUNCTION");
    SetOption(curl, CURLOPT_HEADERDATA, self, "HEADERDATA");
    SetOption(curl, CURLOPT_WRITEFUNCTION, &State::OnBody, "WRITEFUNCTION");
    SetOption(curl, CURLOPT_WRITEDATA, self, "WRITEDATA");
    SetTimeouts(timeouts);
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
    SetOption(state_->curl.get(), CURLOPT_CONNECTTIMEOUT_MS,
              static_cast<long>(timeouts.connect.count()), "CONNECTTIMEOUT_MS");
}

std::string HttpClient::Get(const std::string& url, std::size_t cap) {
    return Fetch(url, cap, true);
}

std::string HttpClient::GetAtMost(const std::string& url, std::size_t cap) {
    return Fetch(url, cap, false);
}

void HttpClient::EndOfRun() noexcept {
    if (!state_ || state_->busy) return;
    state_->multi.reset();  // closes the kept-alive connection, with its notifications
    state_->handlerError = nullptr;
}

std::string HttpClient::Fetch(const std::string& url, std::size_t cap, bool overCapIsError) {
    if (!state_) throw std::logic_error("HttpClient used after move");
    State& s = *state_;
    if (s.busy) throw std::runtime_error("HTTP request already in progress.");
    s.body.clear();
    s.cap = std::min(cap, std::numeric_limits<std::size_t>::max() - 1);
    s.overCap = false;
    s.tooSlow = false;
    s.statusLine.clear();
    s.handlerError = nullptr;
    s.errorBuffer[0] = '\0';
    s.watch = TransferWatch(s.timeouts.stall, s.timeouts.minimumRateWindow, s.timeouts.minimumRate);

    CURL* curl = s.curl.get();
    SetOption(curl, CURLOPT_URL, url.c_str(), "URL");
    s.busy = true;
    struct Idle {
        bool& busy;
        ~Idle() { busy = false; }
    } idle{s.busy};
    const CURLcode rc = s.Drive();

    if (s.handlerError) std::rethrow_exception(std::exchange(s.handlerError, nullptr));

    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (status != 0 && (status < 200 || status > 299)) {
        throw std::runtime_error(s.statusLine.empty() ? "HTTP " + std::to_string(status)
                                                      : StatusLineText(s.statusLine));
    }
    if (s.overCap) {
        if (overCapIsError) {
            throw std::runtime_error("Response body exceeds " + std::to_string(cap) + " bytes.");
        }
        return std::move(s.body);
    }
    if (rc != CURLE_OK) {
        if (s.tooSlow) throw std::runtime_error("Read timed out.");
        long osErrno = 0;
        curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &osErrno);
        throw std::runtime_error(TransferFailureText(rc, osErrno, s.errorBuffer));
    }
    if (status == 0) throw std::runtime_error("No HTTP response.");
    return std::move(s.body);
}
