#include "TerminalText.h"

#include <utility>

namespace {

// The code of the control character at `text[i]` and its length in bytes; length 0 when there
// is none. C1 characters are U+0080 to U+009F, two bytes C2 80 to C2 9F in UTF-8.
std::pair<unsigned, std::size_t> ControlAt(std::string_view text, std::size_t i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if ((byte < 0x20 && byte != '\t') || byte == 0x7F) return {byte, 1};
    if (byte == 0xC2 && i + 1 < text.size()) {
        const auto next = static_cast<unsigned char>(text[i + 1]);
        if (next >= 0x80 && next <= 0x9F) return {next, 2};
    }
    return {0, 0};
}

void AppendHex(std::string& out, const char* prefix, unsigned code) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += prefix;
    out += kHex[code >> 4];
    out += kHex[code & 0x0F];
}

template <typename Replace>
std::string EachControl(std::string_view text, Replace replace) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto [code, length] = ControlAt(text, i);
        if (length == 0) {
            out += text[i++];
            continue;
        }
        replace(out, code);
        i += length;
    }
    return out;
}

}  // namespace

std::string ShownOnTerminal(std::string_view utf8) {
    return EachControl(utf8, [](std::string& out, unsigned code) { AppendHex(out, "\\x", code); });
}

std::string WithoutControls(std::string_view utf8) {
    return EachControl(utf8, [](std::string&, unsigned) {});
}

std::string JsonString(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size() + 2);
    out += '"';
    for (std::size_t i = 0; i < utf8.size();) {
        auto [code, length] = ControlAt(utf8, i);
        if (utf8[i] == '\t') code = '\t', length = 1;
        if (length == 0) {
            if (utf8[i] == '"' || utf8[i] == '\\') out += '\\';
            out += utf8[i++];
            continue;
        }
        AppendHex(out, "\\u00", code);
        i += length;
    }
    out += '"';
    return out;
}
