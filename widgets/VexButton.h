#pragma once

#include <QImage>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <cstdint>
#include <functional>
#include <memory>

#include "ButtonGlyph.h"
#include "VexColor.h"
#include "VexLookStyle.h"

class QPixmap;
class QShortcut;

enum TVexBtnKind : uint8_t {
    bkCustom,
    bkOK,
    bkCancel,
    bkHelp,
    bkYes,
    bkNo,
    bkClose,
    bkAbort,
    bkRetry,
    bkIgnore,
    bkAll,
    bkDropDown,
    bkDropDownButton
};

// Modal results a kind gives its button (the parent dialog's result on click).
enum TModalResult : int {
    mrNone = 0,
    mrOk = 1,
    mrCancel = 2,
    mrAbort = 3,
    mrRetry = 4,
    mrIgnore = 5,
    mrYes = 6,
    mrNo = 7,
    mrAll = 8
};

// An owner-drawn push button: 3D, flat or ultra-flat face with optional vertical gradients, hot
// tracking, a glyph beside the caption, predefined kinds and an optional drop-down menu.
//
// Click handling: the button's one click signal is OnClick; connect to it for the button's
// action. It is emitted once the kind rules have had their say: bkClose closes the window
// instead, bkHelp shows help, the drop-down kinds open their menu, and a click swallowed after
// a menu closed emits nothing. The button takes QPushButton::clicked itself to run those rules.
class TVexButton : public QPushButton {
    Q_OBJECT

  public:
    using TNotifyEvent = std::function<void(TVexButton* sender)>;
    // `dropDown` comes preset to true; leaving it false cancels the menu.
    using TVexBeforeDropDownMenu = std::function<void(TVexButton* sender, bool& dropDown)>;

    static constexpr int ArrowWidth = 15;

    explicit TVexButton(QWidget* parent = nullptr);
    ~TVexButton() override;

    // Reading falls back to bkCustom once Default, Cancel or ModalResult no longer match a
    // predefined kind or the glyph was written.
    TVexBtnKind Kind() const;
    void SetKind(TVexBtnKind kind);

    QImage Glyph() const { return glyph_.Glyph(); }
    // One to four images side by side (up, disabled, down, exclusive); the bottom-left pixel is
    // the transparent colour.
    void SetGlyph(const QImage& glyph);
    void SetGlyph(const QPixmap& glyph);
    // Twice-size artwork of the glyph for painting at a device pixel ratio above 1; set it
    // after the glyph (writing the glyph drops it).
    void SetHighResGlyph(const QImage& glyph2x) { glyph_.SetHighResGlyph(glyph2x); }
    int NumGlyphs() const { return glyph_.NumGlyphs(); }
    // Values above 4 become 4; below 1 are ignored.
    void SetNumGlyphs(int value);

    TButtonLayout Layout() const { return layout_; }
    void SetLayout(TButtonLayout v);
    // Pixels from the edge to the glyph; -1 centres glyph and caption; below -1 is ignored.
    int Margin() const { return margin_; }
    void SetMargin(int v);
    // Pixels between glyph and caption; -1 spreads them evenly.
    int Spacing() const { return spacing_; }
    void SetSpacing(int v);
    bool WordWrap() const { return wordWrap_; }
    void SetWordWrap(bool v);

    TVexLookStyle& LookStyle() { return *lookStyle_; }
    const TVexLookStyle& LookStyle() const { return *lookStyle_; }
    // Copies `style` into the button's own look style.
    void SetLookStyle(const TVexCustomLookStyle& style) { lookStyle_->Assign(style); }

    // Menu of the drop-down kinds; not owned (forgotten when it is destroyed).
    QMenu* DropDownMenu() const { return dropDownMenu_; }
    void SetDropDownMenu(QMenu* menu) { dropDownMenu_ = menu; }

    bool EnterAsTab() const { return enterAsTab_; }
    void SetEnterAsTab(bool v) { enterAsTab_ = v; }

