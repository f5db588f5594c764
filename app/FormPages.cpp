#include "FormPages.h"

#include <QComboBox>
#include <QGroupBox>
#include <QListWidget>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <algorithm>

#include "AccessibleRoles.h"
#include "ButtonFactory.h"
#include "ListBox.h"
#include "PortBox.h"
#include "PortNames.h"
#include "VexButton.h"

namespace {

const QColor kSkyBlue(166, 202, 240);

// The page set's place; the pages' content area starts below its selector row of this height.
constexpr int kPageSetLeft = 8;
constexpr int kPageSetWidth = 527;
constexpr int kPageSetHeight = 281;
constexpr int kSelectorRowHeight = 25;

class FixedItemHeight : public QStyledItemDelegate {
  public:
    FixedItemHeight(int height, QObject* parent) : QStyledItemDelegate(parent), height_(height) {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(height_);
        return size;
    }

  private:
    int height_;
};

// The designed fonts are Windows fonts; where they are missing, metric-compatible ones stand
// in before fontconfig's general fallback.
void InstallFontSubstitutes() {
    static const bool installed = [] {
        QFont::insertSubstitutions("Tahoma", {"Liberation Sans", "DejaVu Sans"});
        QFont::insertSubstitutions("Courier New", {"Liberation Mono", "DejaVu Sans Mono"});
        return true;
    }();
    (void)installed;
}

QFont CourierNew(int points) {
    QFont font("Courier New", points);
    font.setStyleHint(QFont::TypeWriter);
    return font;
}

void MakeFlat(QFrame* frame) {
    frame->setFrameStyle(QFrame::Box | QFrame::Plain);
    frame->setLineWidth(1);
}

void SetBase(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Base, color);
    widget->setPalette(palette);
}

QPlainTextEdit* MakeMemo(QWidget* page, const char* name, const QRect& geometry, const QColor& base,
                         int points, bool readOnly) {
    auto* memo = new QPlainTextEdit(page);
    memo->setObjectName(name);
    memo->setGeometry(geometry);
    memo->setFont(CourierNew(points));
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    memo->setReadOnly(readOnly);
    memo->setTabChangesFocus(true);  // Tab and Shift+Tab move on, as from a Windows memo
    MakeFlat(memo);
    SetBase(memo, base);
    return memo;
}

QListWidget* MakeList(QWidget* parent, const char* name, const QRect& geometry, int points,
                      int itemHeight) {
    auto* list = new ListBox(parent);
    list->setObjectName(name);
    list->setGeometry(geometry);
    list->setFont(CourierNew(points));
    list->setItemDelegate(new FixedItemHeight(itemHeight, list));
    list->setUniformItemSizes(true);
    list->setSortingEnabled(false);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    MakeFlat(list);
    SetBase(list, kSkyBlue);
    return list;
}

QLabel* MakeLabel(QWidget* page, const char* name, int x, int y, const QString& text) {
    auto* label = new QLabel(text, page);
    label->setObjectName(name);
    label->move(x, y);
    label->adjustSize();
    return label;
}

// A screen reader names `control` by the visible label's text, without the closing colon.
void TieLabel(QLabel* label, QWidget* control) {
    label->setBuddy(control);
    QString name = label->text().trimmed();
    if (name.endsWith(u':')) name.chop(1);
    control->setAccessibleName(name.trimmed());
}

ButtonPicture Glyph(const char* name) {
    return WindowPicture(QString::fromLatin1(name));
}

// The logo at the window's device pixel ratio: drawn from the twice-size artwork where the
// screen has more than one device pixel per pixel.
QPixmap Logo(qreal ratio) {
    if (ratio <= 1.0) return QPixmap(":/app/logo.bmp");
    const QSize size(qRound(400 * ratio), qRound(134 * ratio));
    QPixmap logo =
        QPixmap(":/app/logo@2x.png").scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    logo.setDevicePixelRatio(ratio);
    return logo;
}

// A device-type item shows at most this many characters of its line.
constexpr qsizetype kShownLineLimit = 1000;

