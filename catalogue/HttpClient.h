#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "HttpSource.h"

// Connection states reported to the status handler while a request runs.
enum THttpStatus : int {
    hsResolving = 0,
    hsConnecting = 1,
    hsConnected = 2,
    hsDisconnecting = 3,
    hsDisconnected = 4,
};

// The LiveUpdate page's status label text for a state code; nothing for other codes
// (the label then keeps its text).
std::optional<std::string> StatusLabelText(int code);

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
// no proxy (the environment is ignored), cookies kept in memory for the client's life,
// redirects not followed. The connection is kept alive from one request to the next while
// the server allows it, and closed by EndOfRun(); the status handler sees resolving,
// connecting and connected when a connection is really made, disconnecting and disconnected
// when one is really closed (by EndOfRun, by a failed request, or when the server has closed
// a kept-alive connection and the next request connects again).
//
// A request never blocks the thread for long: it runs in slices, and between slices, at
// least every 50 ms, the wait pass (SetWaitPass) runs.
//
// Failures throw std::runtime_error whose text is what the user is shown:
//  - a status that is not 2xx (redirects included): the status line as the server sent it,
//    "HTTP/1.1 404 Not Found" (bytes that are not UTF-8 read as CP1250);
//  - a network failure with a system error behind it: "Socket Error # <number>\n<description>",
//    for instance "Socket Error # 111\nConnection refused." or "Socket Error # 11001\nHost not
//    found.";
//  - a connection that ends before the response is complete: "Connection Closed Gracefully.";
//  - a stall or too slow a response (HttpTimeouts): "Read timed out.";
//  - any other failure of the transfer (a broken chunked body, response headers too large):
//    libcurl's description of it.
// An exception thrown by the status handler or the wait pass ends the request (its connection
// is dropped) and is passed on unchanged.
//
// Move-only; one instance lives as long as the window that owns it. Not re-entrant: a
// request started from inside the status handler or the wait pass of a running request
// throws.
class HttpClient final : public HttpSource {
  public:
    // code: a THttpStatus value; text: an English description of the state.
    using StatusHandler = std::function<void(int code, const std::string& text)>;

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

    // GET of a whole body. A body longer than `cap` bytes is an error
    // ("Response body exceeds <cap> bytes.").
    std::string Get(const std::string& url, std::size_t cap) override;

    // GET that stops reading once the body is longer than `cap` bytes: such a body comes
    // back cut to cap + 1 bytes, so its size alone tells that it is too long.
    std::string GetAtMost(const std::string& url, std::size_t cap) override;

    // Closes a kept-alive connection (with its notifications). Does nothing while a request
    // runs.
    void EndOfRun() noexcept override;

  private:
    std::string Fetch(const std::string& url, std::size_t cap, bool overCapIsError);

    struct State;
    std::unique_ptr<State> state_;
};
