#pragma once

#include <chrono>
#include <cstddef>
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

// Bounds of one request. A dead or stalled server ends the request with an error instead
// of holding the program.
struct HttpTimeouts {
    std::chrono::milliseconds connect{30000};
    // No byte received for this long, once connected, ends the request. It is noticed
    // within about a second after it passes.
    std::chrono::milliseconds stall{60000};
};

// The program's HTTP client (`IdHTTP1`): plain HTTP/1.1 GET with the two fixed request
// headers "Accept: text/html, */*" and "User-Agent: Mozilla/3.0 (compatible; Indy Library)",
// no proxy (the environment is ignored), cookies kept in memory for the client's life,
// redirects not followed. Every request opens its own connection and closes it before
// returning, so the status handler sees resolving, connecting, connected, disconnecting
// and disconnected for each request.
//
// Failures throw std::runtime_error whose text is what the user is shown:
//  - a status that is not 2xx (redirects included): the status line as the server sent it,
//    "HTTP/1.1 404 Not Found";
//  - a network failure: "Socket Error # <number>\n<description>", for instance
//    "Socket Error # 111\nConnection refused." or "Socket Error # 11001\nHost not found.";
//  - a connection that ends before the response is complete: "Connection Closed Gracefully.";
//  - no byte for the stall bound once connected: "Read timed out.".
// An exception thrown by the status handler ends the request and is passed on unchanged.
//
// Move-only; one instance lives as long as the window that owns it. Not re-entrant: a
// request started from inside the status handler of a running request throws.
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

    // GET of a whole body. A body longer than `cap` bytes is an error
    // ("Response body exceeds <cap> bytes.").
    std::string Get(const std::string& url, std::size_t cap) override;

    // GET that stops reading once the body is longer than `cap` bytes: such a body comes
    // back cut to cap + 1 bytes, so its size alone tells that it is too long.
    std::string GetAtMost(const std::string& url, std::size_t cap) override;

  private:
    std::string Fetch(const std::string& url, std::size_t cap, bool overCapIsError);

    struct State;
    std::unique_ptr<State> state_;
};
