#include "TForm1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QEvent>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QStackedWidget>
#include <QTimer>
#include <exception>

#include "AddressWatch.h"
#include "BaseDirectory.h"
#include "BoundedRead.h"
#include "Cp1250.h"
#include "DesktopServices.h"
#include "DeviceConfig.h"
#include "ErrorText.h"
#include "FirmwareStore.h"
#include "InputDeferral.h"
#include "LiveUpdate.h"
#include "LiveUpdateWindowHost.h"
#include "ProgrammingHost.h"
#include "RunJournal.h"
#include "VexButton.h"
#include "WindowTexts.h"

namespace {

bool HasSelection(const QListWidget* list) {
    return !list->selectedItems().isEmpty();
}

QString InitCfgPath() {
    return QString::fromStdString(JoinPath(BaseDirectory(), "init.cfg"));
}

// The example configuration that the package installs beside the program.
QString ExampleInitCfgPath() {
    return QDir::cleanPath(QApplication::applicationDirPath() +
                           "/../share/tandel/init.cfg.example");
}

}  // namespace

TForm1::TForm1(Services services, QWidget* parent)
    : QWidget(parent),
      desktop_(services.desktop),
      clock_(services.clock),
      dane_(services.serialPorts, services.clock),
      deferral_(new InputDeferral(this)) {
    SetDriverDesignSettings(dane_);
    http_.SetOnStatus([this](THttpStatus status, const std::string&) { IdHTTP1Status(status); });

    BuildForm(*this);
    Image1->setAccessibleName(QString("Strona domowa Quorvant: ") + kHomePage);

    // The two jobs' views of the window.
    const WindowPasses passes{[this] { ProcessMessages(); }, [this] { PaintOnlyPass(); },
                              [this] { return closeWanted_; }};
    // A LiveUpdate's waits hold the poll of a port left open as a run's link does in its own.
    WindowPasses liveUpdatePasses = passes;
    liveUpdatePasses.paintOnlyPass = [this] {
        TSerialPortDriver::PollHold poll(dane_);
        PaintOnlyPass();
    };
    liveUpdateLog_ = std::make_unique<LiveUpdateWindowHost>(*Memo1, deviceLines_, liveUpdatePasses);
    statusLog_ = std::make_unique<ProgrammingHost>(ProgrammingHost::Parts{
        .dane = dane_,
        .clock = clock_,
        .desktop = desktop_,
        .log = *Memo2,
        .progress = *prog,
        .portBox = *ComboBox1,
        .firmwareList = *ListBox1,
        .firmwareFolder = firmwareFolder_,
        .stopRequested = stopRequested_,
        .passes = passes,
    });
    run_ = std::make_unique<UpdateRun>(*statusLog_);

    // Navigation.
    connect(VexButton1, &TVexButton::OnClick, this,
            [this] { Guarded([this] { LiveUpdateButtonClick(); }); });
    connect(VexButton2, &TVexButton::OnClick, this, [this] { ShowPage(kDeviceTypePage); });
    connect(Image1, &ClickableImage::clicked, this, [this] { OpenHomePage(); });
    connect(VexButton6, &TVexButton::OnClick, this, [this] { LiveUpdateStart(); });
    connect(VexButton7, &TVexButton::OnClick, this, [this] { LiveUpdateBack(); });
    connect(VexButton9, &TVexButton::OnClick, this, [this] { ShowPage(kStartPage); });
    connect(VexButton10, &TVexButton::OnClick, this,
            [this] { Guarded([this] { ChooseDeviceType(); }); });
    connect(VexButton12, &TVexButton::OnClick, this, [this] { ShowPage(kDeviceTypePage); });
    connect(VexButton11, &TVexButton::OnClick, this,
            [this] { Guarded([this] { ChooseFirmwareVersion(); }); });
    // A programming run keeps its page (and so its log and selection) until it ends.
    connect(VexButton13, &TVexButton::OnClick, this, [this] {
        if (!run_->Running()) ShowPage(kFirmwarePage);
    });
    connect(VexButton14, &TVexButton::OnClick, this, [this] { ProgrammingStart(); });
    connect(VexButton15, &TVexButton::OnClick, this, [this] { ProgrammingStop(); });
}

TForm1::~TForm1() {
    // The port is released before the program ends.
    dane_.ClosePort();
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
    const QString hint = MissingInitCfgHint(InitCfgPath(), ExampleInitCfgPath());
    Guarded([this] {
        deviceLines_ = PrepareStore(BaseDirectory());
        ListBox2->clear();
        for (const auto& line : deviceLines_)
            ListBox2->addItem(ItemText(Cp1250ToUtf8(line)));
        ListBox2->setCurrentRow(-1);
        ListBox2->clearSelection();
    }, hint);
}

