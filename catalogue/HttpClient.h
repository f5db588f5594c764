#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "HttpSource.h"

// Connection states reported to the status handler while a request runs. What a state is
// called on the screen is the front end's business (see StatusLabelText in LiveUpdate.h).
enum THttpStatus : int {
    hsResolving = 0,
    hsConnecting = 1,
    hsConnected = 2,
    hsDisconnecting = 3,
    hsDisconnected = 4,
};

// Bounds of one request. A dead, stalled or dripping server ends the request with an error
// instead of holding the program.
struct HttpTimeouts {
    std::chrono::milliseconds connect{30000};
    // No byte received for this long, once the request is sent, ends the request.
    std::chrono::milliseconds stall{60000};
    // Fewer than `minimumRate` bytes/s of response averaged over this window ends the request
    // as the stall bound does.
    std::chrono::milliseconds minimumRateWindow{60000};
    std::uint64_t minimumRate = 100;
};

// The program's HTTP client (`IdHTTP1`): plain HTTP/1.1 GET with the two fixed request
// headers "Accept: text/html, */*" and "User-Agent: Mozilla/3.0 (compatible; Indy Library)",
// no proxy (the environment is ignored), cookies kept in memory for the client's life and
// shared by all its requests (a cookie comes back on every request started after the response
// that set it arrived), redirects not followed. Connections are kept alive from one request
// to the next while the server allows it, and closed by EndOfRun(). With SetMaxTransfers(n),
// n > 1, up to n requests run at once on up to n connections to a server, or multiplexed on
// one HTTP/2 connection where a TLS server offers HTTP/2. The status handler sees the
// connection state of the client as a whole: resolving, connecting and connected when a
// connection is made while none is open, disconnecting and disconnected when the last open
// one is closed (by EndOfRun, by a failed or dropped request, or when the server has closed a
// kept-alive connection and the next request connects again).
//
// A request never blocks the thread for long: the waits run in slices, and between slices, at
// least every 50 ms, the wait pass (SetWaitPass) runs.
//
// Failures (thrown by Take) are std::runtime_error whose text is what the user is shown:
//  - a status that is not 2xx (redirects included): the status line as the server sent it,
//    "HTTP/1.1 404 Not Found" (bytes that are not UTF-8 read as CP1250);
//  - a network failure with a system error behind it: "Socket Error # <number>\n<description>",
//    for instance "Socket Error # 111\nConnection refused." or "Socket Error # 11001\nHost not
//    found.";
//  - a connection that ends before the response is complete: "Connection Closed Gracefully.";
//  - a stall or too slow a response (HttpTimeouts): "Read timed out.";
//  - a body over its cap (without cutAtCap): "Response body exceeds <cap> bytes.";
//  - any other failure of the transfer (a broken chunked body, response headers too large):
//    libcurl's description of it.
// An exception thrown by the status handler or the wait pass ends the wait (every request
// under way is dropped without notifications) and is passed on unchanged.
//
// Move-only; one instance lives as long as the window that owns it. Not re-entrant: a
// request started or waited for from inside the status handler or the wait pass throws.
class HttpClient final : public HttpSource {
  public:
    // status: the connection state; text: an English description of it for diagnostics.
    using StatusHandler = std::function<void(THttpStatus status, const std::string& text)>;

    explicit HttpClient(HttpTimeouts timeouts = {});
    ~HttpClient();
    HttpClient(HttpClient&&) noexcept;
    HttpClient& operator=(HttpClient&&) noexcept;
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    void SetOnStatus(StatusHandler handler);
    void SetWaitPass(std::function<void()> pass) override;
    // For the requests that follow.
    void SetTimeouts(HttpTimeouts timeouts);
    void SetMaxTransfers(std::size_t transfers) override;

    Ticket Start(const std::string& url, std::size_t cap, bool cutAtCap) override;
    Ticket WaitAny() override;
    std::string Take(Ticket ticket) override;
    void Drop(Ticket ticket) noexcept override;

    // Drops what is under way and closes the kept-alive connections (with their
    // notifications). Does nothing while a wait runs.
    void EndOfRun() noexcept override;

  private:
    struct State;
    struct Transfer;
    std::unique_ptr<State> state_;
};
