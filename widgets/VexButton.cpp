#include "VexButton.h"

#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
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

// Return, or Enter of the keypad, with no modifier but the keypad's own.
bool IsEnterKey(const QKeyEvent& event) {
    return (event.key() == Qt::Key_Return || event.key() == Qt::Key_Enter) &&
           (event.modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

bool IsPredefined(TVexBtnKind kind) {
    return kind != bkCustom && kind != bkDropDown && kind != bkDropDownButton;
}

}  // namespace

TVexButton::TVexButton(QWidget* parent)
    : QPushButton(parent), lookStyle_(std::make_unique<TVexLookStyle>([this](TLookChange change) {
          LookStyleChanged(change);
      })) {
    glyph_.SetOnChange([this] { update(); });
    setAttribute(Qt::WA_OpaquePaintEvent);  // the face covers every pixel
    // `Default` is a property of its own: focus moving between the buttons of a dialog
    // changes which one is active, never which one is the default. Enter is handled here
    // instead: the focused button takes it, and the default button takes it for its window.
    setAutoDefault(false);
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
        WatchWindowForEnter();
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
    WatchWindowForEnter();
    update();
}

void TVexButton::WatchWindowForEnter() {
    if (watchedWindow_ != nullptr) watchedWindow_->removeEventFilter(this);
    watchedWindow_ = isDefault() ? window() : nullptr;
    if (watchedWindow_ != nullptr && watchedWindow_ != this) {
        watchedWindow_->installEventFilter(this);
    } else {
        watchedWindow_ = nullptr;
    }
}

// An Enter that no widget of the window took reaches the window itself; the default button
// of that window takes it, unless the focus is on another push button (which keeps Enter to
// itself, or declined it).
bool TVexButton::eventFilter(QObject* watched, QEvent* event) {
    if (watched == watchedWindow_ && event->type() == QEvent::KeyPress && isDefault() &&
        isEnabled() && isVisible()) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const QWidget* focus = QApplication::focusWidget();
        const bool otherButton =
            focus != nullptr && focus != this && qobject_cast<const QPushButton*>(focus) != nullptr;
        if (IsEnterKey(*key) && !otherButton) {
            click();
            return true;
        }
    }
    return QPushButton::eventFilter(watched, event);
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

void TVexButton::LookStyleChanged(TLookChange change) {
    if (change == TLookChange::ButtonColor) {
        // The glyph is written again, so its state images are made anew with the new colours.
        const QImage highRes = glyph_.HighResGlyph();
        SetGlyph(Glyph());
        glyph_.SetHighResGlyph(highRes);
    }
    update();
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

    // The window's modal result is set first; a handler of OnClick may still change it, and a
    // dialog closes only after the handler, with the result it has then.
    auto* dialog = parentWidget() != nullptr ? qobject_cast<QDialog*>(window()) : nullptr;
    if (dialog != nullptr) dialog->setResult(modalResult_);
    emit OnClick();
    if (dialog != nullptr && dialog->result() != mrNone) dialog->done(dialog->result());
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
    if (event->type() == QEvent::ParentChange) {
        WatchWindowForEnter();
    } else if (event->type() == QEvent::EnabledChange) {
        if (!isEnabled()) mouseInControl_ = false;
        update();
    } else if (event->type() == QEvent::FontChange) {
        update();
    }
}

void TVexButton::showEvent(QShowEvent* event) {
    QPushButton::showEvent(event);
    // The window may have changed with an ancestor's parent since the button became default.
    if (isDefault() && watchedWindow_ != window()) WatchWindowForEnter();
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
    if (IsEnterKey(*event)) {
        click();
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