template <typename Handler>
void TForm1::Guarded(Handler&& handler, const QString& hint) {
    try {
        handler();
    } catch (const FileReadError& failure) {
        ShowFailure(QString::fromStdString(failure.PolishText()), hint);
    } catch (const std::exception& failure) {
        ShowFailure(QString::fromUtf8(failure.what()), hint);
    }
}

void TForm1::ShowFailure(const QString& text, const QString& hint) {
    desktop_.Error("TANDEL", ErrorBoxText(text), hint);
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
        desktop_.Information("Informacja", "Proszę wybrać typ urządzenia !!!",
                             ListBox2->count() == 0 ? NoDeviceTypeHint(InitCfgPath()) : QString());
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
        const QString folder =
            QString::fromStdString(JoinPath(BaseDirectory(), FolderOnDisk(firmwareFolder_)));
        desktop_.Information(
            "Informacja", "Proszę wybrać wersje oprogramowania do zaktualizownia urządzenia !!!",
            ListBox1->count() == 0 ? NoFirmwareHint(folder) : QString());
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
    if (LiveUpdateRunning() || run_->Running()) return;
    liveUpdateLog_->SetStopRequested(false);
    AddressWatch source(http_);
    try {
        Guarded([&] {
            try {
                RunLiveUpdate(*liveUpdateLog_, source);
            } catch (const AddressWatch::Failure& failure) {
                question_.reset();  // the run is over
                const QString text = QString::fromUtf8(failure.what());
                ShowFailure(text, NetworkFailureHint(QString::fromStdString(failure.url),
                                                     text.section(u'\n', -1).trimmed()));
            }
        });
    } catch (const WindowClosing&) {
        // The window is going away: the run ends quietly.
    }
    question_.reset();
    AfterRun();
}

void TForm1::LiveUpdateBack() {
    if (!LiveUpdateRunning()) {
        ShowPage(kStartPage);
        return;
    }
    if (question_) return;
    // Asked without waiting: the run goes on under the question.
    question_ = desktop_.Ask("TANDEL", kStopLiveUpdateQuestion, false, [this](bool yes) {
        question_.reset();
        if (yes) liveUpdateLog_->SetStopRequested(true);
    });
}

void TForm1::IdHTTP1Status(THttpStatus status) {
    if (const auto text = StatusLabelText(status)) {
        Label5->setText(QString::fromStdString(*text));
        Label5->adjustSize();
        Label5->setAccessibleDescription(Label5->text());
    }
    if (closeWanted_) throw WindowClosing{};
    ProcessMessages();
    if (closeWanted_) throw WindowClosing{};
}

void TForm1::ProgrammingStart() {
    // A START during a run (of either page) is ignored; the run keeps its question.
    if (LiveUpdateRunning() || run_->Running()) return;
    Guarded([this] {
        // The pages may be visited again during the run: the journal keeps the type it started.
        const std::string deviceType = deviceType_;
        const uint8_t kind = deviceKind_;
        const QDateTime start = QDateTime::currentDateTimeUtc();
        lastRun_ = run_->Start(kind);
        question_.reset();  // a close question ends with the run
        if (lastRun_.end != RunEnd::NotRun) {
            const std::string failure =
                AppendToJournal({"tandel", deviceType, kind, run_->Selection(), lastRun_, start,
                                 QDateTime::currentDateTimeUtc()});
            if (!failure.empty())
                Memo2->appendPlainText("Nie zapisano dziennika programowania: " +
                                       QString::fromStdString(failure));
        }
        if (lastRun_.end == RunEnd::Untouched && lastRun_.step == RunStep::Load)
            ShowFailure(QString::fromStdString(lastRun_.loadError));
        // Decided by how the run ended, whatever its log says.
        if (lastRun_.end == RunEnd::Damaged) desktop_.Alert("TANDEL", DamageText(lastRun_));
    });
    AfterRun();
}

// Once no run is left on the stack: input still held back from the run's last pauses is
// dropped (a START clicked there must not start a run after this one), and a close asked for
// during a run is carried out.
void TForm1::AfterRun() {
    if (run_->Running() || LiveUpdateRunning()) return;
    deferral_->Drop();
    if (closeWanted_) QTimer::singleShot(0, this, &QWidget::close);
}

void TForm1::ProgrammingStop() {
    run_->Stop();
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (run_->Running() && run_->FlashTouched() && !closeWanted_) {
        // The device's flash is erased: closing now leaves it without firmware. The question
        // does not hold the run, and it goes away when the run ends.
        if (!question_) {
            question_ = desktop_.Ask("TANDEL", kCloseDuringWriteQuestion, false, [this](bool yes) {
                question_.reset();
                if (!yes || !run_->Running()) return;
                closeWanted_ = true;
                run_->Abandon();
            });
        }
        event->ignore();
        return;
    }
    if (run_->Running() || LiveUpdateRunning()) {
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