    // Focus targets of the arrow keys; the button itself is stored as none, and a destroyed
    // target becomes none.
    QWidget* ControlOnLeft() const { return controlOnLeft_; }
    void SetControlOnLeft(QWidget* w);
    QWidget* ControlOnTop() const { return controlOnTop_; }
    void SetControlOnTop(QWidget* w);
    QWidget* ControlOnRight() const { return controlOnRight_; }
    void SetControlOnRight(QWidget* w);
    QWidget* ControlOnBottom() const { return controlOnBottom_; }
    void SetControlOnBottom(QWidget* w);

    // The result given to a parent QDialog on click (0 leaves it open).
    int ModalResult() const { return modalResult_; }
    void SetModalResult(int v) { modalResult_ = v; }
    // The default button of its window: it takes Enter while the focus is elsewhere in the
    // window, except on another push button. The focused button always takes Enter.
    bool Default() const { return isDefault(); }
    void SetDefault(bool v);
    // Escape anywhere in the window clicks a Cancel button.
    bool Cancel() const { return cancel_; }
    void SetCancel(bool v);

    void SetOnBeforeDropDownMenu(TVexBeforeDropDownMenu handler) {
        onBeforeDropDownMenu_ = std::move(handler);
    }
    void SetOnMouseEnter(TNotifyEvent handler) { onMouseEnter_ = std::move(handler); }
    void SetOnMouseLeave(TNotifyEvent handler) { onMouseLeave_ = std::move(handler); }

    // The focused button, or the default button while no other push button has the focus.
    bool Active() const;
    // Hot: the pointer is over the button (with HighlightTrack).
    bool MouseInControl() const { return mouseInControl_; }
    // The drop-down menu is open.
    bool MenuDropped() const { return menuDropped_; }
    bool GlyphModified() const { return glyphModified_; }
    const TButtonGlyph& GlyphHolder() const { return glyph_; }

    // The button's click with the kind rules: the drop-down request of bkDropDown, a swallowed
    // click after a menu closed, bkHelp (shows the What's This text of the nearest widget up
    // from the button that has one), bkClose (closes the window), then the modal result of a
    // parent QDialog and OnClick.
    virtual void Click();

  signals:
    // The click, after the kind rules (see Click).
    void OnClick();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void LookStyleChanged(TLookChange change);
    void WatchWindowForEnter();
    // Paints the face into `surface`, which holds `ratio` device pixels per pixel.
    void PaintFace(QImage& surface, qreal ratio);
    void RequestDropDown();
    void DropDownRequest();
    void MenuClosed();
    bool HasDropDownMenu() const;
    QRect ArrowStrip() const;

    TButtonGlyph glyph_;
    std::unique_ptr<TVexLookStyle> lookStyle_;
    mutable TVexBtnKind kind_ = bkCustom;
    TButtonLayout layout_ = blGlyphLeft;
    int margin_ = -1;
    int spacing_ = 4;
    bool wordWrap_ = false;
    int modalResult_ = mrNone;
    bool cancel_ = false;
    QShortcut* cancelShortcut_ = nullptr;
    QPointer<QWidget> watchedWindow_;
    QPointer<QMenu> dropDownMenu_;
    bool enterAsTab_ = false;
    QPointer<QWidget> controlOnLeft_;
    QPointer<QWidget> controlOnTop_;
    QPointer<QWidget> controlOnRight_;
    QPointer<QWidget> controlOnBottom_;
    TVexBeforeDropDownMenu onBeforeDropDownMenu_;
    TNotifyEvent onMouseEnter_;
    TNotifyEvent onMouseLeave_;

    bool mouseInControl_ = false;
    bool menuDropped_ = false;
    bool suppressNextClick_ = false;
    bool arrowPressed_ = false;
    bool dropDownPending_ = false;
    bool glyphModified_ = false;
};
