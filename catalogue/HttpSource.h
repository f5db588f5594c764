#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// What the LiveUpdate run asks of an HTTP client: whole bodies by address, several of them
// under way at once when the client can. Failures throw std::runtime_error with the text the
// user is shown (see HttpClient).
class HttpSource {
  public:
    // Names one started request until it is taken or dropped; never 0.
    using Ticket = std::uint64_t;

    virtual ~HttpSource() = default;

    // Starts a GET and returns at once. A body longer than `cap` bytes is an error, or, with
    // `cutAtCap`, comes back cut to cap + 1 bytes (reading stops there).
    virtual Ticket Start(const std::string& url, std::size_t cap, bool cutAtCap) = 0;
    // Waits until a started request has finished and names it; each is named once, in the
    // order they finish. Requests that were started and not yet named must exist. An exception
    // from the wait pass or the status handler ends the wait, drops every request under way
    // and is passed on.
    virtual Ticket WaitAny() = 0;
    // The body of a request WaitAny has named, or its failure thrown; the ticket is done.
    virtual std::string Take(Ticket ticket) = 0;
    // The request's result is not wanted: it is ended if still under way. Does not throw.
    virtual void Drop(Ticket ticket) noexcept = 0;

    // How many requests may be under way at once, from the next Start on; 1 (the start
    // value) runs one request at a time on one kept-alive connection.
    virtual void SetMaxTransfers(std::size_t transfers) { (void)transfers; }
    // While a request waits for the network, `pass` runs at least every 50 ms; an exception
    // from it ends the wait and is passed on. An empty function runs nothing.
    virtual void SetWaitPass(std::function<void()> pass) { (void)pass; }
    // The run is over, finished or failed: requests still under way are dropped and nothing
    // of its connections is kept. Does not throw.
    virtual void EndOfRun() noexcept {}

    // One request, waited for: Start, WaitAny until it has finished, Take.
    virtual std::string Get(const std::string& url, std::size_t cap);
    virtual std::string GetAtMost(const std::string& url, std::size_t cap);
};
