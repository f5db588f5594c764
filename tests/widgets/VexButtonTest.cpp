#include <QDialog>
#include <QEnterEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTimer>
#include <QWhatsThis>
#include <QtTest>
#include <functional>

#include "ButtonTestSupport.h"
#include "VexButton.h"

namespace {

QColor Rgb(TColor c) {
    return ColorToRGB(c);
}

QImage Render(TVexButton& b) {
    return b.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// A 32 x 32 glyph: a dark square on a fuchsia (transparent) background.
QImage TestGlyph() {
    QImage image(32, 32, QImage::Format_RGB32);
    image.fill(QColor(255, 0, 255));
    for (int y = 8; y < 24; ++y) {
        for (int x = 8; x < 24; ++x) image.setPixelColor(x, y, QColor(0, 0, 128));
    }
    return image;
}

// The bounding box of pixels inside `area` that differ from `background`.
QRect InkBox(const QImage& image, const QRect& area, const QColor& background) {
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (image.pixelColor(x, y) != background) box |= QRect(x, y, 1, 1);
        }
    }
    return box;
}

// Makes `handler` the one receiver of the button's click.
void OnClick(TVexButton* b, std::function<void()> handler) {
    QObject::disconnect(b, &TVexButton::OnClick, nullptr, nullptr);
    QObject::connect(b, &TVexButton::OnClick, b, std::move(handler));
}

void SendEnter(QWidget& w) {
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), w.mapToGlobal(QPointF(5, 5)));
    QApplication::sendEvent(&w, &enter);
}

}  // namespace

class VexButtonTest : public QObject {
    Q_OBJECT

  private slots:
    void defaults();
    void lookStyleWritesAndAssignment();
    void restAndHotLookTheSame();
    void pressedFace();
    void gradientAndSplitArrow();
    void kindOk();
    void buttonsShareGlyphLists();
    void kindClose();
    void oneClickSignalAfterTheKindRules_data();
    void oneClickSignalAfterTheKindRules();
    void modalResultThenOnClick();
    void kindsSurviveFocusInADialog();
    void propertyRules();
    void dropDownPressWhileMenuOpen();
    void keyboard();
    void enterOnFocusedAndDefaultButtons();
    void renderSample();
};

void VexButtonTest::defaults() {
    TVexButton b;
    QCOMPARE(b.Kind(), bkCustom);
    QCOMPARE(b.Layout(), blGlyphLeft);
    QCOMPARE(b.Margin(), -1);
    QCOMPARE(b.Spacing(), 4);
    QCOMPARE(b.NumGlyphs(), 1);
    QVERIFY(b.Glyph().isNull());
    const TVexLookStyle& ls = b.LookStyle();
    QCOMPARE(ls.Style(), vlsUltraFlat);
    QVERIFY(!ls.Gradient());
    QVERIFY(ls.HighlightTrack());
    QVERIFY(ls.HighlightOnFocused());
    QVERIFY(!ls.AlwaysShowBorder());
    QVERIFY(ls.BorderColor() == clWindowFrame);
    QVERIFY(ls.ButtonColor() == clBtnFace);
    QVERIFY(ls.HighlightColor() == clDefault);
    QVERIFY(ls.LightColor() == LightenColor(clBtnFace, 100));
    QVERIFY(ls.DarkColor() == DarkenColor(clBtnFace, 100));
    QVERIFY(ls.BorderLightColor() == LightenColor(clWindowFrame, 100));
}

