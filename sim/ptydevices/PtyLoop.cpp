#include "PtyLoop.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <limits>
#include <system_error>

namespace {

// From the loop's start: device ticks are 32-bit milliseconds of this time.
uint64_t NowUs(std::chrono::steady_clock::time_point start) {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<microseconds>(steady_clock::now() - start).count());
}

}  // namespace

void RunPtyLines(const std::vector<PtyLine*>& lines, int stopFd) {
    std::vector<pollfd> fds(lines.size() + 1);
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        const uint64_t now = NowUs(start);
        uint64_t next = std::numeric_limits<uint64_t>::max();
        for (PtyLine* line : lines) {
            line->Service(now);
            next = std::min(next, line->NextDueUs(now));
        }

        fds[0] = {stopFd, POLLIN, 0};
        for (size_t k = 0; k < lines.size(); ++k) fds[k + 1] = lines[k]->PollEntry();
        timespec wait{};
        const timespec* timeout = nullptr;
        if (next != std::numeric_limits<uint64_t>::max()) {
            const uint64_t us = next > now ? next - now : 0;
            wait.tv_sec = static_cast<time_t>(us / 1'000'000);
            wait.tv_nsec = static_cast<long>(us % 1'000'000) * 1000;
            timeout = &wait;
        }
        if (::ppoll(fds.data(), fds.size(), timeout, nullptr) < 0 && errno != EINTR)
            throw std::system_error(errno, std::generic_category(), "ppoll");
        if (fds[0].revents != 0) return;
    }
}
