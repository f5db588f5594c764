#pragma once

#include <QColor>
#include <QRect>
#include <cstdint>

class QPainter;
class QPalette;

// A colour as the button's look style stores it: either an RGB value (0x00BBGGRR) or a system
// colour role (0xFF0000nn, nn = role index), plus the two "unset" markers clNone and clDefault.
// System roles are resolved against the application palette only when a colour is drawn, so a
// style written before a palette change follows the new palette.
class TColor {
  public:
    constexpr TColor() = default;
    constexpr explicit TColor(uint32_t value) : value_(value) {}

    constexpr uint32_t Value() const { return value_; }
    constexpr bool IsSystem() const { return (value_ & 0xFF000000u) == 0xFF000000u; }
    constexpr bool IsRgb() const { return (value_ & 0xFF000000u) == 0; }

    friend constexpr bool operator==(TColor a, TColor b) = default;

  private:
    uint32_t value_ = 0;
};

constexpr TColor RgbColor(int r, int g, int b) {
    return TColor(static_cast<uint32_t>(r & 0xFF) | static_cast<uint32_t>(g & 0xFF) << 8 |
                  static_cast<uint32_t>(b & 0xFF) << 16);
}

// System colour roles (index = the classic system colour number).
constexpr TColor SystemColor(int index) {
    return TColor(0xFF000000u | static_cast<uint32_t>(index));
}
inline constexpr TColor clScrollBar = SystemColor(0);
inline constexpr TColor clBackground = SystemColor(1);
inline constexpr TColor clActiveCaption = SystemColor(2);
inline constexpr TColor clInactiveCaption = SystemColor(3);
inline constexpr TColor clMenu = SystemColor(4);
inline constexpr TColor clWindow = SystemColor(5);
inline constexpr TColor clWindowFrame = SystemColor(6);
inline constexpr TColor clMenuText = SystemColor(7);
inline constexpr TColor clWindowText = SystemColor(8);
inline constexpr TColor clCaptionText = SystemColor(9);
inline constexpr TColor clActiveBorder = SystemColor(10);
inline constexpr TColor clInactiveBorder = SystemColor(11);
inline constexpr TColor clAppWorkSpace = SystemColor(12);
inline constexpr TColor clHighlight = SystemColor(13);
inline constexpr TColor clHighlightText = SystemColor(14);
inline constexpr TColor clBtnFace = SystemColor(15);
inline constexpr TColor clBtnShadow = SystemColor(16);
inline constexpr TColor clGrayText = SystemColor(17);
inline constexpr TColor clBtnText = SystemColor(18);
inline constexpr TColor clInactiveCaptionText = SystemColor(19);
inline constexpr TColor clBtnHighlight = SystemColor(20);
inline constexpr TColor cl3DDkShadow = SystemColor(21);
inline constexpr TColor cl3DLight = SystemColor(22);
inline constexpr TColor clInfoText = SystemColor(23);
inline constexpr TColor clInfoBk = SystemColor(24);

// Unset markers: a look-style colour holding either means "use the derived default".
inline constexpr TColor clNone = TColor(0x1FFFFFFFu);
inline constexpr TColor clDefault = TColor(0x20000000u);

inline constexpr TColor clBlack = RgbColor(0, 0, 0);
inline constexpr TColor clMaroon = RgbColor(128, 0, 0);
inline constexpr TColor clGreen = RgbColor(0, 128, 0);
inline constexpr TColor clOlive = RgbColor(128, 128, 0);
inline constexpr TColor clNavy = RgbColor(0, 0, 128);
inline constexpr TColor clPurple = RgbColor(128, 0, 128);
inline constexpr TColor clTeal = RgbColor(0, 128, 128);
inline constexpr TColor clGray = RgbColor(128, 128, 128);
inline constexpr TColor clSilver = RgbColor(192, 192, 192);
inline constexpr TColor clRed = RgbColor(255, 0, 0);
inline constexpr TColor clLime = RgbColor(0, 255, 0);
inline constexpr TColor clYellow = RgbColor(255, 255, 0);
inline constexpr TColor clBlue = RgbColor(0, 0, 255);
inline constexpr TColor clFuchsia = RgbColor(255, 0, 255);
inline constexpr TColor clAqua = RgbColor(0, 255, 255);
inline constexpr TColor clWhite = RgbColor(255, 255, 255);

inline bool IsUnsetColor(TColor c) {
    return c == clNone || c == clDefault;
}

// Resolves a colour to RGB. System roles come from `palette` (Active group):
//   clBtnFace, clMenu, clScrollBar, clActiveBorder, clInactiveBorder -> Button
//   clBtnShadow -> Dark            clBtnHighlight -> Light        cl3DLight -> Midlight
//   clWindowFrame, cl3DDkShadow -> Shadow (the darkest frame colour)
//   clBtnText -> ButtonText        clWindow -> Base               clAppWorkSpace -> Mid
//   clWindowText, clMenuText, clCaptionText, clInactiveCaptionText -> WindowText
//   clHighlight, clActiveCaption, clInactiveCaption -> Highlight
//   clHighlightText -> HighlightedText     clGrayText -> Text of the Disabled group
//   clInfoBk -> ToolTipBase        clInfoText -> ToolTipText      clBackground -> Window
// The unset markers resolve to black; callers resolve them to a default before drawing.
QColor ColorToRGB(TColor c, const QPalette& palette);
// The same against the application palette.
QColor ColorToRGB(TColor c);
TColor ColorFromQColor(const QColor& c);

// Per channel: v + v / 255 * amount (a zero channel becomes 127), clamped to 0..255 and
// rounded to the nearest integer with ties to even.
TColor LightenColor(TColor c, double amount);
// Per channel: v - v / 255 * amount, clamped to 0..255, rounded as above.
TColor DarkenColor(TColor c, double amount);

// Fills `rect` with one line per pixel row (vertical) or column (horizontal), blending each
// channel linearly from `from` (first row) to `to` (last row), truncated toward zero. A rectangle
// of one row is filled in `from`. The painter's pen is left as it was.
void FillGradient(QPainter& canvas, const QRect& rect, TColor from, bool vertical, TColor to);
