// Text and layout arithmetic: CP1250 to UTF-8 and back, percent-encoding of URL path bytes,
// and the placing of a button's glyph and caption for any sizes, margins, spacings and
// layouts.
#include <QPoint>
#include <QRect>
#include <QSize>
#include <string>

#include "ButtonGlyph.h"
#include "Cp1250.h"
#include "FuzzInput.h"
#include "LiveUpdate.h"

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// Every byte that CP1250 assigns comes back from UTF-8 as it was; an unassigned byte decodes
// to U+FFFD and comes back as '?'.
void Cp1250RoundTrip(const std::string& bytes) {
    const std::string utf8 = Cp1250ToUtf8(bytes);
    const std::string back = Utf8ToCp1250(utf8);
    FUZZ_CHECK(back.size() == bytes.size(), "round trip changed the length");
    for (size_t i = 0; i < bytes.size(); ++i) {
        const bool unassigned = Cp1250ToUtf8(bytes.substr(i, 1)) == kReplacement;
        FUZZ_CHECK(back[i] == (unassigned ? '?' : bytes[i]), "byte " + std::to_string(i));
    }
}

// Any text, valid UTF-8 or not, encodes to bytes that all decode to assigned characters.
void Utf8ToCp1250Assigned(const std::string& text) {
    const std::string bytes = Utf8ToCp1250(text);
    FUZZ_CHECK(bytes.size() <= text.size(), "encoding grew the text");
    FUZZ_CHECK(Cp1250ToUtf8(bytes).find(kReplacement) == std::string::npos,
               "an unassigned byte came out");
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The encoded path holds only characters that may stand in a URL path and decodes back.
void PercentRoundTrip(const std::string& bytes) {
    const std::string encoded = EncodeUrlPath(bytes);
    static const std::string kPlain =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-._~!$&'()*+,;=:@/";
    std::string decoded;
    for (size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] == '%') {
            FUZZ_CHECK(i + 2 < encoded.size(), "cut escape in " + encoded);
            const int high = HexValue(encoded[i + 1]), low = HexValue(encoded[i + 2]);
            FUZZ_CHECK(high >= 0 && low >= 0, "bad escape in " + encoded);
            decoded += static_cast<char>(high << 4 | low);
            i += 2;
        } else {
            FUZZ_CHECK(kPlain.find(encoded[i]) != std::string::npos, "raw byte in " + encoded);
            decoded += encoded[i];
        }
    }
    FUZZ_CHECK(decoded == bytes, "percent round trip");
}

// Start and end of the glyph and the caption along the layout axis, relative to the client.
struct Span {
    int glyphStart, glyphEnd, textStart, textEnd;
};

Span AlongAxis(const TGlyphLayout& placed, const QRect& client, QPoint offset, QSize glyph,
               QSize text, bool horizontal) {
    const QPoint origin = client.topLeft() + offset;
    if (horizontal) {
        const int g = placed.GlyphPos.x() - origin.x(), t = placed.TextBounds.x() - origin.x();
        return {g, g + glyph.width(), t, t + text.width()};
    }
    const int g = placed.GlyphPos.y() - origin.y(), t = placed.TextBounds.y() - origin.y();
    return {g, g + glyph.height(), t, t + text.height()};
}

void Layout(FuzzInput& in) {
    const QRect client(in.I16(), in.I16(), in.U16() % 4096, in.U16() % 4096);
    const QPoint offset(in.I16() % 8, in.I16() % 8);
    const QSize glyph(in.U16() % 512, in.U16() % 512);
    const QSize text(in.U16() % 4096, in.U16() % 4096);
    const auto layout = static_cast<TButtonLayout>(in.Byte() % 4);
    const int margin = in.I16() % 512;
    const int spacing = in.I16() % 512;
    const bool rtl = in.Flag();

    const TGlyphLayout placed =
        CalcButtonLayout(client, offset, glyph, text, layout, margin, spacing, rtl);
    FUZZ_CHECK(placed.TextBounds.size() == text, "caption size changed");

    // Right-to-left reading swaps left and right, and nothing else.
    TButtonLayout mirrored = layout;
    if (rtl && layout == blGlyphLeft) mirrored = blGlyphRight;
    if (rtl && layout == blGlyphRight) mirrored = blGlyphLeft;
    const TGlyphLayout plain =
        CalcButtonLayout(client, offset, glyph, text, mirrored, margin, spacing, false);
    FUZZ_CHECK(plain.GlyphPos == placed.GlyphPos && plain.TextBounds == placed.TextBounds, "rtl");

    // Moving the client rectangle moves the result by as much.
    const QPoint shift(37, -11);
    const TGlyphLayout moved = CalcButtonLayout(client.translated(shift), offset, glyph, text,
                                                layout, margin, spacing, rtl);
    FUZZ_CHECK(moved.GlyphPos == placed.GlyphPos + shift, "glyph does not follow the client");
    FUZZ_CHECK(moved.TextBounds == placed.TextBounds.translated(shift), "caption does not follow");

    const bool horizontal = mirrored == blGlyphLeft || mirrored == blGlyphRight;
    const int extent = horizontal ? client.width() : client.height();
    const int g = horizontal ? glyph.width() : glyph.height();
    const int t = horizontal ? text.width() : text.height();
    const bool bothShown = glyph.width() != 0 && text.width() != 0;
    const int gap = bothShown ? spacing : 0;
    const Span span = AlongAxis(placed, client, offset, glyph, text, horizontal);

    // Glyph first for left and top, caption first for right and bottom, with the gap between.
    const bool glyphFirst = mirrored == blGlyphLeft || mirrored == blGlyphTop;
    if (spacing >= 0 || !bothShown) {
        if (glyphFirst) {
            FUZZ_CHECK(span.textStart - span.glyphEnd == (spacing == -1 ? 0 : gap), "gap");
        } else {
            FUZZ_CHECK(span.glyphStart - span.textEnd == gap, "gap");
        }
    }
    // A pair that fits is placed inside the client along the axis, centred when Margin is -1.
    const int need = g + t + (gap > 0 ? gap : 0) + (margin > 0 ? margin : 0);
    if (spacing >= -1 && margin >= -1 && need <= extent) {
        const int first = std::min(span.glyphStart, span.textStart);
        const int last = std::max(span.glyphEnd, span.textEnd);
        if (g > 0 || t > 0) {
            FUZZ_CHECK(first >= 0 && last <= extent, "a fitting pair leaves the client");
        }
        if (margin == -1 && spacing >= 0) {
            FUZZ_CHECK(std::abs(first - (extent - last)) <= 1, "not centred");
        }
    }
    // Across the axis each item is centred.
    const QPoint origin = client.topLeft() + offset;
    if (horizontal) {
        FUZZ_CHECK(placed.GlyphPos.y() - origin.y() == (client.height() - glyph.height() + 1) / 2,
                   "glyph not centred across");
    } else {
        FUZZ_CHECK(placed.GlyphPos.x() - origin.x() == (client.width() - glyph.width() + 1) / 2,
                   "glyph not centred across");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    switch (in.Byte() % 4) {
        case 0:
            Cp1250RoundTrip(in.Rest());
            break;
        case 1:
            Utf8ToCp1250Assigned(in.Rest());
            break;
        case 2:
            PercentRoundTrip(in.Rest());
            break;
        default:
            Layout(in);
            break;
    }
    return 0;
}
