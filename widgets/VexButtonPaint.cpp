#include <QPainter>
#include <algorithm>
#include <cmath>

#include "VexButton.h"

namespace {

// A rectangle with exclusive right and bottom edges, as the face steps compute them.
struct TRect {
    int Left;
    int Top;
    int Right;
    int Bottom;

    void Inflate(int d) {
        Left -= d;
        Top -= d;
        Right += d;
        Bottom += d;
    }
    void Offset(int dx, int dy) {
        Left += dx;
        Right += dx;
        Top += dy;
        Bottom += dy;
    }
    bool Empty() const { return Right <= Left || Bottom <= Top; }
    QRect ToQRect() const { return QRect(Left, Top, Right - Left, Bottom - Top); }
};

// Pixel-exact drawing primitives of the face, in device pixels: a rectangle outlined in the pen
// and filled with the brush, a one-pixel bevel, and the dotted focus frame. Coordinates are
// the face's own pixels. At a device pixel ratio above 1 each of the face's one-pixel lines is
// `unit` device pixels wide (the ratio rounded down: 1 at 1.25 and 1.5, 2 at 2), and the rings
// near the edges keep that width, so every border and bevel line of a face is equally wide;
// what lies further inside is placed at the nearest device pixel.
class FaceCanvas {
  public:
    FaceCanvas(QPainter& painter, QSize size, QSize deviceSize, qreal ratio)
        : p_(painter),
          size_(size),
          device_(deviceSize),
          ratio_(ratio),
          unit_(std::max(1, static_cast<int>(std::floor(ratio + 1e-6)))) {}

    void SetPen(TColor c) { pen_ = ColorToRGB(c); }
    void SetBrush(TColor c) {
        brush_ = ColorToRGB(c);
        hollow_ = false;
    }
    void SetHollowBrush() { hollow_ = true; }

    void Box(const TRect& r) {
        if (r.Empty()) return;
        const QRect d = Device(r);
        if (!hollow_) p_.fillRect(d, brush_);
        p_.fillRect(QRect(d.left(), d.top(), d.width(), unit_), pen_);
        p_.fillRect(QRect(d.left(), d.bottom() + 1 - unit_, d.width(), unit_), pen_);
        p_.fillRect(QRect(d.left(), d.top(), unit_, d.height()), pen_);
        p_.fillRect(QRect(d.right() + 1 - unit_, d.top(), unit_, d.height()), pen_);
    }

    // Top and left edges in `top`, bottom and right edges in `bottom` (which owns the top-right
    // and bottom-left corners); shrinks `r` by one pixel.
    void Bevel(TRect& r, TColor top, TColor bottom) {
        if (!r.Empty()) {
            const QColor t = ColorToRGB(top);
            const QColor b = ColorToRGB(bottom);
            const QRect d = Device(r);
            p_.fillRect(QRect(d.left(), d.top(), d.width() - unit_, unit_), t);
            p_.fillRect(QRect(d.left(), d.top(), unit_, d.height() - unit_), t);
            p_.fillRect(QRect(d.right() + 1 - unit_, d.top(), unit_, d.height()), b);
            p_.fillRect(QRect(d.left(), d.bottom() + 1 - unit_, d.width(), unit_), b);
        }
        r.Inflate(-1);
    }

    // The system's dotted focus frame: every other pixel of the frame exclusive-ored with the
    // brush colour, in a checkerboard fixed to the surface, so the dots are dark on a face
    // of that colour. Each dot is one face pixel (unit x unit device pixels).
    void FocusFrame(const TRect& r, TColor brush) {
        if (r.Empty()) return;
        const QColor colour = ColorToRGB(brush);
        p_.save();
        p_.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        auto dot = [this, &colour](int x, int y) {
            if ((x + y) % 2 == 0) p_.fillRect(QRect(X(x), Y(y), unit_, unit_), colour);
        };
        for (int x = r.Left; x < r.Right; ++x) {
            dot(x, r.Top);
            if (r.Bottom - 1 > r.Top) dot(x, r.Bottom - 1);
        }
        for (int y = r.Top + 1; y < r.Bottom - 1; ++y) {
            dot(r.Left, y);
            if (r.Right - 1 > r.Left) dot(r.Right - 1, y);
        }
        p_.restore();
    }

