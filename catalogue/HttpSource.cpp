#include "HttpSource.h"

std::string HttpSource::Get(const std::string& url, std::size_t cap) {
    const Ticket ticket = Start(url, cap, false);
    while (WaitAny() != ticket) {
    }
    return Take(ticket);
}

std::string HttpSource::GetAtMost(const std::string& url, std::size_t cap) {
    const Ticket ticket = Start(url, cap, true);
    while (WaitAny() != ticket) {
    }
    return Take(ticket);
}
