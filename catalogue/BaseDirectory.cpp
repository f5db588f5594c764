#include "BaseDirectory.h"

#include "Platform.h"

std::string BaseDirectory() {
    return platform::CurrentFolder();
}

std::string JoinPath(const std::string& first, const std::string& second) {
    // A folder of init.cfg written with '/' is shown in the system's own form.
    std::string tail = second;
    for (char& c : tail) {
        if (platform::IsPathSeparator(c)) c = platform::kPathSeparator;
    }
    if (!first.empty() && platform::IsPathSeparator(first.back())) return first + tail;
    return first + platform::kPathSeparator + tail;
}

std::string SystemReason(int error) {
    return platform::ErrorText(error);
}