    void Gradient(const TRect& r, TColor from, TColor to) {
        if (!r.Empty()) FillGradient(p_, Device(r), from, true, to);
    }

    void Fill(const TRect& r, const QColor& colour) {
        if (!r.Empty()) p_.fillRect(Device(r), colour);
    }

  private:
    // Face pixel edge `v` of an extent of `length` pixels as a device pixel edge.
    int Map(int v, int length, int deviceLength) const {
        constexpr int kRings = 6;  // the deepest ring a face draws
        if (v <= kRings) return v * unit_;
        if (v >= length - kRings) return deviceLength - (length - v) * unit_;
        return qRound(v * ratio_);
    }
    int X(int v) const { return Map(v, size_.width(), device_.width()); }
    int Y(int v) const { return Map(v, size_.height(), device_.height()); }
    QRect Device(const TRect& r) const {
        return QRect(QPoint(X(r.Left), Y(r.Top)), QPoint(X(r.Right) - 1, Y(r.Bottom) - 1));
    }

    QPainter& p_;
    QSize size_;
    QSize device_;
    qreal ratio_;
    int unit_;
    QColor pen_;
    QColor brush_;
    bool hollow_ = false;
};

TColor Or(TColor value, TColor fallback) {
    return IsUnsetColor(value) ? fallback : value;
}

}  // namespace

// The face is painted at the screen's device pixel ratio, so captions and glyphs are as sharp
// as the labels and lists beside them.
void TVexButton::paintEvent(QPaintEvent*) {
    const qreal ratio = devicePixelRatioF();
    // Whole device pixels inside the widget: at a fractional ratio a widget whose edge falls
    // on half a device pixel shows only the rows below it, so a rounded-up face would lose its
    // bottom or right line.
    const auto inside = [ratio](int logical) { return static_cast<int>(logical * ratio + 1e-6); };
    QImage surface(inside(width()), inside(height()), QImage::Format_RGB32);
    surface.fill(palette().color(QPalette::Window));
    PaintFace(surface, ratio);
    surface.setDevicePixelRatio(ratio);
    QPainter(this).drawImage(QPointF(0, 0), surface);
}

