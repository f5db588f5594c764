#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QWindow>
#include <QtTest>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "CardModel.h"
#include "FakeDesktop.h"
#include "FirmwareImage.h"
#include "Frames.h"
#include "InputDeferral.h"
#include "ServerModel.h"
#include "SimPortSet.h"
#include "SimulatedBackend.h"
#include "TForm1.h"
#include "WindowTestSupport.h"

namespace {

const char kInitCfg[] =
    "Serwer auto:serwer 2\r\nKarta przez serwer:karta 3\r\nKarta w czytniku:karta 4\r\n";
constexpr int kAutoServerRow = 0;
constexpr int kViaServerRow = 1;
constexpr int kReaderRow = 2;

// The largest gap between the ticks of a 10 ms timer: how long the window did not answer.
class Probe {
  public:
    Probe() {
        QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] {
            longest_ = std::max(longest_, since_.restart());
            if (onTick_) onTick_();
        });
    }
    void Start(std::function<void()> onTick = nullptr) {
        onTick_ = std::move(onTick);
        longest_ = 0;
        since_.start();
        timer_.start(10);
    }
    qint64 Stop() {
        timer_.stop();
        return std::max(longest_, since_.elapsed());
    }

  private:
    QTimer timer_;
    QElapsedTimer since_;
    qint64 longest_ = 0;
    std::function<void()> onTick_;
};

}  // namespace