void VexButtonTest::lookStyleWritesAndAssignment() {
    TVexButton b;
    b.SetKind(bkOK);
    TVexLookStyle& ls = b.LookStyle();
    ls.SetButtonColor(clTeal);
    QVERIFY(ls.LightColor() == LightenColor(clTeal, 100));
    QVERIFY(ls.DarkColor() == DarkenColor(clTeal, 100));
    // A new button colour writes the glyph again, which reads back as a custom button.
    QCOMPARE(b.Kind(), bkCustom);
    QCOMPARE(b.NumGlyphs(), 2);
    ls.SetBorderColor(clRed);
    QVERIFY(ls.BorderLightColor() == LightenColor(clRed, 100));

    TVexLookStyle other;
    other.SetAlwaysShowBorder(true);
    other.SetBorderColor(clBlue);
    other.SetButtonColor(clYellow);
    other.SetDownColor(clGreen);
    other.SetDownTextColor(clWhite);
    other.SetGradient(true);
    other.SetGradStartColor(clAqua);
    other.SetGradStartDownColor(clNavy);
    other.SetGradStartHighlightColor(clPurple);
    other.SetHighlightColor(clSilver);
    other.SetHighlightOnFocused(false);
    other.SetHighlightTextColor(clMaroon);
    other.SetHighlightTrack(false);
    other.SetStyle(vls3D);
    b.SetLookStyle(other);
    QVERIFY(ls.AlwaysShowBorder());
    QVERIFY(ls.BorderColor() == clBlue);
    QVERIFY(ls.BorderLightColor() == LightenColor(clBlue, 100));
    QVERIFY(ls.ButtonColor() == clYellow);
    QVERIFY(ls.LightColor() == LightenColor(clYellow, 100));
    QVERIFY(ls.DownColor() == clGreen);
    QVERIFY(ls.DownTextColor() == clWhite);
    QVERIFY(ls.Gradient());
    QVERIFY(ls.GradStartColor() == clAqua);
    QVERIFY(ls.GradStartDownColor() == clNavy);
    QVERIFY(ls.GradStartHighlightColor() == clPurple);
    QVERIFY(ls.HighlightColor() == clSilver);
    QVERIFY(!ls.HighlightOnFocused());
    QVERIFY(ls.HighlightTextColor() == clMaroon);
    QVERIFY(!ls.HighlightTrack());
    QCOMPARE(ls.Style(), vls3D);
}

void VexButtonTest::restAndHotLookTheSame() {
    TVexButton b;
    b.setText("DALEJ");
    b.SetGlyph(TestGlyph());
    b.LookStyle().SetHighlightColor(clBtnFace);
    b.resize(102, 41);
    const QImage rest = Render(b);
    QCOMPARE(rest.pixelColor(0, 0), Rgb(clWindowFrame));
    QCOMPARE(rest.pixelColor(101, 40), Rgb(clWindowFrame));
    QCOMPARE(rest.pixelColor(1, 1), Rgb(clBtnFace));
    QCOMPARE(rest.pixelColor(100, 20), Rgb(clBtnFace));
    // Glyph at (13 ± text width effects, 5): its dark square shows, the fuchsia is transparent.
    QVERIFY(rest.pixelColor(2, 20) == Rgb(clBtnFace));

    SendEnter(b);
    QVERIFY(b.MouseInControl());
    QCOMPARE(Render(b), rest);

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&b, &leave);
    QVERIFY(!b.MouseInControl());

    // A highlight of its own does show.
    b.LookStyle().SetHighlightColor(clYellow);
    SendEnter(b);
    QCOMPARE(Render(b).pixelColor(1, 1), Rgb(clYellow));
}

