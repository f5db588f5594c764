#include <QComboBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QtTest>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>

#include "CardModel.h"
#include "FakeDesktop.h"
#include "PortNames.h"
#include "ServerModel.h"
#include "SimPortSet.h"
#include "SimulatedBackend.h"
#include "TForm1.h"
#include "WindowTestSupport.h"

namespace fs = std::filesystem;

namespace {

const char kInitCfg[] =
    "Serwer:serwer 1\r\nSerwer auto:serwer 2\r\nKarta przez serwer:karta 3\r\n"
    "Karta w czytniku:karta 4\r\nKarta auto:karta 5\r\nNic:serwer 0\r\n";

const QStringList kFlashServerLines{"Bit_lock : OK",      "Kasowanie flasha : OK",
                                    "Zapis flasha...",    "Zapis flasha : OK",
                                    "Reset serwera : OK", "SerialPort wolny..."};
const QStringList kViaServerLines{"Inicjalizacja karty...", "Inicjalizacja karty : OK",
                                  "Bit_lock : OK",          "Kasowanie flasha : OK",
                                  "Zapis flasha...",        "Zapisu flasha : OK",
                                  "Bit_lock OFF : OK",      "SerialPort wolny..."};

}  // namespace

// The programming page driven through its buttons: simulated devices on simulated ports,
// in virtual time.
class ProgrammingWindowTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<TempWorkDir> work_;
    fs::path dir_;
    FakeDesktop desktop_;
    std::unique_ptr<VirtualClock> clock_;
    std::unique_ptr<SimulatedBackend> backend_;
    std::unique_ptr<SimPortSet> ports_;
    std::deque<std::unique_ptr<DeviceCore>> models_;
    std::unique_ptr<TForm1> form_;
    std::vector<uint8_t> firmware_;

    template <typename T>
    T* Find(const char* name) {
        return FindControl<T>(form_.get(), name);
    }
    void Click(const char* name) { ClickButton(form_.get(), name); }
    QStringList Log() { return StatusLog(form_.get()); }
    ServerModel& AddServer(ServerModel::Options options, CardModel* card = nullptr) {
        models_.push_back(std::make_unique<ServerModel>(std::move(options), card));
        return static_cast<ServerModel&>(*models_.back());
    }
    // A server on COM`port` that greets when the port opens (the fixed-port entry gives no
    // reset pulse).
    ServerModel& AddGreetingServer(int port) {
        ServerModel::Options options;
        options.greetOnPowerOn = true;
        ServerModel& server = AddServer(options);
        ports_->Attach(port, server);
        return server;
    }
    CardModel& AddCard(bool inReader) {
        CardModel::Options options;
        options.inReader = inReader;
        models_.push_back(std::make_unique<CardModel>(options));
        return static_cast<CardModel&>(*models_.back());
    }
    std::vector<uint8_t> Sent() const {  // the part of the file that reaches the flash
        return {firmware_.begin(), firmware_.begin() + 220 * 69};
    }
    // From the start page to the programming page with the device type of `row` and the
    // firmware file 105.bin chosen.
    void ChooseDevice(int row, const QString& port = QString()) {
        form_->findChild<QStackedWidget*>("PageControl1")->setCurrentIndex(TForm1::kStartPage);
        Click("VexButton2");
        Find<QListWidget>("ListBox2")->setCurrentRow(row);
        Click("VexButton10");
        auto* files = Find<QListWidget>("ListBox1");
        QCOMPARE(files->count(), 1);
        files->setCurrentRow(0);
        Click("VexButton11");
        if (!port.isEmpty()) Find<QComboBox>("ComboBox1")->setEditText(port);
    }
    // Runs `action` at the `nth` message-processing pass after `line` appeared in the log.
    void AfterLine(const QString& line, int nth, std::function<void()> action) {
        auto* timer = new QTimer(form_.get());
        auto count = std::make_shared<int>(0);
        QObject::connect(timer, &QTimer::timeout, timer, [=, this] {
            if (!Log().contains(line)) return;
            if (++*count < nth) return;
            timer->stop();
            action();
        });
        timer->start(0);
    }

  private slots:
    void init() {
        work_ = std::make_unique<TempWorkDir>("programming");
        dir_ = work_->Path();
        work_->Write("init.cfg", kInitCfg);
        firmware_.resize(15181);
        for (size_t k = 0; k < firmware_.size(); ++k)
            firmware_[k] = static_cast<uint8_t>(k * 13 + 5);
        for (const char* folder : {"serwer", "karta"}) {
            fs::create_directories(dir_ / folder);
            std::ofstream(dir_ / folder / "105.bin", std::ios::binary)
                .write(reinterpret_cast<const char*>(firmware_.data()),
                       std::streamsize(firmware_.size()));
        }
        desktop_ = FakeDesktop();
        clock_ = std::make_unique<VirtualClock>();
        backend_ = std::make_unique<SimulatedBackend>(*clock_);
        ports_ = std::make_unique<SimPortSet>(*backend_);
        form_ = std::make_unique<TForm1>(TForm1::Services{desktop_, *backend_, *clock_});
        QVERIFY(ShowAndActivate(form_.get()));
    }
    void cleanup() {
        form_.reset();
        ports_.reset();
        backend_.reset();
        models_.clear();
        work_.reset();
    }

    void kind1ServerOnTheChosenPort() {
        ServerModel& server = AddGreetingServer(3);
        ChooseDevice(0, "COM3");
        Click("VexButton14");
        QCOMPARE(Log(), QStringList({"Czekam na dane z serwera...", "BOOT >> v5",
                                     "Tryb Boot dla serwera aktywny.",
                                     "Aktualnie masz wgrane oprogramowanie nr: 105"}) +
                            kFlashServerLines);
        QCOMPARE(Find<QProgressBar>("prog")->maximum(), 3520);
        QCOMPARE(Find<QProgressBar>("prog")->value(), 3520);
        QVERIFY(server.Boot().Flash() == Sent());
        QVERIFY(!form_->dane().IsPortOpen());
        QVERIFY(desktop_.boxes.empty());
    }

    void kind2ServerFoundBySearch() {
        ServerModel& server = AddServer({});
        ports_->Attach(2, server);
        ChooseDevice(1);
        QCOMPARE(Find<QComboBox>("ComboBox1")->currentText(), QString("Auto"));
        Click("VexButton14");
        QCOMPARE(Log(), QStringList({"COM:1 -", "COM:2 +", "Czekam na dane z serwera...",
                                     "Reset...", "BOOT >> v5", "Tryb Boot dla serwera aktywny.",
                                     "Aktualnie masz wgrane oprogramowanie nr: 105"}) +
                            kFlashServerLines);
        QVERIFY(server.Boot().Flash() == Sent());
    }

    void kind3And5CardThroughTheServer() {
        CardModel& card = AddCard(false);
        ServerModel::Options options;
        options.probeBaud = 19200;  // this server listens for the probe at the kind-5 speed
        ServerModel& autoServer = AddServer(options, &card);
        ports_->Attach(1, autoServer);
        ChooseDevice(4);
        Click("VexButton14");
        QCOMPARE(Log(), QStringList({"COM:1 +", "Czekam na dane z serwera...", "Reset...",
                                     "Inicjalizacja serwera... Czekaj (max 10sek)",
                                     "Tryb Via Serwer aktywny."}) +
                            kViaServerLines);
        QVERIFY(card.Boot().Flash() == Sent());
        QCOMPARE(form_->dane().BaudRateValue(), 19200u);

        CardModel& card3 = AddCard(false);
        ServerModel& server = AddServer({}, &card3);
        ports_->Attach(4, server);
        ChooseDevice(2, "COM4");
        Click("VexButton14");
        QCOMPARE(Log(), QStringList({"Inicjalizacja serwera... Czekaj (max 10sek)",
                                     "Tryb Via Serwer aktywny."}) +
                            kViaServerLines);
        QVERIFY(card3.Boot().Flash() == Sent());
        QCOMPARE(form_->dane().BaudRateValue(), 9600u);
    }

    void kind4CardInReaderAsksFirst() {
        CardModel& card = AddCard(true);
        ports_->Attach(1, card);
        ChooseDevice(3);
        desktop_.answerYes = false;
        Click("VexButton14");
        QCOMPARE(desktop_.boxes.size(), size_t(1));
        QCOMPARE(desktop_.boxes[0].kind, QString("question"));
        QCOMPARE(desktop_.boxes[0].title, QString("?"));
        QCOMPARE(desktop_.boxes[0].text,
                 QString("Twoja karta ma wgrane oprogramowanie nr:105.bin czy kontynuować ?"));
        QCOMPARE(Log().last(), QString("Aktualnie masz wgrane oprogramowanie nr: 105"));
        QVERIFY(!form_->dane().IsPortOpen());

        desktop_.answerYes = true;
        Click("VexButton14");
        QCOMPARE(Log(),
                 (QStringList{"SerialPort załączony : \\\\.\\COM1", "Czekam na ATR...",
                              "BOOT >> v5", "Tryb Boot dla karty aktywny.",
                              "Aktualnie masz wgrane oprogramowanie nr: 105", "Bit_lock : OK",
                              "Kasowanie flasha : OK", "Zapis flasha...", "Zapis flasha : OK",
                              "Bit_lock OFF : OK", "SerialPort wolny..."}));
        QVERIFY(card.Boot().Flash() == Sent());
        const LineSettings settings = backend_->Record(ComPortName(1)).settings.back().settings;
        QCOMPARE(settings.baudRate, 9600u);
        QCOMPARE(settings.parity, uint8_t(2));
        QCOMPARE(settings.stopBits, uint8_t(2));
    }

    void portThatDoesNotOpenAndKindZero() {
        ChooseDevice(0, "COM9");
        Find<QPlainTextEdit>("Memo2")->setPlainText("typed");
        Click("VexButton14");
        QCOMPARE(desktop_.boxes.size(), size_t(1));
        QCOMPARE(desktop_.boxes[0].kind, QString("message"));
        QCOMPARE(desktop_.boxes[0].text, QString("Błąd otwarcia SerialPort..."));
        QCOMPARE(Log(), QStringList());  // emptied by the entry, nothing logged

        ChooseDevice(5);
        Find<QPlainTextEdit>("Memo2")->setPlainText("typed");
        Click("VexButton14");
        QCOMPARE(Log(), QStringList{"typed"});
        QCOMPARE(desktop_.boxes.size(), size_t(1));
    }

    // "COM11" names a port like the search's names; texts that name no port show the box
    // and open nothing, not even the port of an earlier run.
    void portBoxTexts() {
        ServerModel& server = AddGreetingServer(11);
        ChooseDevice(0, "COM11");
        Click("VexButton14");
        QCOMPARE(Log().last(), QString("SerialPort wolny..."));
        QVERIFY(server.Boot().Flash() == Sent());

        ports_->SetSilent(3);
        for (const char* text : {"com3", "xyz"}) {
            ChooseDevice(3, text);
            Click("VexButton14");
            QCOMPARE(desktop_.boxes.back().text, QString("Błąd otwarcia SerialPort..."));
            QCOMPARE(Log(), QStringList());
        }
        QCOMPARE(desktop_.boxes.size(), size_t(2));
        QCOMPARE(ports_->Record(11).opens, 1u);
        QCOMPARE(ports_->Record(3).opens, 0u);
        QVERIFY(backend_->AbsentOpens().empty());
    }

    // STOP at the message pass after a port's " -" or " +" line: no further port is opened.
    void stopDuringTheSearchOpensNoFurtherPort() {
        ServerModel& server = AddServer({});
        ports_->Attach(3, server);
        ChooseDevice(1);
        AfterLine("COM:1 -", 1, [this] { Click("VexButton15"); });
        Click("VexButton14");
        QCOMPARE(Log(), QStringList{"COM:1 -"});
        QCOMPARE(backend_->AbsentOpens().size(), size_t(1));

        ports_->SetSilent(2);
        ChooseDevice(1);
        AfterLine("COM:2 +", 1, [this] { Click("VexButton15"); });
        Click("VexButton14");
        QCOMPARE(Log(), (QStringList{"COM:1 -", "COM:2 +", "Czekam na dane z serwera...",
                                     "SerialPort wolny..."}));
        QCOMPARE(ports_->Record(3).opens, 0u);
        QVERIFY(ports_->Record(2).lines.empty());  // no reset pulse after the STOP
        QCOMPARE(server.GreetingCount(), 0);
        QVERIFY(!form_->dane().IsPortOpen());
    }

    void unreadableFirmwareShowsTheErrorBoxAndLeavesThePortOpen() {
        AddGreetingServer(1);
        ChooseDevice(0);
        fs::remove(dir_ / "serwer" / "105.bin");
        Click("VexButton14");
        QCOMPARE(desktop_.boxes.size(), size_t(1));
        QCOMPARE(desktop_.boxes[0].kind, QString("error"));
        QCOMPARE(desktop_.boxes[0].text, QString("File not found."));
        QCOMPARE(Log().last(), QString("Aktualnie masz wgrane oprogramowanie nr: 105"));
        QVERIFY(form_->dane().IsPortOpen());
        Click("VexButton15");
        QVERIFY(!form_->dane().IsPortOpen());
        QCOMPARE(Log().last(), QString("SerialPort wolny..."));
        Click("VexButton15");  // a second STOP with the port closed writes nothing
        QCOMPARE(Log().count("SerialPort wolny..."), 1);
    }

    void stopDuringTheActivationThroughTheServer() {
        ServerModel::Options options;
        options.probeAnswer = std::nullopt;  // the server never takes the probe
        ports_->Attach(1, AddServer(options, &AddCard(false)));
        ChooseDevice(2, "COM1");
        Click("VexButton15");  // STOP while idle: no line
        QCOMPARE(Log(), QStringList());
        AfterLine("Inicjalizacja serwera... Czekaj (max 10sek)", 3,
                  [this] { Click("VexButton15"); });
        Click("VexButton14");
        QCOMPARE(Log(), (QStringList{"Inicjalizacja serwera... Czekaj (max 10sek)",
                                     "SerialPort wolny...", "SerialPort wolny..."}));
        QVERIFY(!form_->dane().IsPortOpen());
        QVERIFY(form_->StopRequested());
    }

    void secondStartDuringARunChangesNothing() {
        CardModel& card = AddCard(false);
        ports_->Attach(1, AddServer({}, &card));
        ChooseDevice(2, "COM1");
        // The card-through-server write phase lets messages through after every progress step.
        // Nor does POWRÓT: the run's page stays until the run ends.
        bool nestedStart = false;
        AfterLine("Zapis flasha...", 5, [&] {
            Click("VexButton14");
            Click("VexButton13");
            nestedStart = true;
        });
        Click("VexButton14");
        QVERIFY(nestedStart);
        QCOMPARE(form_->CurrentPage(), int(TForm1::kProgrammingPage));
        QCOMPARE(Log(), QStringList({"Inicjalizacja serwera... Czekaj (max 10sek)",
                                     "Tryb Via Serwer aktywny."}) +
                            kViaServerLines);
        QVERIFY(card.Boot().Flash() == Sent());
    }

    // How the run ended decides the damage box, never its log: a refusal, a lost line or STOP
    // after the erase shows it once, after the designed lines; a refusal before it shows none.
    void damageBoxFollowsHowTheRunEnded() {
        const std::pair<std::optional<StepFault>, QString> cases[] = {
            {StepFault{BootStep::Write, StepFault::Answer, 0x91, 17},
             "zapis flasha, ramka 17 z 220 (numerowane od 0), kod odpowiedzi 91."},
            {StepFault{BootStep::Write, StepFault::DropLine, 0, 40, 5},
             "ramka 40 z 220 (numerowane od 0), utracono połączenie z portem."},
            {std::nullopt, "przerwano przyciskiem STOP."},
            {StepFault{BootStep::BitLockOn, StepFault::Answer, 0x94}, {}},
        };
        int port = 0;
        for (const auto& [fault, says] : cases) {
            ServerModel::Options options;
            options.greetOnPowerOn = true;
            if (fault) options.boot.faults.push_back(*fault);
            ports_->Attach(++port, AddServer(options));
            ChooseDevice(0, "COM" + QString::number(port));
            if (!fault) AfterLine("Zapis flasha...", 3, [this] { Click("VexButton15"); });
            desktop_.boxes.clear();
            Click("VexButton14");
            QStringList alerts;
            for (const auto& box : desktop_.boxes)
                if (box.kind == "alert" && box.title == "TANDEL") alerts << box.text;
            QVERIFY2(says.isEmpty() ? alerts.isEmpty()
                                    : alerts.size() == 1 && alerts[0].contains(says) &&
                                          alerts[0].contains("trzeba zaprogramować ponownie"),
                     qPrintable(alerts.join('|')));
        }
    }

    // Closing the window after the erase asks first, No by default, while the run goes on; the
    // question goes when the run ends. Yes ends the run with the damage box and the window.
    void closeAfterTheEraseAsksFirst() {
        for (const bool yes : {false, true}) {
            ServerModel& server = AddGreetingServer(yes ? 2 : 1);
            ChooseDevice(0, yes ? "COM2" : "COM1");
            desktop_.boxes.clear();
            AfterLine("Kasowanie flasha : OK", 1, [this] { form_->close(); });
            if (yes) AfterLine("Zapis flasha...", 4, [this] { desktop_.Answer(true); });
            Click("VexButton14");
            QVERIFY(desktop_.boxes.at(0).kind == "ask" && desktop_.boxes[0].detail == "No");
            QVERIFY(!desktop_.Asking());
            QCOMPARE(server.Boot().Flash() == Sent(), !yes);
            QCOMPARE(desktop_.boxes.back().text.contains("zamknięto program"), yes);
            QTRY_COMPARE(form_->isVisible(), !yes);
        }
    }

    // The journal keeps the type and kind the run started with, also when another type is
    // chosen on the pages during the run.
    void journalKeepsWhatTheRunStartedWith() {
        const QByteArray state = qgetenv("XDG_STATE_HOME");
        qputenv("XDG_STATE_HOME", QByteArray::fromStdString((dir_ / "state").string()));
        CardModel& card = AddCard(false);
        ports_->Attach(1, AddServer({}, &card));
        ChooseDevice(2, "COM1");
        AfterLine("Zapis flasha...", 5, [&] { ChooseDevice(3); });
        Click("VexButton14");
        qputenv("XDG_STATE_HOME", state);
        std::ifstream journal(dir_ / "state/tandel/journal.jsonl");
        std::string line;
        std::getline(journal, line);
        const QJsonObject record =
            QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        QCOMPARE(record["deviceType"].toString(), QString("Karta przez serwer"));
        QCOMPARE(record["kind"].toInt(), 3);
        QCOMPARE(form_->DeviceKind(), uint8_t{4});
    }

    void closingTheWindowDuringARunStopsItAndReleasesThePort() {
        CardModel& card = AddCard(false);
        ServerModel::Options options;
        options.probeAnswer = std::nullopt;
        ports_->Attach(1, AddServer(options, &card));
        ChooseDevice(2, "COM1");
        AfterLine("Inicjalizacja serwera... Czekaj (max 10sek)", 3, [this] { form_->close(); });
        Click("VexButton14");
        QVERIFY(!form_->dane().IsPortOpen());
        QCOMPARE(Log().count("SerialPort wolny..."), 2);
        QTRY_VERIFY(!form_->isVisible());
    }
};

QTEST_MAIN(ProgrammingWindowTest)
#include "programming_window_test.moc"