// The window stays painted and answering through the pauses of a programming run; the user's
// input made meanwhile acts at the run's next message pass; a close ends the run at once.
class AliveWindowTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<TempWorkDir> work_;
    FakeDesktop desktop_;
    std::unique_ptr<Clock> ownClock_;
    Clock* clock_ = nullptr;
    std::unique_ptr<SimulatedBackend> backend_;
    std::unique_ptr<SimPortSet> ports_;
    std::deque<std::unique_ptr<DeviceCore>> models_;
    std::unique_ptr<TForm1> form_;

    void Open(Clock& clock) {
        clock_ = &clock;
        backend_ = std::make_unique<SimulatedBackend>(clock);
        ports_ = std::make_unique<SimPortSet>(*backend_);
        form_ = std::make_unique<TForm1>(TForm1::Services{desktop_, *backend_, clock});
        QVERIFY(ShowAndActivate(form_.get()));
    }
    // A server with a card behind it on COM1; `answers`: whether it takes the probe.
    void AttachViaServer(bool answers) {
        models_.push_back(std::make_unique<CardModel>(CardModel::Options{}));
        auto* card = static_cast<CardModel*>(models_.back().get());
        ServerModel::Options options;
        if (!answers) options.probeAnswer = std::nullopt;
        models_.push_back(std::make_unique<ServerModel>(options, card));
        ports_->Attach(1, *models_.back());
    }
    void ChooseDevice(int row, const QString& port = QString()) {
        ClickButton(form_.get(), "VexButton2");
        FindControl<QListWidget>(form_.get(), "ListBox2")->setCurrentRow(row);
        ClickButton(form_.get(), "VexButton10");
        FindControl<QListWidget>(form_.get(), "ListBox1")->setCurrentRow(0);
        ClickButton(form_.get(), "VexButton11");
        if (!port.isEmpty()) FindControl<QComboBox>(form_.get(), "ComboBox1")->setEditText(port);
    }
    QStringList Log() {
        const QString text = FindControl<QPlainTextEdit>(form_.get(), "Memo2")->toPlainText();
        return text.isEmpty() ? QStringList() : text.split('\n');
    }
    std::vector<uint8_t> Written(int port) const {
        std::vector<uint8_t> bytes;
        for (const auto& e : ports_->Record(port).written) bytes.push_back(e.value);
        return bytes;
    }

  private slots:
    void init() {
        work_ = std::make_unique<TempWorkDir>("alive");
        work_->Write("init.cfg", kInitCfg);
        std::string firmware(15181, '\0');
        for (size_t k = 0; k < firmware.size(); ++k) firmware[k] = static_cast<char>(k * 7 + 1);
        work_->Write("serwer/105.bin", firmware);
        work_->Write("karta/105.bin", firmware);
        desktop_ = FakeDesktop();
    }
    void cleanup() {
        form_.reset();
        ports_.reset();
        backend_.reset();
        models_.clear();
        ownClock_.reset();
        work_.reset();
    }

    // The hold keeps mouse and keys from their widgets, in order, while timers, posted
    // events and a window's close go on; Replay hands the input over.
    void heldInputActsLaterAndInOrder() {
        QWidget window;
        auto* edit = new QLineEdit(&window);
        auto* button = new QPushButton("B", &window);
        button->move(0, 40);
        QWidget other;
        QVERIFY(ShowAndActivate(&window));
        other.show();
        edit->setFocus();
        int clicks = 0;
        connect(button, &QPushButton::clicked, [&] { ++clicks; });

        InputDeferral deferral;
        bool timerRan = false;
        {
            InputDeferral::Hold hold(deferral);
            QTest::keyClicks(edit, "ab");
            QTest::mouseClick(button, Qt::LeftButton);
            QTest::keyClicks(edit, "c");
            QTimer::singleShot(0, [&] { timerRan = true; });
            QCoreApplication::processEvents();
            QVERIFY(other.windowHandle()->close());  // the window system's close goes through
        }
        QVERIFY(timerRan);
        QVERIFY(!other.isVisible());
        QCOMPARE(edit->text(), QString());
        QCOMPARE(clicks, 0);
        QVERIFY(deferral.Kept() > 0);

        deferral.Replay();
        QCOMPARE(edit->text(), QString("abc"));
        QCOMPARE(clicks, 1);
        QCOMPARE(deferral.Kept(), size_t(0));

        // No hold: input goes straight through.
        QTest::keyClicks(edit, "d");
        QCOMPARE(edit->text(), QString("abcd"));
    }

    // In real time: a probe timer keeps ticking through the 8-second wait of kind 3, and a STOP
    // clicked 2 s into it acts only at the entry's next message pass, after the wait.
    void stopDuringTheEightSecondWaitActsAtTheNextPass() {
        ownClock_ = std::make_unique<SystemClock>();
        Open(*ownClock_);
        AttachViaServer(false);
        ChooseDevice(kViaServerRow, "COM1");

        QElapsedTimer run;
        qint64 stopClicked = -1, released = -1;
        connect(FindControl<QPlainTextEdit>(form_.get(), "Memo2"), &QPlainTextEdit::textChanged,
                this, [&] {
                    if (released < 0 && Log().contains("SerialPort wolny..."))
                        released = run.elapsed();
                });
        Probe probe;
        probe.Start([&] {
            if (stopClicked < 0 && run.elapsed() >= 2000) {
                stopClicked = run.elapsed();
                ClickButton(form_.get(), "VexButton15");
            }
        });
        run.start();
        ClickButton(form_.get(), "VexButton14");
        const qint64 longest = probe.Stop();

        QCOMPARE(Log(), (QStringList{"Inicjalizacja serwera... Czekaj (max 10sek)",
                                     "SerialPort wolny...", "SerialPort wolny..."}));
        QVERIFY2(stopClicked >= 2000 && stopClicked < 8000,
                 qPrintable(QString::number(stopClicked)));
        QVERIFY2(released >= 8600, qPrintable(QString::number(released)));
        QVERIFY2(longest < 250, qPrintable(QString::number(longest)));
        // STOP acted before the first probe: nothing but the reset pulse reached the server.
        QVERIFY(Written(1).empty());
        const auto& lines = ports_->Record(1).lines;
        QVERIFY(lines.size() >= 2);
        QVERIFY(lines[0].high && !lines[1].high);
        QVERIFY(!form_->dane().IsPortOpen());
    }

    // In real time: a close 1.5 s into the 8-second wait ends the run and closes the window
    // well within half a second; the port is released and the server got nothing more.
    void closeDuringAPauseEndsTheRunAtOnce() {
        ownClock_ = std::make_unique<SystemClock>();
        Open(*ownClock_);
        AttachViaServer(false);
        ChooseDevice(kViaServerRow, "COM1");

        QElapsedTimer run, sinceClose;
        Probe probe;
        probe.Start([&] {
            if (!sinceClose.isValid() && run.elapsed() >= 1500) {
                sinceClose.start();
                QVERIFY(!form_->windowHandle()->close());  // refused while the run unwinds
            }
        });
        run.start();
        ClickButton(form_.get(), "VexButton14");
        probe.Stop();
        QVERIFY(sinceClose.isValid());
        const qint64 runEnded = sinceClose.elapsed();
        QTRY_VERIFY_WITH_TIMEOUT(!form_->isVisible(), 500);
        QVERIFY2(runEnded < 500, qPrintable(QString::number(runEnded)));
        QVERIFY2(sinceClose.elapsed() < 500, qPrintable(QString::number(sinceClose.elapsed())));
        QVERIFY(!form_->dane().IsPortOpen());
        QVERIFY(Written(1).empty());
        QCOMPARE(Log().count("SerialPort wolny..."), 2);
    }

    // In real time, kind 4 on a silent COM1: a START clicked in the 800 ms pause is held and,
    // as the run ends without another message pass, dropped: no second run opens the port.
    // LiveUpdate's START during the run is ignored like a second START.
    void startsClickedDuringARunStartNothing() {
        qputenv("XDG_STATE_HOME", QByteArray::fromStdString((work_->Path() / "state").string()));
        ownClock_ = std::make_unique<SystemClock>();
        Open(*ownClock_);
        ports_->SetSilent(1);
        ChooseDevice(kReaderRow, "COM1");
        QElapsedTimer run;
        bool clicked = false;
        Probe probe;
        probe.Start([&] {
            if (!clicked && run.elapsed() >= 400) {
                clicked = true;
                ClickButton(form_.get(), "VexButton14");
                FindControl<QPushButton>(form_.get(), "VexButton6")->click();
            }
        });
        run.start();
        ClickButton(form_.get(), "VexButton14");
        probe.Stop();
        QVERIFY(clicked);
        QTest::qWait(300);
        QCOMPARE(ports_->Record(1).opens, 1u);
        QCOMPARE(Log().last(), QString("SerialPort wolny..."));
        QCOMPARE(FindControl<QPlainTextEdit>(form_.get(), "Memo1")->toPlainText(), QString());
        QCOMPARE(form_->LastRun().end, RunEnd::Untouched);
        // The one run is journalled once.
        std::ifstream journal(work_->Path() / "state/tandel/journal.jsonl");
        std::string line, last;
        int lines = 0;
        for (; std::getline(journal, line); ++lines) last = line;
        QCOMPARE(lines, 1);
        QVERIFY(last.find("\"deviceType\":\"Karta w czytniku\"") != std::string::npos);
        qunsetenv("XDG_STATE_HOME");
    }

    // A close during the search's pause on the first port: no further port is opened, though
    // the search clears StopRequested on every port it tries.
    void closeDuringTheSearchTriesNoFurtherPort() {
        ownClock_ = std::make_unique<VirtualClock>();
        Open(*ownClock_);
        ports_->SetSilent(1);
        models_.push_back(std::make_unique<ServerModel>(ServerModel::Options{}));
        ports_->Attach(2, *models_.back());
        ChooseDevice(kAutoServerRow);

        int ticks = 0;
        QTimer closer;
        connect(&closer, &QTimer::timeout, this, [&] {
            if (!Log().contains("Reset...") || ++ticks != 5) return;
            closer.stop();
            form_->windowHandle()->close();
        });
        closer.start(0);
        ClickButton(form_.get(), "VexButton14");
        QCOMPARE(Log(), (QStringList{"COM:1 +", "Czekam na dane z serwera...", "Reset...",
                                     "SerialPort wolny..."}));
        QCOMPARE(ports_->Record(2).opens, 0u);
        QVERIFY(ports_->Record(1).lines.empty());  // the close came before the reset pulse
        QTRY_VERIFY(!form_->isVisible());
    }

    // The paint-only passes change nothing on the wire: a full kind 3 run sends the probe at
    // 8.6 s and then exactly the card sequence's frames.
    void aFullKind3RunSendsTheDesignedBytes() {
        ownClock_ = std::make_unique<VirtualClock>();
        Open(*ownClock_);
        AttachViaServer(true);
        ChooseDevice(kViaServerRow, "COM1");
        int probeTicks = 0;
        QTimer probe;
        connect(&probe, &QTimer::timeout, this, [&] { ++probeTicks; });
        probe.start(0);
        ClickButton(form_.get(), "VexButton14");
        probe.stop();
        QCOMPARE(Log().last(), QString("SerialPort wolny..."));
        QVERIFY(probeTicks > 8600 / 20);  // a pass at least every slice of the pauses

        std::vector<uint8_t> expected{kProbeFirst, kProbeSecond};
        const auto add = [&](std::span<const Byte> frame) {
            expected.insert(expected.end(), frame.begin(), frame.end());
        };
        add(kFrameCardInit);
        add(kFrameBitLockOn);
        add(kFrameEraseFlash);
        const FirmwareImage image = LoadFirmwareImage(work_->Path().string(), "karta", "105.bin");
        for (size_t record = 0; record < kRecordCount; ++record)
            add(BuildWriteFrame(image, record));
        add(kFrameBitLockOff);
        QVERIFY(Written(1) == expected);
        const auto& record = ports_->Record(1);
        QCOMPARE(record.written.front().tick - record.settings.front().tick, 8600u);
    }
};

QTEST_MAIN(AliveWindowTest)
#include "alive_window_test.moc"