void VexButtonTest::pressedFace() {
    QWidget window;
    TVexButton* b = nullptr;
    QVERIFY(ShowFocusedStartButton(window, b));
    QVERIFY(b->Active());

    const QImage up = Render(*b);
    b->setDown(true);
    const QImage pressed = Render(*b);
    b->setDown(false);

    const QColor border = Rgb(clWindowFrame);
    const QColor borderLight = Rgb(LightenColor(clWindowFrame, 100));
    const QColor down = Rgb(DarkenColor(clBtnFace, 100));
    QCOMPARE(pressed.pixelColor(0, 20), border);
    QCOMPARE(pressed.pixelColor(1, 20), borderLight);
    QCOMPARE(pressed.pixelColor(100, 20), borderLight);
    QCOMPARE(pressed.pixelColor(50, 38), borderLight);
    QCOMPARE(pressed.pixelColor(2, 20), down);
    QCOMPARE(pressed.pixelColor(99, 20), down);
    QCOMPARE(pressed.pixelColor(50, 2), down);
    // The dotted focus rectangle three pixels in: every other pixel exclusive-ored with the
    // brush (the face at rest, the down colour pressed), so the dots are black on it.
    const QColor face = Rgb(clBtnFace);
    const QColor black(0, 0, 0);
    QVERIFY(up.pixelColor(3, 3) == black || up.pixelColor(4, 3) == black);
    QVERIFY(pressed.pixelColor(3, 3) == black || pressed.pixelColor(4, 3) == black);

    // The caption moves by (1, 1) and takes LightColor.
    const QRect area(5, 5, 92, 30);
    const QRect upInk = InkBox(up, area, face);
    const QRect pressedInk = InkBox(pressed, area, down);
    QVERIFY(!upInk.isEmpty());
    QCOMPARE(pressedInk, upInk.translated(1, 1));
    const QColor light = Rgb(LightenColor(clBtnFace, 100));
    bool lightInk = false;
    for (int y = pressedInk.top(); y <= pressedInk.bottom(); ++y) {
        for (int x = pressedInk.left(); x <= pressedInk.right(); ++x) {
            lightInk = lightInk || pressed.pixelColor(x, y) == light;
        }
    }
    QVERIFY(lightInk);
}

void VexButtonTest::gradientAndSplitArrow() {
    TVexButton b;
    b.resize(102, 40);
    b.LookStyle().SetGradient(true);
    QImage image = Render(b);
    // Ultra-flat at rest: the gradient fills inside the border, from GradNormal down to Face.
    QCOMPARE(image.pixelColor(0, 0), Rgb(clWindowFrame));
    QCOMPARE(image.pixelColor(50, 1), Rgb(LightenColor(LightenColor(clBtnFace, 100), 100)));
    QCOMPARE(image.pixelColor(50, 38), Rgb(clBtnFace));
    b.LookStyle().SetGradient(false);

    // The arrow of a split button: strip (88, 1)-(101, 39), w 6, h 19, q 3.
    QMenu menu;
    b.SetKind(bkDropDownButton);
    b.SetDropDownMenu(&menu);
    image = Render(b);
    const QColor ink = b.palette().color(QPalette::ButtonText);
    for (int x = 91; x <= 97; ++x) QCOMPARE(image.pixelColor(x, 18), ink);
    QVERIFY(image.pixelColor(90, 18) != ink);
    QVERIFY(image.pixelColor(98, 18) != ink);
    QCOMPARE(image.pixelColor(92, 19), ink);
    QVERIFY(image.pixelColor(91, 19) != ink);
    QCOMPARE(image.pixelColor(94, 21), ink);
    QVERIFY(image.pixelColor(94, 22) != ink);
    QVERIFY(image.pixelColor(94, 17) != ink);

    b.setEnabled(false);
    QCOMPARE(Render(b).pixelColor(94, 21), Rgb(b.LookStyle().DarkColor()));
}

void VexButtonTest::kindOk() {
    TVexButton b;
    b.SetKind(bkOK);
    QCOMPARE(b.Kind(), bkOK);
    QCOMPARE(b.text(), QString("OK"));
    QVERIFY(b.Default());
    QVERIFY(!b.Cancel());
    QCOMPARE(b.ModalResult(), 1);
    QCOMPARE(b.Glyph().size(), QSize(36, 18));
    QCOMPARE(b.NumGlyphs(), 2);
    QVERIFY(!b.GlyphModified());

    b.SetGlyph(TestGlyph());
    QCOMPARE(b.Kind(), bkCustom);
    QCOMPARE(b.NumGlyphs(), 1);

    // Changing what the kind decided also reads back as custom.
    b.SetKind(bkCancel);
    QCOMPARE(b.Kind(), bkCancel);
    QCOMPARE(b.text(), QString("Cancel"));
    QVERIFY(b.Cancel());
    QVERIFY(!b.Default());
    b.SetModalResult(mrNone);
    QCOMPARE(b.Kind(), bkCustom);

    b.SetKind(bkAll);
    QCOMPARE(b.Glyph().size(), QSize(36, 19));
    QCOMPARE(b.NumGlyphs(), 2);
    QCOMPARE(b.ModalResult(), 8);
}

