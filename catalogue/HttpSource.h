#pragma once

#include <cstddef>
#include <functional>
#include <string>

// What the LiveUpdate run asks of an HTTP client: whole bodies by address. Failures throw
// std::runtime_error with the text the user is shown (see HttpClient).
class HttpSource {
  public:
    virtual ~HttpSource() = default;

    // GET of a whole body; a body longer than `cap` bytes is an error.
    virtual std::string Get(const std::string& url, std::size_t cap) = 0;
    // GET that stops reading once the body is longer than `cap` bytes: such a body comes
    // back cut to cap + 1 bytes.
    virtual std::string GetAtMost(const std::string& url, std::size_t cap) = 0;
    // While a request waits for the network, `pass` runs at least every 50 ms; an exception
    // from it ends the request and is passed on. An empty function runs nothing.
    virtual void SetWaitPass(std::function<void()> pass) { (void)pass; }
    // The run is over, finished or failed: nothing of its connection is kept. Does not throw.
    virtual void EndOfRun() noexcept {}
};
