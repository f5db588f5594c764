#include "TForm1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QEvent>
#include <QGroupBox>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QTimer>
#include <algorithm>
#include <exception>

#include "BaseDirectory.h"
#include "BoundedRead.h"
#include "ButtonFactory.h"
#include "Cp1250.h"
#include "DesktopServices.h"
#include "DeviceConfig.h"
#include "ErrorText.h"
#include "FirmwareStore.h"
#include "InputDeferral.h"
#include "ListBox.h"
#include "LiveUpdate.h"
#include "OpenFailureDetail.h"
#include "PortBox.h"
#include "RunJournal.h"

namespace {

// Thrown from the HTTP client's status notification to end a LiveUpdate run whose window
// is being closed.
struct WindowClosing {};

const QColor kSkyBlue(166, 202, 240);

// The page set keeps its own page selector row out of sight above the client area: its top
// edge is -7 as designed and -21 after the start-up work, and the pages' content area starts
// below a selector row of this height.
constexpr int kPageSetLeft = 8;
constexpr int kPageSetDesignTop = -7;
constexpr int kPageSetRunTop = -21;
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

// A device-type item shows at most this many characters of its line, the rest as "...": the
// lines of an init.cfg are short, and one of megabytes would take hundreds of MiB and seconds
// to lay out. The line itself is kept whole.
constexpr qsizetype kShownLineLimit = 1000;

QString ItemText(const std::string& utf8) {
    QString text = QString::fromStdString(utf8);
    if (text.size() <= kShownLineLimit) return text;
    qsizetype cut = kShownLineLimit;
    if (text.at(cut - 1).isHighSurrogate()) --cut;
    return text.left(cut) + QStringLiteral("...");
}

// The description box lays a line out as one block, which costs far more than linear time
// for a long one (a one-line opis.txt of 1 MiB took half a minute): a line longer than this
// is shown as blocks of this many characters, its text whole.
constexpr qsizetype kDescriptionBlock = 10000;

void AppendDescriptionLine(QPlainTextEdit* memo, const std::string& utf8) {
    const QString line = QString::fromStdString(utf8);
    qsizetype start = 0;
    do {
        qsizetype length = std::min(kDescriptionBlock, line.size() - start);
        if (start + length < line.size() && line.at(start + length - 1).isHighSurrogate())
            --length;
        memo->appendPlainText(line.mid(start, length));
        start += length;
    } while (start < line.size());
}

bool HasSelection(const QListWidget* list) {
    return !list->selectedItems().isEmpty();
}

}  // namespace

// The LiveUpdate page as the LiveUpdate run sees it.
class TForm1::LiveUpdateLog final : public LiveUpdateHost {
  public:
    explicit LiveUpdateLog(TForm1& form) : form_(form) {}
    void LogClear() override { form_.Memo1->clear(); }
    void LogAppend(const std::string& line) override {
        form_.Memo1->appendPlainText(QString::fromStdString(line));
    }
    void ProcessMessages() override { form_.ProcessMessages(); }
    // Runs between the slices of every HTTP request: a close asked for meanwhile ends the
    // request and the run at once.
    void PaintOnlyPass() override {
        form_.PaintOnlyPass();
        if (form_.closeWanted_) throw WindowClosing{};
    }
    std::vector<std::string> DeviceTypeLines() override { return form_.deviceLines_; }
    std::string BaseDirectory() override { return ::BaseDirectory(); }

  private:
    TForm1& form_;
};