void VexButtonTest::buttonsShareGlyphLists() {
    QCOMPARE(TGlyphCache::Instance(), nullptr);
    auto* first = new TVexButton;
    auto* second = new TVexButton;
    first->SetGlyph(TestGlyph());
    second->SetGlyph(QPixmap::fromImage(TestGlyph()));
    first->resize(102, 40);
    second->resize(102, 40);
    Render(*first);
    Render(*second);
    QVERIFY(first->GlyphHolder().List() != nullptr);
    QCOMPARE(first->GlyphHolder().List(), second->GlyphHolder().List());
    QCOMPARE(TGlyphCache::Instance()->ListCount(), 1);
    delete first;
    QVERIFY(TGlyphCache::Instance() != nullptr);
    delete second;
    QCOMPARE(TGlyphCache::Instance(), nullptr);
}

void VexButtonTest::kindClose() {
    QWidget window;
    auto* b = new TVexButton(&window);
    int clicks = 0;
    OnClick(b, [&] { ++clicks; });
    b->SetKind(bkClose);
    QCOMPARE(b->text(), QString("&Close"));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::mouseClick(b, Qt::LeftButton);
    QVERIFY(!window.isVisible());
    QCOMPARE(clicks, 0);

    // A custom button in the same place fires OnClick and leaves the window open.
    window.show();
    b->SetKind(bkCustom);
    b->click();
    QVERIFY(window.isVisible());
    QCOMPARE(clicks, 1);
}

void VexButtonTest::oneClickSignalAfterTheKindRules_data() {
    QTest::addColumn<TVexBtnKind>("kind");
    QTest::addColumn<bool>("withMenu");
    QTest::addColumn<QString>("whatsThis");
    QTest::addColumn<int>("onClicks");
    QTest::newRow("custom") << bkCustom << false << QString() << 1;
    QTest::newRow("OK outside a dialog") << bkOK << false << QString() << 1;
    QTest::newRow("close: the window closes") << bkClose << false << QString() << 0;
    QTest::newRow("help: the text shows") << bkHelp << false << QString("help") << 0;
    QTest::newRow("help without a text") << bkHelp << false << QString() << 1;
    QTest::newRow("drop-down: the menu is asked for") << bkDropDown << true << QString() << 0;
    QTest::newRow("drop-down without a menu") << bkDropDown << false << QString() << 0;
    QTest::newRow("split button's face") << bkDropDownButton << true << QString() << 1;
}

// Every press-release is one QPushButton::clicked; OnClick comes only where the kind leaves
// the click to the button's handler.
void VexButtonTest::oneClickSignalAfterTheKindRules() {
    QFETCH(TVexBtnKind, kind);
    QFETCH(bool, withMenu);
    QFETCH(QString, whatsThis);
    QFETCH(int, onClicks);
    QWidget window;
    window.setWhatsThis(whatsThis);
    auto* b = new TVexButton(&window);
    b->setGeometry(0, 0, 100, 30);
    b->SetKind(kind);
    QMenu menu;
    menu.addAction("one");
    if (withMenu) b->SetDropDownMenu(&menu);
    b->SetOnBeforeDropDownMenu([](TVexButton*, bool& dropDown) { dropDown = false; });
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QSignalSpy clicked(b, &QAbstractButton::clicked);
    QSignalSpy onClick(b, &TVexButton::OnClick);
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(10, 10));
    QWhatsThis::hideText();
    QCOMPARE(QList<qsizetype>({clicked.count(), onClick.count()}), QList<qsizetype>({1, onClicks}));
}

