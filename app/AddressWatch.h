#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <utility>

#include "HttpSource.h"

// The window's HTTP client as the LiveUpdate run sees it, remembering the address of a request
// that failed, so that the error box can name it.
class AddressWatch final : public HttpSource {
  public:
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
        } catch (const std::runtime_error&) {
            failedUrl_ = url;
            throw;
        }
    }
    void Drop(Ticket ticket) noexcept override {
        urls_.erase(ticket);
        http_.Drop(ticket);
    }
    void SetMaxTransfers(std::size_t transfers) override { http_.SetMaxTransfers(transfers); }
    void SetWaitPass(std::function<void()> pass) override { http_.SetWaitPass(std::move(pass)); }
    void EndOfRun() noexcept override { http_.EndOfRun(); }

    // The address of the request whose failure ended the run; empty when none failed.
    const std::string& FailedUrl() const { return failedUrl_; }

  private:
    HttpSource& http_;
    std::map<Ticket, std::string> urls_;
    std::string failedUrl_;
};
