#include "BaseDirectory.h"

#include "Platform.h"

std::string BaseDirectory() {
    return platform::CurrentFolder();
}

std::string JoinPath(const std::string& first, const std::string& second) {
    if (!first.empty() && platform::IsPathSeparator(first.back())) return first + second;
    return first + platform::kPathSeparator + second;
}

std::string SystemReason(int error) {
    return platform::ErrorText(error);
}