// The programming page as the boot-mode entries and programming sequences see it.
class TForm1::StatusLog final : public FlashHost {
  public:
    explicit StatusLog(TForm1& form) : form_(form) {}
    TSerialPortDriver& Dane() override { return form_.dane_; }
    Clock& Time() override { return form_.clock_; }
    void LogClear() override { form_.Memo2->clear(); }
    void LogAppend(const std::string& line) override {
        form_.Memo2->appendPlainText(QString::fromStdString(line));
    }
    void SetProgressMax(int maximum) override { form_.prog->setMaximum(maximum); }
    void SetProgress(int position) override { form_.prog->setValue(position); }
    void ProcessMessages() override { form_.ProcessMessages(); }
    void PaintOnlyPass() override { form_.PaintOnlyPass(); }
    bool Closing() const override { return form_.closeWanted_; }
    // A closing window stops the run for good: the entries that clear the flag before they
    // wait must not wait on.
    bool StopRequested() const override { return form_.stopRequested_ || form_.closeWanted_; }
    void SetStopRequested(bool value) override { form_.stopRequested_ = value; }
    std::string PortBoxText() override { return form_.ComboBox1->currentText().toStdString(); }
    std::string BaseDirectory() override { return ::BaseDirectory(); }
    std::string FirmwareFolder() override { return FolderOnDisk(form_.firmwareFolder_); }
    std::string SelectedFirmware() override {
        const auto selected = form_.ListBox1->selectedItems();
        return selected.isEmpty() ? std::string() : selected.first()->text().toStdString();
    }
    void ShowMessage(const std::string& text) override {
        form_.desktop_.Message(QString::fromStdString(text), QString());
    }
    // The window gives the reason in Polish, from what the open itself returned; the entry's
    // reason (the command line's English) only says whether there is one.
    void ShowOpenFailure(const std::string& text, const std::string& reason) override {
        const std::string polish =
            reason.empty() ? std::string()
                           : OpenFailureDetail(form_.dane_.PortName(),
                                               form_.dane_.LastOpenFailure(), ReasonLanguage::Polish);
        form_.desktop_.Message(QString::fromStdString(text), QString::fromStdString(polish));
    }
    bool AskYesNo(const std::string& caption, const std::string& text) override {
        return form_.desktop_.YesNo(QString::fromStdString(caption), QString::fromStdString(text));
    }

  private:
    TForm1& form_;
};

void ClickableImage::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) emit clicked();
    QLabel::mousePressEvent(event);
}

TForm1::TForm1(Services services, QWidget* parent)
    : QWidget(parent),
      desktop_(services.desktop),
      clock_(services.clock),
      dane_(services.serialPorts, services.clock),
      deferral_(new InputDeferral(this)) {
    SetDriverDesignSettings(dane_);
    liveUpdateLog_ = std::make_unique<LiveUpdateLog>(*this);
    statusLog_ = std::make_unique<StatusLog>(*this);
    run_ = std::make_unique<UpdateRun>(*statusLog_);
    http_.SetOnStatus([this](int code, const std::string&) { IdHTTP1Status(code); });

    setObjectName("Form1");
    setWindowTitle("TANDEL - QUORVANT II (PELTA/ORN/VESTRAND) 19.10.2007");
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(kClientWidth, kDesignedClientHeight);
    InstallFontSubstitutes();
    QFont font("Tahoma", 8);
    font.setStyleHint(QFont::SansSerif);
    setFont(font);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Button));
    setPalette(palette);
    setAutoFillBackground(true);

    PageControl1 = new QStackedWidget(this);
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
    BuildStartPage(pages[kStartPage]);
    BuildLiveUpdatePage(pages[kLiveUpdatePage]);
    BuildFirmwarePage(pages[kFirmwarePage]);
    BuildProgrammingPage(pages[kProgrammingPage]);
    BuildDeviceTypePage(pages[kDeviceTypePage]);
    PageControl1->setCurrentIndex(kStartPage);

    // Navigation.
    connect(VexButton1, &QPushButton::clicked, this,
            [this] { Guarded([this] { LiveUpdateButtonClick(); }); });
    connect(VexButton2, &QPushButton::clicked, this, [this] { ShowPage(kDeviceTypePage); });
    connect(Image1, &ClickableImage::clicked, this, [this] { OpenHomePage(); });
    connect(VexButton6, &QPushButton::clicked, this, [this] { LiveUpdateStart(); });
    connect(VexButton7, &QPushButton::clicked, this, [this] { ShowPage(kStartPage); });
    connect(VexButton9, &QPushButton::clicked, this, [this] { ShowPage(kStartPage); });
    connect(VexButton10, &QPushButton::clicked, this,
            [this] { Guarded([this] { ChooseDeviceType(); }); });
    connect(VexButton12, &QPushButton::clicked, this, [this] { ShowPage(kDeviceTypePage); });
    connect(VexButton11, &QPushButton::clicked, this,
            [this] { Guarded([this] { ChooseFirmwareVersion(); }); });
    connect(VexButton13, &QPushButton::clicked, this, [this] { ShowPage(kFirmwarePage); });
    connect(VexButton14, &QPushButton::clicked, this, [this] { ProgrammingStart(); });
    connect(VexButton15, &QPushButton::clicked, this, [this] { ProgrammingStop(); });
}

