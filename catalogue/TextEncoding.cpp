#include "TextEncoding.h"

#include <cstdint>

#include "Cp1250.h"

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool HasByteOrderMark(std::string_view bytes) {
    return bytes.substr(0, kByteOrderMark.size()) == kByteOrderMark;
}

// Length of the well-formed UTF-8 sequence at `bytes[i]`, 0 when it is malformed (overlong
// forms, surrogates and code points above U+10FFFF included).
size_t SequenceLength(std::string_view bytes, size_t i) {
    const auto lead = static_cast<uint8_t>(bytes[i]);
    if (lead < 0x80) return 1;
    size_t length;
    char32_t cp;
    char32_t least;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, cp = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, cp = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, cp = lead & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (i + length > bytes.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        const auto next = static_cast<uint8_t>(bytes[i + k]);
        if ((next & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (next & 0x3F);
    }
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return length;
}

}  // namespace

bool IsUtf8Text(std::string_view bytes) {
    if (HasByteOrderMark(bytes)) return true;
    bool multiByte = false;
    for (size_t i = 0; i < bytes.size();) {
        const size_t length = SequenceLength(bytes, i);
        if (length == 0) return false;
        multiByte = multiByte || length > 1;
        i += length;
    }
    return multiByte;
}

std::string TextFileAsCp1250(std::string_view bytes) {
    if (!IsUtf8Text(bytes)) return std::string(bytes);
    if (HasByteOrderMark(bytes)) bytes.remove_prefix(kByteOrderMark.size());
    return Utf8ToCp1250(bytes);
}

std::string TextFileAsUtf8(std::string_view bytes) {
    if (!IsUtf8Text(bytes)) return Cp1250ToUtf8(bytes);
    if (HasByteOrderMark(bytes)) bytes.remove_prefix(kByteOrderMark.size());
    return std::string(bytes);
}
