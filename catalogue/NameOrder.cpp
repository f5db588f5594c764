#include "NameOrder.h"

#include <cstdint>
#include <vector>

namespace {

// Next code point of `text` from `i` (a malformed byte stands for itself).
char32_t NextCodePoint(std::string_view text, size_t& i) {
    const auto lead = static_cast<uint8_t>(text[i]);
    const size_t extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    if (extra == 0 || i + extra >= text.size()) {
        ++i;
        return lead;
    }
    char32_t cp = lead & (0x3F >> extra);
    for (size_t k = 1; k <= extra; ++k) {
        const auto next = static_cast<uint8_t>(text[i + k]);
        if ((next & 0xC0) != 0x80) {
            ++i;
            return lead;
        }
        cp = (cp << 6) | (next & 0x3F);
    }
    i += extra + 1;
    return cp;
}

char32_t FoldCase(char32_t c) {
    if (c >= 'A' && c <= 'Z') return c + 0x20;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
    // Latin Extended-A: upper and lower case alternate, in pairs starting on an even code
    // point, except 0139..0148 and 0179..017E, which start on an odd one.
    const bool oddPairs = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 &&
        c != 0x17F) {
        const bool upper = oddPairs ? (c % 2 == 1) : (c % 2 == 0);
        return upper ? c + 1 : c;
    }
    return c;
}

std::vector<char32_t> Folded(std::string_view text) {
    std::vector<char32_t> out;
    for (size_t i = 0; i < text.size();) out.push_back(FoldCase(NextCodePoint(text, i)));
    return out;
}

bool IsDigit(char32_t c) {
    return c >= '0' && c <= '9';
}

// <0, 0 or >0 as `a` sorts before, with or after `b`.
int Compare(const std::vector<char32_t>& a, const std::vector<char32_t>& b) {
    size_t i = 0;
    size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            // Numbers compare by value: leading zeros skipped, then the longer run is larger,
            // then the first differing digit decides.
            while (i < a.size() && a[i] == '0') ++i;
            while (j < b.size() && b[j] == '0') ++j;
            size_t endA = i;
            size_t endB = j;
            while (endA < a.size() && IsDigit(a[endA])) ++endA;
            while (endB < b.size() && IsDigit(b[endB])) ++endB;
            if (endA - i != endB - j) return endA - i < endB - j ? -1 : 1;
            for (; i < endA; ++i, ++j) {
                if (a[i] != b[j]) return a[i] < b[j] ? -1 : 1;
            }
            continue;
        }
        if (a[i] != b[j]) return a[i] < b[j] ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return 0;
}

}  // namespace

bool NameBefore(std::string_view a, std::string_view b) {
    const int order = Compare(Folded(a), Folded(b));
    return order != 0 ? order < 0 : a < b;
}

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
    return Folded(a) == Folded(b);
}

std::u32string FoldedName(std::string_view name) {
    const std::vector<char32_t> folded = Folded(name);
    return {folded.begin(), folded.end()};
}
