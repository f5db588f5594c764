#include "BaseDirectory.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

std::string BaseDirectory() {
    std::vector<char> buffer(4096);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) return ".";
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

std::string JoinPath(const std::string& first, const std::string& second) {
    if (!first.empty() && first.back() == '/') return first + second;
    return first + "/" + second;
}

std::string SystemReason(int error) {
    char buffer[256];
    // GNU strerror_r returns the text, which may or may not live in the buffer.
    return strerror_r(error, buffer, sizeof buffer);
}