void VexButtonTest::modalResultThenOnClick() {
    QDialog dialog;
    auto* b = new TVexButton(&dialog);
    b->SetKind(bkRetry);
    int result = -1;
    OnClick(b, [&] { result = dialog.result(); });
    QTimer::singleShot(0, b, [b] { b->click(); });
    QCOMPARE(dialog.exec(), int(mrRetry));
    QCOMPARE(result, int(mrRetry));

    // OnClick runs with the dialog still open and may take the result back.
    bool visibleInHandler = false;
    OnClick(b, [&] {
        visibleInHandler = dialog.isVisible();
        dialog.setResult(mrNone);
    });
    QTimer::singleShot(0, b, [b] { b->click(); });
    QTimer::singleShot(50, &dialog, [&dialog] { dialog.done(mrIgnore); });
    QCOMPARE(dialog.exec(), int(mrIgnore));
    QVERIFY(visibleInHandler);

    // Escape clicks the Cancel button of the window.
    OnClick(b, [&] { result = dialog.result(); });
    b->SetKind(bkCancel);
    result = -1;
    QTimer::singleShot(0, &dialog, [&dialog] {
        QVERIFY(QTest::qWaitForWindowActive(&dialog));  // the shortcut needs the active window
        QTest::keyClick(&dialog, Qt::Key_Escape);
    });
    QCOMPARE(dialog.exec(), int(mrCancel));
    QCOMPARE(result, int(mrCancel));
}

// Focus moving between the buttons of a dialog changes none of their kinds.
void VexButtonTest::kindsSurviveFocusInADialog() {
    QDialog dialog;
    auto* ok = new TVexButton(&dialog);
    auto* cancel = new TVexButton(&dialog);
    ok->SetKind(bkOK);
    cancel->SetKind(bkCancel);
    cancel->move(0, 50);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    cancel->setFocus();
    QTRY_VERIFY(cancel->hasFocus());
    QCOMPARE(ok->Kind(), bkOK);
    QCOMPARE(cancel->Kind(), bkCancel);
    ok->setFocus();
    QTRY_VERIFY(ok->hasFocus());
    QCOMPARE(ok->Kind(), bkOK);
    QCOMPARE(cancel->Kind(), bkCancel);
}

void VexButtonTest::propertyRules() {
    TVexButton b;
    b.SetNumGlyphs(7);
    QCOMPARE(b.NumGlyphs(), 4);
    b.SetNumGlyphs(0);
    QCOMPARE(b.NumGlyphs(), 4);
    b.SetMargin(-5);
    QCOMPARE(b.Margin(), -1);
    b.SetMargin(3);
    QCOMPARE(b.Margin(), 3);
    b.SetMargin(-1);
    QCOMPARE(b.Margin(), -1);

    b.SetControlOnLeft(&b);
    QCOMPARE(b.ControlOnLeft(), nullptr);
    auto* edit = new QLineEdit;
    auto* menu = new QMenu;
    b.SetControlOnTop(edit);
    b.SetDropDownMenu(menu);
    QCOMPARE(b.ControlOnTop(), edit);
    delete edit;
    delete menu;
    QCOMPARE(b.ControlOnTop(), nullptr);
    QCOMPARE(b.DropDownMenu(), nullptr);

    // Disabling clears the hot state.
    SendEnter(b);
    QVERIFY(b.MouseInControl());
    b.setEnabled(false);
    QVERIFY(!b.MouseInControl());
}

void VexButtonTest::dropDownPressWhileMenuOpen() {
    QWidget window;
    auto* b = new TVexButton(&window);
    b->setGeometry(0, 0, 100, 30);
    QMenu menu;
    menu.addAction("one");
    b->SetKind(bkDropDown);
    b->SetDropDownMenu(&menu);
    int requests = 0;
    int clicks = 0;
    b->SetOnBeforeDropDownMenu([&](TVexButton*, bool& dropDown) {
        ++requests;
        QVERIFY(dropDown);
    });
    OnClick(b, [&] { ++clicks; });
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    bool droppedWhileOpen = false;
    bool clearedByPress = false;
    connect(&menu, &QMenu::aboutToShow, b, [&] {
        QTimer::singleShot(0, b, [&] {
            droppedWhileOpen = b->MenuDropped();
            // The press that closes the menu reaches the button while it is still dropped.
            QMouseEvent press(QEvent::MouseButtonPress, QPointF(10, 10),
                              b->mapToGlobal(QPointF(10, 10)), Qt::LeftButton, Qt::LeftButton,
                              Qt::NoModifier);
            QApplication::sendEvent(b, &press);
            clearedByPress = !b->MenuDropped();
            menu.close();
        });
    });

    QTest::mousePress(b, Qt::LeftButton, {}, QPoint(10, 10));
    QCOMPARE(requests, 1);
    QTRY_VERIFY(droppedWhileOpen);
    QVERIFY(clearedByPress);
    QTRY_VERIFY(!b->MenuDropped());
    // The click of that press (its release may come after the window settled) is swallowed.
    b->click();
    QTest::qWait(20);
    QCOMPARE(requests, 1);  // the menu was not reopened
    QCOMPARE(clicks, 0);
    QVERIFY(!b->MenuDropped());

    // The next click asks for the menu again; the handler may cancel it.
    b->SetOnBeforeDropDownMenu([&](TVexButton*, bool& dropDown) {
        ++requests;
        dropDown = false;
    });
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::qWait(20);
    QCOMPARE(requests, 3);  // press and click both ask; neither opens it
    QVERIFY(!b->MenuDropped());
}