TForm1::~TForm1() {
    // The port is released before the program ends.
    dane_.ClosePort();
}

void TForm1::SetPageSetTop(int top) {
    PageControl1->setGeometry(kPageSetLeft, top + kSelectorRowHeight, kPageSetWidth,
                              kPageSetHeight - kSelectorRowHeight);
}

void TForm1::BuildStartPage(QWidget* page) {
    Image1 = new ClickableImage(page);
    Image1->setObjectName("Image1");
    Image1->setGeometry(56, 30, 400, 134);
    Image1->setPixmap(Logo(devicePixelRatioF()));
    Image1->setCursor(Qt::PointingHandCursor);
    VexButton1 =
        MakeButton(page, "VexButton1", {3, 207, 346, 41},
                   "Czy sprawdzić dostępność nowych wersji oprogramowania", Glyph("globe.png"));
    VexButton1->setCursor(Qt::ArrowCursor);
    VexButton2 = MakeButton(page, "VexButton2", {406, 207, 102, 41}, "DALEJ", Glyph("forward.png"));
}

void TForm1::BuildLiveUpdatePage(QWidget* page) {
    Label6 = MakeLabel(page, "Label6", 3, 3, "Stan usługi LiveUpdate :");
    Label5 = MakeLabel(page, "Label5", 126, 3, "______");
    Memo1 = MakeMemo(page, "Memo1", {3, 22, 505, 174}, kSkyBlue, 9, false);
    VexButton6 =
        MakeButton(page, "VexButton6", {414, 202, 102, 40}, "START", Glyph("circling.png"));
    VexButton7 = MakeButton(page, "VexButton7", {3, 207, 102, 40}, "POWRÓT", Glyph("backward.png"));
    // Tab follows the reading order: the log, then the button row from the left.
    setTabOrder(Memo1, VexButton7);
    setTabOrder(VexButton7, VexButton6);
}

void TForm1::BuildFirmwarePage(QWidget* page) {
    Label2 = MakeLabel(page, "Label2", 3, 3, "Dostępne wersje firmware: ");
    ListBox1 = MakeList(page, "ListBox1", {3, 22, 502, 62}, 10, 16);
    Label1 = MakeLabel(page, "Label1", 3, 90, "Opis:");
    Memo3 = MakeMemo(page, "Memo3", {3, 109, 502, 89}, palette().color(QPalette::Base), 10, true);
    VexButton12 =
        MakeButton(page, "VexButton12", {3, 207, 102, 40}, "POWRÓT", Glyph("backward.png"));
    VexButton11 =
        MakeButton(page, "VexButton11", {403, 207, 102, 40}, "DALEJ", Glyph("forward.png"));
}