// A description line longer than this is shown as blocks of this many characters.
constexpr qsizetype kDescriptionBlock = 10000;

}  // namespace

void FormPages::BuildForm(QWidget& window) {
    // Before any control exists: a control's accessible interface is made once, at its first use.
    InstallAccessibleRoles();
    window.setObjectName("Form1");
    window.setWindowTitle("TANDEL - QUORVANT II (PELTA/ORN/VESTRAND) 19.10.2007");
    window.setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint);
    window.setFixedSize(kClientWidth, kDesignedClientHeight);
    InstallFontSubstitutes();
    QFont font("Tahoma", 8);
    font.setStyleHint(QFont::SansSerif);
    window.setFont(font);
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Button));
    window.setPalette(palette);
    window.setAutoFillBackground(true);

    PageControl1 = new QStackedWidget(&window);
    PageControl1->setObjectName("PageControl1");
    SetPageSetTop(kPageSetDesignTop);

    // Pages in index order: start, LiveUpdate, firmware version, programming, device type.
    const char* pageNames[] = {"TabSheet1", "TabSheet3", "TabSheet4", "TabSheet5", "TabSheet2"};
    QWidget* pages[5];
    for (int i = 0; i < 5; ++i) {
        pages[i] = new QWidget(PageControl1);
        pages[i]->setObjectName(pageNames[i]);
        PageControl1->addWidget(pages[i]);
    }
    BuildStartPage(pages[kStartPage], window.devicePixelRatioF());
    BuildLiveUpdatePage(pages[kLiveUpdatePage]);
    BuildFirmwarePage(pages[kFirmwarePage], window.palette().color(QPalette::Base));
    BuildProgrammingPage(pages[kProgrammingPage]);
    BuildDeviceTypePage(pages[kDeviceTypePage]);
    PageControl1->setCurrentIndex(kStartPage);
}

void FormPages::SetPageSetTop(int top) {
    PageControl1->setGeometry(kPageSetLeft, top + kSelectorRowHeight, kPageSetWidth,
                              kPageSetHeight - kSelectorRowHeight);
}

void FormPages::BuildStartPage(QWidget* page, qreal ratio) {
    VexButton1 =
        MakeButton(page, "VexButton1", {3, 207, 346, 41},
                   "Czy sprawdzić dostępność nowych wersji oprogramowania", Glyph("globe.png"));
    VexButton1->setCursor(Qt::ArrowCursor);
    VexButton2 = MakeButton(page, "VexButton2", {406, 207, 102, 41}, "DALEJ", Glyph("forward.png"));
    // Made after the buttons, so that it comes after them in the Tab order and the page
    // opens with its first button focused.
    Image1 = new ClickableImage(page);
    Image1->setObjectName("Image1");
    Image1->setGeometry(56, 30, 400, 134);
    Image1->setPixmap(Logo(ratio));
    Image1->setCursor(Qt::PointingHandCursor);
}

void FormPages::BuildLiveUpdatePage(QWidget* page) {
    Label6 = MakeLabel(page, "Label6", 3, 3, "Stan usługi LiveUpdate :");
    Label5 = MakeLabel(page, "Label5", 126, 3, "______");
    // Its text is the state; its name what the state is of.
    Label5->setAccessibleName("Stan usługi LiveUpdate");
    Memo1 = MakeMemo(page, "Memo1", {3, 22, 505, 174}, kSkyBlue, 9, false);
    Memo1->setAccessibleName("Log LiveUpdate");
    VexButton6 =
        MakeButton(page, "VexButton6", {414, 202, 102, 40}, "START", Glyph("circling.png"));
    VexButton7 = MakeButton(page, "VexButton7", {3, 207, 102, 40}, "POWRÓT", Glyph("backward.png"));
    // Tab follows the reading order: the log, then the button row from the left.
    QWidget::setTabOrder(Memo1, VexButton7);
    QWidget::setTabOrder(VexButton7, VexButton6);
}

