#include "VexColor.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <algorithm>
#include <cmath>

namespace {

QColor SystemRoleColor(int index, const QPalette& p) {
    switch (index) {
        case 0:   // clScrollBar
        case 4:   // clMenu
        case 10:  // clActiveBorder
        case 11:  // clInactiveBorder
        case 15:  // clBtnFace
            return p.color(QPalette::Active, QPalette::Button);
        case 1:  // clBackground
            return p.color(QPalette::Active, QPalette::Window);
        case 2:   // clActiveCaption
        case 3:   // clInactiveCaption
        case 13:  // clHighlight
            return p.color(QPalette::Active, QPalette::Highlight);
        case 5:  // clWindow
            return p.color(QPalette::Active, QPalette::Base);
        case 6:   // clWindowFrame
        case 21:  // cl3DDkShadow
            return p.color(QPalette::Active, QPalette::Shadow);
        case 7:   // clMenuText
        case 8:   // clWindowText
        case 9:   // clCaptionText
        case 19:  // clInactiveCaptionText
            return p.color(QPalette::Active, QPalette::WindowText);
        case 12:  // clAppWorkSpace
            return p.color(QPalette::Active, QPalette::Mid);
        case 14:  // clHighlightText
            return p.color(QPalette::Active, QPalette::HighlightedText);
        case 16:  // clBtnShadow
            return p.color(QPalette::Active, QPalette::Dark);
        case 17:  // clGrayText
            return p.color(QPalette::Disabled, QPalette::Text);
        case 18:  // clBtnText
            return p.color(QPalette::Active, QPalette::ButtonText);
        case 20:  // clBtnHighlight
            return p.color(QPalette::Active, QPalette::Light);
        case 22:  // cl3DLight
            return p.color(QPalette::Active, QPalette::Midlight);
        case 23:  // clInfoText
            return p.color(QPalette::Active, QPalette::ToolTipText);
        case 24:  // clInfoBk
            return p.color(QPalette::Active, QPalette::ToolTipBase);
        default:
            return QColor(0, 0, 0);
    }
}

int RoundChannel(double v) {
    // std::nearbyint rounds half to even in the default rounding mode.
    return static_cast<int>(std::nearbyint(std::clamp(v, 0.0, 255.0)));
}

}  // namespace

QColor ColorToRGB(TColor c, const QPalette& palette) {
    if (c.IsSystem()) {
        // Plain 8-bit RGB, whatever precision the palette keeps.
        const QColor role = SystemRoleColor(static_cast<int>(c.Value() & 0xFF), palette);
        return QColor(role.red(), role.green(), role.blue());
    }
    if (!c.IsRgb()) return QColor(0, 0, 0);
    const uint32_t v = c.Value();
    return QColor(v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF);
}

QColor ColorToRGB(TColor c) {
    if (!c.IsSystem()) return ColorToRGB(c, QPalette());
    return ColorToRGB(c, QGuiApplication::palette());
}

TColor ColorFromQColor(const QColor& c) {
    return RgbColor(c.red(), c.green(), c.blue());
}

TColor LightenColor(TColor c, double amount) {
    const QColor rgb = ColorToRGB(c);
    auto lighten = [amount](int v) {
        if (v == 0) return 127;
        // v * amount / 255 rather than v / 255 * amount: exact for the halves that decide ties.
        return RoundChannel(v + v * amount / 255.0);
    };
    return RgbColor(lighten(rgb.red()), lighten(rgb.green()), lighten(rgb.blue()));
}

TColor DarkenColor(TColor c, double amount) {
    const QColor rgb = ColorToRGB(c);
    auto darken = [amount](int v) { return RoundChannel(v - v * amount / 255.0); };
    return RgbColor(darken(rgb.red()), darken(rgb.green()), darken(rgb.blue()));
}

void FillGradient(QPainter& canvas, const QRect& rect, TColor from, bool vertical, TColor to) {
    if (rect.width() <= 0 || rect.height() <= 0) return;
    const QColor a = ColorToRGB(from);
    const QColor b = ColorToRGB(to);
    const int steps = vertical ? rect.height() : rect.width();
    auto blend = [steps](int x, int y, int i) {
        const double t = steps > 1 ? static_cast<double>(i) / (steps - 1) : 0.0;
        return static_cast<int>(x + t * (y - x));  // truncation toward zero
    };

    // One-pixel lines as rectangles: exact pixels whatever the painter's pen and caps are.
    for (int i = 0; i < steps; ++i) {
        const QColor c(blend(a.red(), b.red(), i), blend(a.green(), b.green(), i),
                       blend(a.blue(), b.blue(), i));
        if (vertical) {
            canvas.fillRect(QRect(rect.left(), rect.top() + i, rect.width(), 1), c);
        } else {
            canvas.fillRect(QRect(rect.left() + i, rect.top(), 1, rect.height()), c);
        }
    }
}