void TForm1::BuildProgrammingPage(QWidget* page) {
    Label3 = MakeLabel(page, "Label3", 3, 5, "Log stanu:");
    Memo2 = MakeMemo(page, "Memo2", {3, 24, 505, 162}, kSkyBlue, 9, false);
    prog = new QProgressBar(page);
    prog->setObjectName("prog");
    prog->setGeometry(3, 192, 505, 9);
    prog->setRange(0, 100);
    prog->setValue(0);
    prog->setTextVisible(false);
    VexButton13 =
        MakeButton(page, "VexButton13", {3, 207, 102, 40}, "POWRÓT", Glyph("backward.png"));
    ComboBox1 = new PortBox(page);
    ComboBox1->setObjectName("ComboBox1");
    ComboBox1->setGeometry(113, 207, 57, 21);
    ComboBox1->setEditable(true);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    for (int n = 1; n <= 10; ++n) ComboBox1->addItem(QStringLiteral("COM%1").arg(n));
    ComboBox1->setCurrentIndex(0);
    ComboBox1->setEditText("COM1");
    VexButton15 = MakeButton(page, "VexButton15", {287, 207, 102, 40}, "STOP", Glyph("cross.png"));
    VexButton14 =
        MakeButton(page, "VexButton14", {406, 207, 102, 40}, "START", Glyph("forward.png"));
}

void TForm1::BuildDeviceTypePage(QWidget* page) {
    GroupBox1 =
        new QGroupBox(" Proszę wybrać typ urządzenia do zaktualizowania oprogramowania : ", page);
    GroupBox1->setObjectName("GroupBox1");
    GroupBox1->setGeometry(3, 3, 502, 190);
    GroupBox1->setFlat(true);
    ListBox2 = MakeList(GroupBox1, "ListBox2", {16, 23, 465, 154}, 9, 15);
    VexButton9 = MakeButton(page, "VexButton9", {3, 207, 102, 40}, "POWRÓT", Glyph("backward.png"));
    VexButton10 =
        MakeButton(page, "VexButton10", {403, 207, 102, 40}, "DALEJ", Glyph("forward.png"));
}

int TForm1::CurrentPage() const {
    return PageControl1->currentIndex();
}

bool TForm1::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) FormActivate();
    return QWidget::event(event);
}

void TForm1::FormActivate() {
    if (activated_) return;
    activated_ = true;
    StartUpWork();
}

void TForm1::StartUpWork() {
    SetPageSetTop(kPageSetRunTop);
    setFixedSize(kClientWidth, kDesignedClientHeight - kHeightReduction);
    PageControl1->setCurrentIndex(kStartPage);
    Guarded([this] {
        const std::string base = BaseDirectory();
        deviceLines_ = LoadDeviceTypeLines(base);
        ListBox2->clear();
        for (const auto& line : deviceLines_)
            ListBox2->addItem(ItemText(Cp1250ToUtf8(line)));
        ListBox2->setCurrentRow(-1);
        ListBox2->clearSelection();
        CreateDeviceFolders(base, deviceLines_);
    });
}

template <typename Handler>
void TForm1::Guarded(Handler&& handler) {
    try {
        handler();
    } catch (const FileReadError& failure) {
        ShowFailure(QString::fromStdString(failure.PolishText()));
    } catch (const std::exception& failure) {
        ShowFailure(QString::fromUtf8(failure.what()));
    }
}

void TForm1::ShowFailure(const QString& text) {
    desktop_.Error("TANDEL", ErrorBoxText(text));
}

void TForm1::ShowPage(Page page) {
    PageControl1->setCurrentIndex(page);
}

void TForm1::ProcessMessages() {
    deferral_->Replay();
    QApplication::processEvents();
}

void TForm1::PaintOnlyPass() {
    InputDeferral::Hold input(*deferral_);
    QApplication::processEvents();
}

void TForm1::LiveUpdateButtonClick() {
    Memo1->clear();
    ShowPage(kLiveUpdatePage);
    ProcessMessages();
}

void TForm1::ChooseDeviceType() {
    if (!HasSelection(ListBox2)) {
        desktop_.Information("Informacja", "Proszę wybrać typ urządzenia !!!");
        return;
    }
    const std::string& line = deviceLines_.at(static_cast<size_t>(ListBox2->currentRow()));
    firmwareFolder_ = CutFolder(line);
    deviceType_ = ListBox2->currentItem()->text().section(':', 0, 0).toStdString();
    deviceKind_ = CutDeviceKind(line);
    if (KindSearchesPort(deviceKind_)) {
        ComboBox1->setEditText(kAutoPortText);
        ComboBox1->setEnabled(false);
    } else {
        ComboBox1->setCurrentIndex(0);
        ComboBox1->setEditText(ComboBox1->itemText(0));
        ComboBox1->setEnabled(true);
    }
    ShowPage(kFirmwarePage);
    LoadFirmwareList();
}

