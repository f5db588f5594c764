#include "VexButton.h"

#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QShortcut>
#include <QWhatsThis>
#include <algorithm>

namespace {

struct TKindEntry {
    const char* caption;
    int modalResult;
    bool isDefault;
    bool cancel;
};

// Indexed by TVexBtnKind; the custom and drop-down kinds change nothing.
constexpr TKindEntry kKinds[] = {
    {nullptr, mrNone, false, false},   {"OK", mrOk, true, false},
    {"Cancel", mrCancel, false, true}, {"&Help", mrNone, false, false},
    {"&Yes", mrYes, true, false},      {"&No", mrNo, false, true},
    {"&Close", mrNone, false, false},  {"Abort", mrAbort, false, false},
    {"&Retry", mrRetry, false, false}, {"&Ignore", mrIgnore, false, false},
    {"&All", mrAll, false, false},     {nullptr, mrNone, false, false},
    {nullptr, mrNone, false, false},
};

bool IsPredefined(TVexBtnKind kind) {
    return kind != bkCustom && kind != bkDropDown && kind != bkDropDownButton;
}

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

// Pixel-exact drawing primitives of the face: a rectangle outlined in the pen and filled with
// the brush, a one-pixel bevel, and the dotted focus frame.
class FaceCanvas {
  public:
    explicit FaceCanvas(QPainter& painter) : p_(painter) {}

    void SetPen(TColor c) { pen_ = ColorToRGB(c); }
    void SetBrush(TColor c) {
        brush_ = ColorToRGB(c);
        hollow_ = false;
    }
    void SetHollowBrush() { hollow_ = true; }

    void Box(const TRect& r) {
        if (r.Empty()) return;
        if (!hollow_) p_.fillRect(r.ToQRect(), brush_);
        const int w = r.Right - r.Left;
        const int h = r.Bottom - r.Top;
        p_.fillRect(QRect(r.Left, r.Top, w, 1), pen_);
        p_.fillRect(QRect(r.Left, r.Bottom - 1, w, 1), pen_);
        p_.fillRect(QRect(r.Left, r.Top, 1, h), pen_);
        p_.fillRect(QRect(r.Right - 1, r.Top, 1, h), pen_);
    }

    // Top and left edges in `top`, bottom and right edges in `bottom` (which owns the top-right
    // and bottom-left corners); shrinks `r` by one pixel.
    void Bevel(TRect& r, TColor top, TColor bottom) {
        if (!r.Empty()) {
            const QColor t = ColorToRGB(top);
            const QColor b = ColorToRGB(bottom);
            const int w = r.Right - r.Left;
            const int h = r.Bottom - r.Top;
            p_.fillRect(QRect(r.Left, r.Top, w - 1, 1), t);
            p_.fillRect(QRect(r.Left, r.Top, 1, h - 1), t);
            p_.fillRect(QRect(r.Right - 1, r.Top, 1, h), b);
            p_.fillRect(QRect(r.Left, r.Bottom - 1, w, 1), b);
        }
        r.Inflate(-1);
    }

