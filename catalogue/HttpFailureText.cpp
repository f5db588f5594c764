#include "HttpFailureText.h"

#include "Cp1250.h"
#include "Platform.h"

namespace {

// Winsock's "host not found": the resolver has no errno of its own, so the message shows the
// code the same failure has on Windows, where technicians' notes know it from.
constexpr int kHostNotFound = 11001;

// True when `bytes` is well-formed UTF-8 (no overlong forms, surrogates or code points past
// U+10FFFF).
bool IsUtf8(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        int more = 0;
        char32_t cp = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            more = 1;
            cp = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            more = 2;
            cp = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            more = 3;
            cp = lead & 0x07;
        } else {
            return false;
        }
        if (i + more >= bytes.size()) return false;  // cut short
        for (int k = 1; k <= more; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (next & 0x3F);
        }
        if ((more == 2 && cp < 0x800) || (more == 3 && cp < 0x10000) || cp > 0x10FFFF ||
            (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        i += more + 1;
    }
    return true;
}

}  // namespace

std::string SocketErrorText(int error) {
    return "Socket Error # " + std::to_string(error) + "\n" + platform::SocketErrorReason(error) + ".";
}

std::string TransferFailureText(CURLcode code, long osErrno, std::string_view description) {
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
            return "Socket Error # " + std::to_string(kHostNotFound) + "\nHost not found.";
        case CURLE_OPERATION_TIMEDOUT:
            return SocketErrorText(platform::kSocketTimedOut);
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
            return "Connection Closed Gracefully.";
        case CURLE_COULDNT_CONNECT:
            return SocketErrorText(osErrno != 0 ? static_cast<int>(osErrno) : platform::kSocketRefused);
        default:
            if (osErrno != 0) return SocketErrorText(static_cast<int>(osErrno));
            if (!description.empty()) return std::string(description);
            return curl_easy_strerror(code);
    }
}

std::string StatusLineText(std::string_view line) {
    return IsUtf8(line) ? std::string(line) : Cp1250ToUtf8(line);
}