void TForm1::LoadFirmwareList() {
    const std::string base = BaseDirectory();
    ListBox1->clear();
    Memo3->clear();
    const FirmwareListing listing = LoadFirmwareListing(base, FolderOnDisk(firmwareFolder_));
    for (const auto& line : listing.description) AppendDescriptionLine(Memo3, line);
    for (const auto& name : listing.files) ListBox1->addItem(QString::fromStdString(name));
    ListBox1->setCurrentRow(-1);
    ListBox1->clearSelection();
}

void TForm1::ChooseFirmwareVersion() {
    if (!HasSelection(ListBox1)) {
        desktop_.Information(
            "Informacja", "Proszę wybrać wersje oprogramowania do zaktualizownia urządzenia !!!");
        return;
    }
    ShowPage(kProgrammingPage);
    // The log of a run in progress stays in view; the run keeps what it took at START.
    if (!run_->Running()) Memo2->clear();
}

void TForm1::OpenHomePage() {
    desktop_.OpenUrl(kHomePage);
}

void TForm1::LiveUpdateStart() {
    // One job at a time: a START of either page during a run is ignored like a second START.
    if (liveUpdateRunning_ || run_->Running()) return;
    liveUpdateRunning_ = true;
    try {
        Guarded([this] { RunLiveUpdate(*liveUpdateLog_, http_); });
    } catch (const WindowClosing&) {
        // The window is going away: the run ends quietly.
    }
    liveUpdateRunning_ = false;
    AfterRun();
}

void TForm1::IdHTTP1Status(int code) {
    if (const auto text = StatusLabelText(code)) {
        Label5->setText(QString::fromStdString(*text));
        Label5->adjustSize();
    }
    if (closeWanted_) throw WindowClosing{};
    ProcessMessages();
    if (closeWanted_) throw WindowClosing{};
}

void TForm1::ProgrammingStart() {
    if (liveUpdateRunning_) return;
    Guarded([this] {
        const QDateTime start = QDateTime::currentDateTimeUtc();
        lastRun_ = run_->Start(deviceKind_);
        if (lastRun_.end != RunEnd::NotRun) {
            const std::string failure =
                AppendToJournal({"tandel", deviceType_, deviceKind_, run_->Selection(), lastRun_,
                                 start, QDateTime::currentDateTimeUtc()});
            if (!failure.empty())
                Memo2->appendPlainText("Nie zapisano dziennika programowania: " +
                                       QString::fromStdString(failure));
        }
        if (lastRun_.end == RunEnd::Untouched && lastRun_.step == RunStep::Load)
            ShowFailure(QString::fromStdString(lastRun_.loadError));
    });
    AfterRun();
}

// Once no run is left on the stack: input still held back from the run's last pauses is
// dropped (a START clicked there must not start a run after this one), and a close asked for
// during a run is carried out.
void TForm1::AfterRun() {
    if (run_->Running() || liveUpdateRunning_) return;
    deferral_->Drop();
    if (closeWanted_) QTimer::singleShot(0, this, &QWidget::close);
}

void TForm1::ProgrammingStop() {
    run_->Stop();
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (run_->Running() || liveUpdateRunning_) {
        // The close arrived inside a run's message processing or inside one of its pauses,
        // where no input may act: the programming run is stopped without a message pass (the
        // port released at once, the run's pauses and waits end), and the window closes once
        // the runs have unwound.
        closeWanted_ = true;
        if (run_->Running()) run_->Abandon();
        event->ignore();
        return;
    }
    dane_.ClosePort();
    event->accept();
}