    // Every other pixel of the frame inverted, in a checkerboard fixed to the surface.
    void FocusFrame(const TRect& r) {
        if (r.Empty()) return;
        p_.save();
        p_.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        auto dot = [this](int x, int y) {
            if ((x + y) % 2 == 0) p_.fillRect(QRect(x, y, 1, 1), Qt::white);
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
        if (!r.Empty()) FillGradient(p_, r.ToQRect(), from, true, to);
    }

  private:
    QPainter& p_;
    QColor pen_;
    QColor brush_;
    bool hollow_ = false;
};

TColor Or(TColor value, TColor fallback) {
    return IsUnsetColor(value) ? fallback : value;
}

}  // namespace

TVexButton::TVexButton(QWidget* parent)
    : QPushButton(parent), lookStyle_(std::make_unique<TVexLookStyle>(this)) {
    glyph_.SetOnChange([this] { update(); });
    connect(this, &QAbstractButton::clicked, this, [this] { Click(); });
}

TVexButton::~TVexButton() = default;

// ---------------------------------------------------------------------------------------------
// Properties

TVexBtnKind TVexButton::Kind() const {
    if (IsPredefined(kind_)) {
        const TKindEntry& k = kKinds[kind_];
        if (isDefault() != k.isDefault || cancel_ != k.cancel || modalResult_ != k.modalResult ||
            glyphModified_) {
            kind_ = bkCustom;
        }
    }
    return kind_;
}

void TVexButton::SetKind(TVexBtnKind kind) {
    if (kind == Kind()) return;
    if (IsPredefined(kind)) {
        const TKindEntry& k = kKinds[kind];
        setDefault(k.isDefault);
        SetCancel(k.cancel);
        setText(QString::fromLatin1(k.caption));
        modalResult_ = k.modalResult;
        glyph_.SetGlyph(KindGlyph(kind));
        glyph_.SetNumGlyphs(2);
        glyphModified_ = false;
    }
    kind_ = kind;
    update();
}

void TVexButton::SetGlyph(const QImage& glyph) {
    glyph_.SetGlyph(glyph);
    glyphModified_ = true;
}

void TVexButton::SetGlyph(const QPixmap& glyph) {
    SetGlyph(glyph.toImage());
}

void TVexButton::SetNumGlyphs(int value) {
    glyph_.SetNumGlyphs(std::min(value, 4));
}

void TVexButton::SetLayout(TButtonLayout v) {
    if (v == layout_) return;
    layout_ = v;
    update();
}

void TVexButton::SetMargin(int v) {
    if (v < -1 || v == margin_) return;
    margin_ = v;
    update();
}

void TVexButton::SetSpacing(int v) {
    if (v == spacing_) return;
    spacing_ = v;
    update();
}

void TVexButton::SetWordWrap(bool v) {
    if (v == wordWrap_) return;
    wordWrap_ = v;
    update();
}

void TVexButton::SetControlOnLeft(QWidget* w) {
    controlOnLeft_ = w == this ? nullptr : w;
}
void TVexButton::SetControlOnTop(QWidget* w) {
    controlOnTop_ = w == this ? nullptr : w;
}
void TVexButton::SetControlOnRight(QWidget* w) {
    controlOnRight_ = w == this ? nullptr : w;
}
void TVexButton::SetControlOnBottom(QWidget* w) {
    controlOnBottom_ = w == this ? nullptr : w;
}

void TVexButton::SetDefault(bool v) {
    setDefault(v);
    update();
}

void TVexButton::SetCancel(bool v) {
    cancel_ = v;
    if (v && cancelShortcut_ == nullptr) {
        cancelShortcut_ = new QShortcut(QKeySequence(Qt::Key_Escape), this);
        cancelShortcut_->setContext(Qt::WindowShortcut);
        connect(cancelShortcut_, &QShortcut::activated, this, [this] {
            if (isEnabled() && isVisible()) click();
        });
    } else if (!v && cancelShortcut_ != nullptr) {
        delete cancelShortcut_;
        cancelShortcut_ = nullptr;
    }
}

bool TVexButton::Active() const {
    if (hasFocus()) return true;
    if (!isDefault()) return false;
    // The default button gives way to another focused push button of its window.
    const QWidget* focus = QApplication::focusWidget();
    return focus == nullptr || focus->window() != window() ||
           qobject_cast<const QPushButton*>(focus) == nullptr;
}

bool TVexButton::HasDropDownMenu() const {
    const TVexBtnKind kind = Kind();
    return (kind == bkDropDown || kind == bkDropDownButton) && dropDownMenu_ != nullptr;
}

QRect TVexButton::ArrowStrip() const {
    return QRect(width() - ArrowWidth, 0, ArrowWidth, height());
}

void TVexButton::LookStyleChanged() {
    update();
}

void TVexButton::ButtonColorChanged() {
    // The state images are rebuilt with the new colours. Unlike a write of Glyph this does not
    // count as a modified glyph: a predefined kind stays that kind when its colour changes.
    glyph_.Invalidate();
    update();
}

// ---------------------------------------------------------------------------------------------
// Painting

void TVexButton::paintEvent(QPaintEvent*) {
    QImage surface(size(), QImage::Format_RGB32);
    surface.fill(palette().color(QPalette::Window));
    PaintFace(surface);
    QPainter(this).drawImage(0, 0, surface);
}

// The classic face. The platform's themed push-button look is not used: this program always
// shows the classic owner-drawn face.
void TVexButton::PaintFace(QImage& surface) {
    QPainter painter(&surface);
    painter.setFont(font());
    FaceCanvas canvas(painter);

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
    glyph_.Draw(painter, r.ToQRect(), QPoint(0, 0), text(), layout_, margin_, spacing_, state,
                track || pressed || onFocused, ColorToRGB(captionColor), wordWrap_,
                layoutDirection() == Qt::RightToLeft);

    // 9. Focus rectangle.
    if (!menuOpen && active && focused) {
        TRect f = client;
        if (split) f.Right = splitFaceRight(client.Right - ArrowWidth, threeD ? 1 : 2);
        f.Inflate(threeD ? -4 : -3);
        canvas.FocusFrame(f);
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
            painter.fillRect(QRect(x1 + shift, y + shift, x2 - x1, 1), c);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Click and drop-down

void TVexButton::Click() {
    const TVexBtnKind kind = Kind();
    if (kind == bkDropDown && !menuDropped_) {
        if (!suppressNextClick_ && !dropDownPending_) RequestDropDown();
        suppressNextClick_ = false;
        return;
    }
    if (suppressNextClick_) {
        suppressNextClick_ = false;
        return;
    }
    // The press that asked for the menu (arrow strip, keyboard) is no click of the button.
    if (dropDownPending_) return;

    if (kind == bkHelp) {
        for (QWidget* w = this; w != nullptr; w = w->parentWidget()) {
            if (!w->whatsThis().isEmpty()) {
                QWhatsThis::showText(w->mapToGlobal(w->rect().center()), w->whatsThis(), w);
                return;
            }
        }
    } else if (kind == bkClose && parentWidget() != nullptr) {
        window()->close();
        return;
    }

    if (auto* dialog = qobject_cast<QDialog*>(window()); dialog != nullptr && parentWidget()) {
        if (modalResult_ != mrNone) {
            dialog->done(modalResult_);
        } else {
            dialog->setResult(mrNone);
        }
    }
    if (onClick_) onClick_(this);
}

void TVexButton::RequestDropDown() {
    bool dropDown = true;
    if (onBeforeDropDownMenu_) onBeforeDropDownMenu_(this, dropDown);
    if (!dropDown) return;
    arrowPressed_ = true;
    dropDownPending_ = true;
    QMetaObject::invokeMethod(
        this, [this] { DropDownRequest(); }, Qt::QueuedConnection);
}

void TVexButton::DropDownRequest() {
    dropDownPending_ = false;
    if (!HasDropDownMenu()) {
        arrowPressed_ = false;
        update();
        return;
    }
    menuDropped_ = true;
    repaint();

    // Below the button, or above it when the menu would pass the bottom of the screen.
    QMenu* menu = dropDownMenu_;
    const int menuHeight = menu->sizeHint().height();
    QPoint pos = mapToGlobal(QPoint(0, height()));
    if (const QScreen* s = screen(); s != nullptr) {
        if (pos.y() + menuHeight > s->geometry().bottom() + 1) {
            pos.setY(mapToGlobal(QPoint(0, 0)).y() - menuHeight);
        }
    }
    pos.setX(std::max(pos.x(), 0));
    pos.setY(std::max(pos.y(), 0));

    QPointer<TVexButton> self(this);
    menu->exec(pos);
    if (self == nullptr) return;
    // The release of the opening press went to the menu; a press that closed the menu (and
    // set SuppressNextClick) keeps the button down until its own release.
    if (!suppressNextClick_) setDown(false);
    QMetaObject::invokeMethod(
        this, [this] { MenuClosed(); }, Qt::QueuedConnection);
}

void TVexButton::MenuClosed() {
    mouseInControl_ =
        lookStyle_->HighlightTrack() && QApplication::widgetAt(QCursor::pos()) == this;
    menuDropped_ = false;
    repaint();
    arrowPressed_ = false;
}

// ---------------------------------------------------------------------------------------------
// Events

void TVexButton::changeEvent(QEvent* event) {
    QPushButton::changeEvent(event);
    if (event->type() == QEvent::EnabledChange) {
        if (!isEnabled()) mouseInControl_ = false;
        update();
    } else if (event->type() == QEvent::FontChange) {
        update();
    }
}

void TVexButton::enterEvent(QEnterEvent* event) {
    QPushButton::enterEvent(event);
    if (lookStyle_->HighlightTrack() && !mouseInControl_) {
        mouseInControl_ = true;
        repaint();
    }
    if (onMouseEnter_) onMouseEnter_(this);
}

void TVexButton::leaveEvent(QEvent* event) {
    QPushButton::leaveEvent(event);
    if (lookStyle_->HighlightTrack() && mouseInControl_) {
        mouseInControl_ = false;
        repaint();
    }
    if (onMouseLeave_) onMouseLeave_(this);
}

void TVexButton::focusInEvent(QFocusEvent* event) {
    QPushButton::focusInEvent(event);
    update();
}

void TVexButton::focusOutEvent(QFocusEvent* event) {
    QPushButton::focusOutEvent(event);
    update();
}

void TVexButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        const QPoint pos = event->position().toPoint();
        const bool inStrip = ArrowStrip().contains(pos);
        if (dropDownMenu_ != nullptr && inStrip) arrowPressed_ = true;
        if (HasDropDownMenu()) {
            const TVexBtnKind kind = Kind();
            if (menuDropped_) {
                // The press that closed the menu neither reopens it nor clicks the button.
                suppressNextClick_ = true;
                menuDropped_ = false;
                repaint();
            } else {
                // A suppression whose click never came (the press lost its down state when the
                // window was reactivated) must not swallow the click of this new press.
                suppressNextClick_ = false;
                const bool wanted = (kind == bkDropDown && rect().contains(pos)) ||
                                    (kind == bkDropDownButton && inStrip);
                if (wanted && !dropDownPending_) RequestDropDown();
            }
        }
    }
    QPushButton::mousePressEvent(event);
}

void TVexButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) arrowPressed_ = false;
    QPushButton::mouseReleaseEvent(event);
}

void TVexButton::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (enterAsTab_ && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
        focusNextChild();
        event->accept();
        return;
    }

    QWidget* target = nullptr;
    switch (key) {
        case Qt::Key_Left:
            target = controlOnLeft_;
            break;
        case Qt::Key_Up:
            target = controlOnTop_;
            break;
        case Qt::Key_Right:
            target = controlOnRight_;
            break;
        case Qt::Key_Down:
            target = controlOnBottom_;
            break;
        default:
            break;
    }
    if (target != nullptr && target->isEnabled() && target->isVisible() &&
        target->focusPolicy() != Qt::NoFocus) {
        target->setFocus(Qt::OtherFocusReason);
        event->accept();
        return;
    }

    if ((key == Qt::Key_Up || key == Qt::Key_Down) &&
        (event->modifiers() & (Qt::ShiftModifier | Qt::AltModifier)) && HasDropDownMenu()) {
        if (!menuDropped_ && !dropDownPending_) RequestDropDown();
        event->accept();
        return;
    }
    QPushButton::keyPressEvent(event);
}