void VexButtonTest::keyboard() {
    QWidget window;
    auto* b = new TVexButton(&window);
    auto* left = new QLineEdit(&window);
    auto* next = new QLineEdit(&window);
    b->SetControlOnLeft(left);
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    b->setFocus();
    QTRY_VERIFY(b->hasFocus());
    QTest::keyClick(b, Qt::Key_Left);
    QVERIFY(left->hasFocus());

    // A neighbour that cannot take the focus is passed over.
    left->setEnabled(false);
    b->setFocus();
    QTest::keyClick(b, Qt::Key_Left);
    QVERIFY(!left->hasFocus());
    left->setEnabled(true);
    b->setFocus();

    int clicks = 0;
    OnClick(b, [&] { ++clicks; });
    b->SetEnterAsTab(true);
    QTest::keyClick(b, Qt::Key_Return);
    QVERIFY(!b->hasFocus());
    QVERIFY(left->hasFocus() || next->hasFocus());
    b->setFocus();
    QCOMPARE(clicks, 0);

    // Shift+Down asks a drop-down button for its menu.
    QMenu menu;
    int requests = 0;
    b->SetKind(bkDropDownButton);
    b->SetDropDownMenu(&menu);
    b->SetOnBeforeDropDownMenu([&](TVexButton*, bool& dropDown) {
        ++requests;
        dropDown = false;
    });
    b->setFocus();
    QTest::keyClick(b, Qt::Key_Down, Qt::ShiftModifier);
    QCOMPARE(requests, 1);
    QTest::keyClick(b, Qt::Key_Down);
    QCOMPARE(requests, 1);
}

// Enter and Space on the focused button; Enter elsewhere in the window for the default button.
void VexButtonTest::enterOnFocusedAndDefaultButtons() {
    QWidget window;
    auto* plain = new TVexButton(&window);
    auto* def = new TVexButton(&window);
    auto* edit = new QLineEdit(&window);
    auto* memo = new QPlainTextEdit(&window);
    auto* list = new QListWidget(&window);
    auto* qtButton = new QPushButton("Qt", &window);
    list->addItem("a");
    def->SetDefault(true);
    int plainClicks = 0;
    int defClicks = 0;
    OnClick(plain, [&] { ++plainClicks; });
    OnClick(def, [&] { ++defClicks; });
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    plain->setFocus();
    QTest::keyClick(plain, Qt::Key_Return);
    QTest::keyClick(plain, Qt::Key_Enter, Qt::KeypadModifier);
    QTest::keyClick(plain, Qt::Key_Space);
    QCOMPARE(plainClicks, 3);
    QCOMPARE(defClicks, 0);

    def->setFocus();
    QTest::keyClick(def, Qt::Key_Return);
    QCOMPARE(defClicks, 1);

    // Widgets that leave Enter alone pass it to the default button.
    for (QWidget* w : {static_cast<QWidget*>(edit), static_cast<QWidget*>(list)}) {
        w->setFocus();
        QTest::keyClick(w, Qt::Key_Return);
        QTest::keyClick(w, Qt::Key_Enter, Qt::KeypadModifier);
    }
    QCOMPARE(defClicks, 5);
    QTest::keyClick(edit, Qt::Key_Return, Qt::ControlModifier);  // no plain Enter
    QCOMPARE(defClicks, 5);

    // A memo keeps Enter for its line breaks; another push button keeps the focus's Enter.
    memo->setFocus();
    QTest::keyClick(memo, Qt::Key_Return);
    QCOMPARE(memo->toPlainText(), QString("\n"));
    qtButton->setFocus();
    QTest::keyClick(qtButton, Qt::Key_Return);
    QCOMPARE(defClicks, 5);

    // A disabled, hidden or no longer default button takes nothing.
    def->setEnabled(false);
    QTest::keyClick(edit, Qt::Key_Return);
    def->setEnabled(true);
    def->hide();
    QTest::keyClick(edit, Qt::Key_Return);
    def->show();
    def->SetDefault(false);
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(defClicks, 5);
    QCOMPARE(plainClicks, 3);
}