void FormPages::BuildFirmwarePage(QWidget* page, const QColor& base) {
    Label2 = MakeLabel(page, "Label2", 3, 3, "Dostępne wersje firmware: ");
    ListBox1 = MakeList(page, "ListBox1", {3, 22, 502, 62}, 10, 16);
    Label1 = MakeLabel(page, "Label1", 3, 90, "Opis:");
    Memo3 = MakeMemo(page, "Memo3", {3, 109, 502, 89}, base, 10, true);
    TieLabel(Label2, ListBox1);
    TieLabel(Label1, Memo3);
    VexButton12 =
        MakeButton(page, "VexButton12", {3, 207, 102, 40}, "POWRÓT", Glyph("backward.png"));
    VexButton11 =
        MakeButton(page, "VexButton11", {403, 207, 102, 40}, "DALEJ", Glyph("forward.png"));
}

void FormPages::BuildProgrammingPage(QWidget* page) {
    Label3 = MakeLabel(page, "Label3", 3, 5, "Log stanu:");
    Memo2 = MakeMemo(page, "Memo2", {3, 24, 505, 162}, kSkyBlue, 9, false);
    prog = new QProgressBar(page);
    prog->setObjectName("prog");
    prog->setGeometry(3, 192, 505, 9);
    prog->setRange(0, 100);
    prog->setValue(0);
    prog->setTextVisible(false);
    TieLabel(Label3, Memo2);
    prog->setAccessibleName("Postęp zapisu");
    VexButton13 =
        MakeButton(page, "VexButton13", {3, 207, 102, 40}, "POWRÓT", Glyph("backward.png"));
    ComboBox1 = new PortBox(page);
    ComboBox1->setObjectName("ComboBox1");
    ComboBox1->setGeometry(113, 207, 57, 21);
    ComboBox1->setEditable(true);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    for (int n = 1; n <= kPortBoxRows; ++n) ComboBox1->addItem(QString::fromStdString(ComLabel(n)));
    ComboBox1->setCurrentIndex(0);
    ComboBox1->setEditText(QString::fromStdString(ComLabel(1)));
    ComboBox1->setAccessibleName("Port szeregowy");
    ComboBox1->lineEdit()->setAccessibleName("Port szeregowy");
    VexButton15 = MakeButton(page, "VexButton15", {287, 207, 102, 40}, "STOP", Glyph("cross.png"));
    VexButton14 =
        MakeButton(page, "VexButton14", {406, 207, 102, 40}, "START", Glyph("forward.png"));
}

void FormPages::BuildDeviceTypePage(QWidget* page) {
    GroupBox1 =
        new QGroupBox(" Proszę wybrać typ urządzenia do zaktualizowania oprogramowania : ", page);
    GroupBox1->setObjectName("GroupBox1");
    GroupBox1->setGeometry(3, 3, 502, 190);
    GroupBox1->setFlat(true);
    ListBox2 = MakeList(GroupBox1, "ListBox2", {16, 23, 465, 154}, 9, 15);
    ListBox2->setAccessibleName(GroupBox1->title().trimmed().chopped(1).trimmed());
    VexButton9 = MakeButton(page, "VexButton9", {3, 207, 102, 40}, "POWRÓT", Glyph("backward.png"));
    VexButton10 =
        MakeButton(page, "VexButton10", {403, 207, 102, 40}, "DALEJ", Glyph("forward.png"));
}

QString FormPages::ItemText(const std::string& utf8) {
    QString text = QString::fromStdString(utf8);
    if (text.size() <= kShownLineLimit) return text;
    qsizetype cut = kShownLineLimit;
    if (text.at(cut - 1).isHighSurrogate()) --cut;
    return text.left(cut) + QStringLiteral("...");
}

void FormPages::AppendDescriptionLine(QPlainTextEdit* memo, const std::string& utf8) {
    const QString line = QString::fromStdString(utf8);
    qsizetype start = 0;
    do {
        qsizetype length = std::min(kDescriptionBlock, line.size() - start);
        if (start + length < line.size() && line.at(start + length - 1).isHighSurrogate()) --length;
        memo->appendPlainText(line.mid(start, length));
        start += length;
    } while (start < line.size());
}