// The classic face. The platform's themed push-button look is not used: this program always
// shows the classic owner-drawn face.
void TVexButton::PaintFace(QImage& surface, qreal ratio) {
    QPainter painter(&surface);
    painter.setFont(font());
    FaceCanvas canvas(painter, size(), surface.size(), ratio);

    const TVexLookStyle& ls = *lookStyle_;
    const TVexBtnKind kind = Kind();
    const TVexStyle style = ls.Style();
    const bool threeD = style == vls3D;
    const bool flat = style == vlsFlat;
    const bool ultraFlat = style == vlsUltraFlat;
    const bool showBorder = ls.AlwaysShowBorder();
    const bool track = ls.HighlightTrack();
    const bool onFocused = ls.HighlightOnFocused();
    const bool gradient = ls.Gradient();
    const bool enabled = isEnabled();

    // Colours.
    const TColor face = Or(ls.ButtonColor(), clBtnFace);
    const TColor border = Or(ls.BorderColor(), clWindowFrame);
    const TColor fontColor = ColorFromQColor(palette().color(QPalette::ButtonText));
    TColor hl = face;
    TColor hlText = fontColor;
    if (track || onFocused) {
        hl = Or(ls.HighlightColor(), ls.LightColor());
        hlText = Or(ls.HighlightTextColor(), fontColor);
    }
    const TColor down = Or(ls.DownColor(), ls.DarkColor());
    const TColor downText = Or(ls.DownTextColor(), ls.LightColor());
    const TColor bevelLight = face == clBtnFace ? clBtnHighlight : ls.LightColor();
    const TColor bevelDark = face == clBtnFace ? clBtnShadow : ls.DarkColor();
    auto gradStart = [](TColor start, TColor base) {
        return Or(start, LightenColor(LightenColor(base, 100), 100));
    };
    const TColor gradNormal = gradStart(ls.GradStartColor(), face);
    const TColor gradDown = gradStart(ls.GradStartDownColor(), down);
    const TColor gradHl = gradStart(ls.GradStartHighlightColor(), hl);

    // State.
    const bool pressed = kind == bkDropDown ? menuDropped_ : (!arrowPressed_ && isDown());
    const bool focused = hasFocus();
    const bool active = Active();
    const bool split = kind == bkDropDownButton;
    const bool activeOrFocused = active || focused;
    const bool hot = (track && mouseInControl_) || (onFocused && active);
    const bool menuOpen = split && menuDropped_;

    const TRect client{0, 0, width(), height()};
    TRect r = client;
    TRect a{};
    // The face ends where the arrow strip starts (sharing one border with it).
    auto splitFaceRight = [&](int stripLeft, int base) {
        return stripLeft + base + (!ultraFlat && showBorder ? 1 : 0);
    };

    // 1. Arrow strip.
    if (split) {
        a = TRect{r.Right - ArrowWidth, r.Top, r.Right, r.Bottom};
        r.Right = splitFaceRight(a.Left, threeD ? 1 : 2);
    }

    // 2. Outer border of the active or focused button.
    if (activeOrFocused || (!ultraFlat && showBorder)) {
        canvas.SetPen(border);
        canvas.SetHollowBrush();
        canvas.Box(r);
        r.Inflate(-1);
        if (split) {
            canvas.Box(a);
            a.Inflate(-1);
        }
    }

    // 3. The strip looks pressed while the menu is open.
    if (menuOpen) {
        if (flat) {
            canvas.Bevel(a, bevelDark, bevelLight);
            canvas.SetPen(down);
        } else {
            canvas.SetPen(ls.BorderLightColor());
        }
        canvas.SetBrush(down);
        canvas.Box(a);
        if (!flat) a.Inflate(-1);
        if (gradient) canvas.Gradient(a, down, gradDown);
    }

    if (pressed) {
        // 4. Pressed face.
        if (flat) {
            canvas.Bevel(r, bevelDark, bevelLight);
            if (split) canvas.Bevel(a, bevelDark, bevelLight);
            canvas.SetPen(down);
        } else {
            canvas.SetPen(ls.BorderLightColor());
        }
        canvas.SetBrush(down);
        canvas.Box(r);
        if (!flat) r.Inflate(-1);
        if (gradient) canvas.Gradient(r, down, gradDown);
        if (split) {
            canvas.Box(a);
            if (!flat) a.Inflate(-1);
            if (gradient) canvas.Gradient(a, down, gradDown);
        }
    } else {
        // 5.1 Bevel.
        const bool bevelStrip = split && !menuDropped_;
        if (threeD) {
            const TColor c1 = LightenColor(face, 25);
            const TColor c2 = DarkenColor(bevelDark, 100);
            canvas.Bevel(r, bevelLight, c2);
            canvas.Bevel(r, c1, bevelDark);
            if (bevelStrip) {
                canvas.Bevel(a, c1, c2);
                canvas.Bevel(a, bevelLight, bevelDark);
            }
        } else if (flat) {
            canvas.Bevel(r, bevelLight, bevelDark);
            if (bevelStrip) canvas.Bevel(a, bevelLight, bevelDark);
        } else {
            canvas.Bevel(r, border, border);
            if (!activeOrFocused) r.Inflate(1);
            if (bevelStrip) {
                canvas.Bevel(a, border, border);
                if (!activeOrFocused) a.Inflate(1);
            }
        }

        // 5.2 Pen, brush and gradient start.
        TColor pen;
        TColor brush;
        TColor start;
        if (menuOpen || (!track && !onFocused)) {
            pen = ultraFlat ? (menuOpen ? face : border) : face;
            brush = face;
            start = gradNormal;
        } else if (mouseInControl_ || (onFocused && active)) {
            pen = activeOrFocused ? hl : (ultraFlat ? border : hl);
            brush = hl;
            start = gradHl;
        } else {
            pen = ultraFlat ? border : face;
            brush = face;
            start = gradNormal;
        }
        canvas.SetPen(pen);
        canvas.SetBrush(brush);
        const bool fillGradient = gradient && enabled;

        // 5.3 Face without a strip.
        if (!split || menuDropped_) {
            canvas.Box(r);
            if (fillGradient) {
                TRect g = r;
                if (ultraFlat && !menuDropped_ && !activeOrFocused) g.Inflate(-1);
                canvas.Gradient(g, start, brush);
            }
        }

        // 5.4 Face and strip.
        if (split && !menuDropped_) {
            canvas.Box(a);
            if (fillGradient) {
                TRect g = a;
                if (ultraFlat) g.Inflate(-1);
                canvas.Gradient(g, start, brush);
            }
            if (active) {
                canvas.Box(r);
                if (fillGradient) {
                    TRect g = r;
                    if (ultraFlat) g.Inflate(-1);
                    canvas.Gradient(g, start, brush);
                }
            } else {
                const bool fullWidth = threeD || (flat && showBorder);
                TRect box = r;
                if (!fullWidth) box.Right -= 1;
                canvas.Box(box);
                if (fillGradient) {
                    TRect g = r;
                    if (ultraFlat) g.Inflate(-1);
                    if (!fullWidth) g.Right -= 1;
                    canvas.Gradient(g, start, brush);
                }
            }
            a.Inflate(-1);
        }

        // 5.5
        r.Inflate(-1);
    }

    // 6. The content of the active button uses the whole face.
    if (active) {
        r = client;
        if (split) {
            const int stripLeft = client.Right - ArrowWidth;
            r.Right = splitFaceRight(stripLeft, threeD && !showBorder ? 1 : 2);
        }
        r.Inflate(-1);
    }

    // 7. Caption colour and the pressed offset.
    TColor captionColor = fontColor;
    if (!menuOpen) {
        if (pressed) {
            r.Offset(1, 1);
            captionColor = downText;
        } else if (hot) {
            captionColor = hlText;
        }
    }

    // 8. Glyph and caption.
    glyph_.SetFaceColor(face);
    glyph_.SetLightColor(ls.LightColor());
    glyph_.SetDarkColor(ls.DarkColor());
    const TButtonState state = !enabled ? bsDisabled : (pressed && !arrowPressed_) ? bsDown : bsUp;
    if (!enabled) captionColor = ls.DarkColor();
    // Glyph and caption are laid out in the face's pixels and drawn at the device's.
    painter.save();
    painter.scale(ratio, ratio);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    glyph_.Draw(painter, r.ToQRect(), QPoint(0, 0), text(), layout_, margin_, spacing_, state,
                track || pressed || onFocused, ColorToRGB(captionColor), wordWrap_,
                layoutDirection() == Qt::RightToLeft);
    painter.restore();

    // 9. Focus rectangle.
    if (!menuOpen && active && focused) {
        TRect f = client;
        if (split) f.Right = splitFaceRight(client.Right - ArrowWidth, threeD ? 1 : 2);
        f.Inflate(threeD ? -4 : -3);
        canvas.SetPen(border);
        canvas.FocusFrame(f, pressed ? down : hot ? hl : face);
    }

    // 10. Drop-down arrow.
    if (kind == bkDropDown || split) {
        TRect s{client.Right - ArrowWidth, client.Top, client.Right, client.Bottom};
        s.Inflate(-1);
        const int w = (s.Right - s.Left) / 2;
        const int h = (s.Bottom - s.Top) / 2;
        const int q = w / 2;
        TColor arrowColor = fontColor;
        if (!enabled) {
            arrowColor = ls.DarkColor();
        } else if (pressed || menuDropped_) {
            arrowColor = downText;
        } else if (hot) {
            arrowColor = hlText;
        }
        const int shift = pressed ? 1 : 0;
        const QColor c = ColorToRGB(arrowColor);
        int y = s.Bottom - h - q + 1;
        for (int x1 = s.Left + q, x2 = s.Right - q; x2 >= x1; ++x1, --x2, ++y) {
            canvas.Fill(TRect{x1 + shift, y + shift, x2 + shift, y + shift + 1}, c);
        }
    }
}
