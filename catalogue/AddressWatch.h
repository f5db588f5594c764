#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <utility>

#include "HttpSource.h"

// An HTTP client as the LiveUpdate run sees it: a request's failure carries the address it was
// for, so that the front end can name it and tell the server's failures from the store's. (The
// run fetches ahead, so the failure that ends it need not be the last one taken.)
class AddressWatch final : public HttpSource {
  public:
    struct Failure : std::runtime_error {
        Failure(const std::string& text, std::string address)
            : std::runtime_error(text), url(std::move(address)) {}
        std::string url;
    };

    explicit AddressWatch(HttpSource& http) : http_(http) {}

    Ticket Start(const std::string& url, std::size_t cap, bool cutAtCap) override {
        const Ticket ticket = http_.Start(url, cap, cutAtCap);
        urls_[ticket] = url;
        return ticket;
    }
    Ticket WaitAny() override { return http_.WaitAny(); }
    std::string Take(Ticket ticket) override {
        const std::string url = std::move(urls_[ticket]);
        urls_.erase(ticket);
        try {
            return http_.Take(ticket);
        } catch (const std::runtime_error& failure) {
            throw Failure(failure.what(), url);
        }
    }
    void Drop(Ticket ticket) noexcept override {
        urls_.erase(ticket);
        http_.Drop(ticket);
    }
    void SetMaxTransfers(std::size_t transfers) override { http_.SetMaxTransfers(transfers); }
    void SetWaitPass(std::function<void()> pass) override { http_.SetWaitPass(std::move(pass)); }
    void EndOfRun() noexcept override { http_.EndOfRun(); }

  private:
    HttpSource& http_;
    std::map<Ticket, std::string> urls_;
};