// Writes a sheet of sample faces for a visual check when TANDEL_WIDGET_SHEET names a file.
void VexButtonTest::renderSample() {
    const QString path = qEnvironmentVariable("TANDEL_WIDGET_SHEET");
    if (path.isEmpty()) QSKIP("set TANDEL_WIDGET_SHEET to write the sample sheet");
    QWidget window;
    window.resize(560, 310);
    QList<TVexButton*> buttons;
    auto add = [&](const QString& caption, int x, int y) {
        auto* b = new TVexButton(&window);
        b->setText(caption);
        b->SetGlyph(TestGlyph());
        b->LookStyle().SetHighlightColor(clBtnFace);
        b->setGeometry(x, y, 102, 41);
        buttons << b;
        return b;
    };
    add("rest", 5, 5);
    SendEnter(*add("hot", 115, 5));
    auto* focused = add("pressed", 225, 5);
    add("disabled", 335, 5)->setEnabled(false);
    auto* yellow = add("yellow hot", 445, 5);
    yellow->LookStyle().SetHighlightColor(clYellow);
    SendEnter(*yellow);
    auto* flat = add("flat", 5, 60);
    flat->LookStyle().SetStyle(vlsFlat);
    auto* threeD = add("3D", 115, 60);
    threeD->LookStyle().SetStyle(vls3D);
    auto* grad = add("gradient", 225, 60);
    grad->LookStyle().SetGradient(true);
    auto* split = add("split", 335, 60);
    QMenu menu;
    split->SetKind(bkDropDownButton);
    split->SetDropDownMenu(&menu);
    auto* wide = add("Czy sprawdzić dostępność nowych wersji oprogramowania", 5, 115);
    wide->resize(346, 41);
    int x = 5;
    for (TVexBtnKind k : {bkOK, bkCancel, bkHelp, bkYes, bkNo}) {
        auto* b = new TVexButton(&window);
        b->SetKind(k);
        b->setGeometry(x, 170, 102, 30);
        x += 110;
    }
    x = 5;
    for (TVexBtnKind k : {bkClose, bkAbort, bkRetry, bkIgnore, bkAll}) {
        auto* b = new TVexButton(&window);
        b->SetKind(k);
        b->setEnabled(k != bkIgnore);
        b->setGeometry(x, 210, 102, 30);
        x += 110;
    }
    auto* flatDown = add("flat down", 5, 255);
    flatDown->LookStyle().SetStyle(vlsFlat);
    auto* threeDDown = add("3D down", 115, 255);
    threeDDown->LookStyle().SetStyle(vls3D);
    auto* gradHot = add("grad hot", 225, 255);
    gradHot->LookStyle().SetGradient(true);
    gradHot->LookStyle().SetHighlightColor(clDefault);
    SendEnter(*gradHot);
    auto* gradDown = add("grad down", 335, 255);
    gradDown->LookStyle().SetGradient(true);
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    for (TVexButton* b : {flatDown, threeDDown, gradDown}) b->setDown(true);
    focused->setFocus();
    focused->setDown(true);
    QVERIFY(window.grab().save(path));
}

QTEST_MAIN(VexButtonTest)
#include "VexButtonTest.moc"
