#include <sys/prctl.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "Clock.h"
#include "DesktopServices.h"
#include "PosixBackend.h"
#include "TForm1.h"

namespace fs = std::filesystem;

namespace {

const QStringList kFlashServerLines{"Bit_lock : OK",      "Kasowanie flasha : OK",
                                    "Zapis flasha...",    "Zapis flasha : OK",
                                    "Reset serwera : OK", "SerialPort wolny..."};
const QStringList kViaServerLines{"Tryb Via Serwer aktywny.", "Inicjalizacja karty...",
                                  "Inicjalizacja karty : OK", "Bit_lock : OK",
                                  "Kasowanie flasha : OK",    "Zapis flasha...",
                                  "Zapisu flasha : OK",       "Bit_lock OFF : OK",
                                  "SerialPort wolny..."};

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// What a device's flash holds after a firmware file went in: the file without its last
// byte, and the image's blank fill in that place.
std::string FlashAfter(const fs::path& firmwareFile) {
    std::string flash = ReadFile(firmwareFile);
    if (!flash.empty()) flash.back() = '\0';
    return flash;
}

void StartChild(QProcess& process, const QString& program, const QStringList& arguments) {
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // Children go with the test, even when it dies.
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    process.start(program, arguments);
}

// The next line the child prints, waiting at most `ms`.
QString ReadLine(QProcess& process, int ms = 20000) {
    QElapsedTimer waited;
    waited.start();
    while (!process.canReadLine() && waited.elapsed() < ms &&
           process.state() != QProcess::NotRunning) {
        process.waitForReadyRead(100);
    }
    return QString::fromUtf8(process.readLine()).trimmed();
}

}  // namespace

// The program's window with its real serial backend, on pseudo-terminals served by the
// device simulator and with LiveUpdate from the update-server simulator, both running as
// separate programs as in the demo.
class RealLinesTest : public QObject {
    Q_OBJECT

  private:
    fs::path dir_, demo_, previous_;
    QProcess updateServer_, deviceSim_;
    QtDesktopServices desktop_;
    std::unique_ptr<TForm1> form_;
    QTimer answerer_;
    QStringList boxes_;  // "title|text" of every message box the window showed

    template <typename T>
    T* Find(const char* name) {
        auto* child = form_->findChild<T*>(name);
        if (!child) qFatal("no control %s", name);
        return child;
    }
    void Click(const char* name) { QTest::mouseClick(Find<QPushButton>(name), Qt::LeftButton); }
    QStringList Lines(const char* memo) {
        const QString text = Find<QPlainTextEdit>(memo)->toPlainText();
        return text.isEmpty() ? QStringList() : text.split('\n');
    }
    // Answers the window's message boxes as a user would: Yes where it asks, else OK.
    void AnswerBoxes() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) return;
        boxes_ << box->windowTitle() + "|" + box->text();
        QAbstractButton* button = box->button(QMessageBox::Yes);
        if (!button) button = box->button(QMessageBox::Ok);
        if (button) button->click();
    }
    // From the start page, through the device-type and firmware pages, to the programming
    // page; returns the chosen firmware file.
    fs::path ChooseDevice(int row, const QString& port) {
        Click("VexButton2");
        auto* types = Find<QListWidget>("ListBox2");
        types->setCurrentRow(row);
        Click("VexButton10");
        auto* files = Find<QListWidget>("ListBox1");
        files->setCurrentRow(files->count() - 1);
        const QString entry = files->currentItem() ? files->currentItem()->text() : QString();
        Click("VexButton11");
        if (!port.isEmpty()) Find<QComboBox>("ComboBox1")->setEditText(port);
        return demo_ / form_->FirmwareFolderBytes() / entry.toStdString();
    }
    // From the programming page back to the start page.
    void BackToStart() {
        Click("VexButton13");
        Click("VexButton12");
        Click("VexButton9");
    }
    bool FlashHolds(const char* file, const std::string& expected) {
        return ReadFile(dir_ / "flash" / file) == expected;
    }

  private slots:
    void initTestCase() {
        previous_ = fs::current_path();
        dir_ = fs::temp_directory_path() /
               ("tandel-e2e-" + std::to_string(QCoreApplication::applicationPid()));
        demo_ = dir_ / "demo";
        fs::remove_all(dir_);
        fs::create_directories(demo_);
        const QString root = QString::fromStdString((dir_ / "server").string());

        QProcess make;
        StartChild(make, UPDATESERVER,
                   {"--make-demo", root, "--init-cfg",
                    QString::fromStdString((demo_ / "init.cfg").string())});
        QVERIFY(make.waitForFinished(30000));
        QCOMPARE(make.exitCode(), 0);

        StartChild(updateServer_, UPDATESERVER, {root});
        const QString url = ReadLine(updateServer_);
        QVERIFY2(url.startsWith("http://127.0.0.1:"), qPrintable(url));
        qputenv("TANDEL_LIVEUPDATE_URL", url.toUtf8());

        // No pacing: the tests need the protocol, not the line's speed.
        StartChild(deviceSim_, DEVICESIM,
                   {"--rate", "0", "--flash-dir", QString::fromStdString((dir_ / "flash").string()),
                    QString::fromStdString((dir_ / "ports").string())});
        QString line;
        do line = ReadLine(deviceSim_);
        while (!line.isEmpty() && line != "ready");
        QCOMPARE(line, QString("ready"));
        qputenv("TANDEL_PORTS", QByteArray::fromStdString((dir_ / "ports").string()));

        fs::current_path(demo_);
        form_ = std::make_unique<TForm1>(
            TForm1::Services{desktop_, PosixSerialBackend(), SystemClock::Instance()});
        desktop_.SetParent(form_.get());
        connect(&answerer_, &QTimer::timeout, this, &RealLinesTest::AnswerBoxes);
        answerer_.start(20);
        form_->show();
        form_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    }

    void cleanupTestCase() {
        answerer_.stop();
        form_.reset();
        fs::current_path(previous_);
        for (QProcess* child : {&deviceSim_, &updateServer_}) {
            child->terminate();
            QVERIFY(child->waitForFinished(20000));
            QCOMPARE(child->exitStatus(), QProcess::NormalExit);
            QCOMPARE(child->exitCode(), 0);
        }
        // The simulator takes its links away when it ends.
        QVERIFY(!fs::exists(fs::symlink_status(dir_ / "ports" / "COM1")));
        fs::remove_all(dir_);
    }

    void liveUpdateFillsTheStoreFromTheServer() {
        Click("VexButton1");
        Click("VexButton6");
        QCOMPARE(Lines("Memo1").last(), QString("Aktualizacja oprogramowania zakończona."));
        int files = 0;
        for (const auto& folder : fs::directory_iterator(dir_ / "server" / "liveupdate")) {
            for (const auto& published : fs::directory_iterator(folder.path())) {
                if (published.path().extension() != ".bin") continue;
                const fs::path stored =
                    demo_ / folder.path().filename() / published.path().filename();
                QVERIFY2(ReadFile(stored) == ReadFile(published.path()), stored.c_str());
                ++files;
            }
        }
        QCOMPARE(files, 12);
        QCOMPARE(boxes_, QStringList());
        Click("VexButton7");
    }

    void kind1ServerOnTheChosenPort() {
        const fs::path firmware = ChooseDevice(0, "COM1");
        QCOMPARE(form_->DeviceKind(), uint8_t(1));
        Click("VexButton14");
        QCOMPARE(Lines("Memo2"), QStringList({"Czekam na dane z serwera...", "BOOT >> v5",
                                              "Tryb Boot dla serwera aktywny.",
                                              "Aktualnie masz wgrane oprogramowanie nr: 105"}) +
                                     kFlashServerLines);
        const std::string expected = FlashAfter(firmware);
        QCOMPARE(expected.size(), size_t(15180));
        QTRY_VERIFY_WITH_TIMEOUT(FlashHolds("COM1-server.bin", expected), 10000);
        QCOMPARE(boxes_, QStringList());
        BackToStart();
    }

    void kind2ServerFoundBySearch() {
        const fs::path firmware = ChooseDevice(1, QString());
        QCOMPARE(Find<QComboBox>("ComboBox1")->currentText(), QString("Auto"));
        Click("VexButton14");
        QCOMPARE(Lines("Memo2"), QStringList({"COM:1 +", "Czekam na dane z serwera...", "Reset...",
                                              "BOOT >> v5", "Tryb Boot dla serwera aktywny.",
                                              "Aktualnie masz wgrane oprogramowanie nr: 105"}) +
                                     kFlashServerLines);
        QTRY_VERIFY_WITH_TIMEOUT(FlashHolds("COM1-server.bin", FlashAfter(firmware)), 10000);
        QCOMPARE(boxes_, QStringList());
        BackToStart();
    }

    // The same server passes bytes to the card behind it, at 9600 baud (kind 3) and at 19200
    // after the search (kind 5).
    void kinds3And5CardBehindTheServer() {
        fs::path firmware = ChooseDevice(2, "COM1");
        Click("VexButton14");
        QCOMPARE(Lines("Memo2"),
                 QStringList("Inicjalizacja serwera... Czekaj (max 10sek)") + kViaServerLines);
        QTRY_VERIFY_WITH_TIMEOUT(FlashHolds("COM1-card.bin", FlashAfter(firmware)), 10000);
        BackToStart();

        firmware = ChooseDevice(4, QString());
        Click("VexButton14");
        QCOMPARE(Lines("Memo2"), QStringList({"COM:1 +", "Czekam na dane z serwera...", "Reset...",
                                              "Inicjalizacja serwera... Czekaj (max 10sek)"}) +
                                     kViaServerLines);
        QCOMPARE(form_->dane().BaudRateValue(), 19200u);
        QTRY_VERIFY_WITH_TIMEOUT(FlashHolds("COM1-card.bin", FlashAfter(firmware)), 10000);
        QCOMPARE(boxes_, QStringList());
        BackToStart();
    }

    void kind4CardInTheReaderAfterYes() {
        const fs::path firmware = ChooseDevice(3, "COM2");
        Click("VexButton14");
        QCOMPARE(Lines("Memo2"),
                 (QStringList{"SerialPort załączony : \\\\.\\COM2", "Czekam na ATR...",
                              "BOOT >> v5", "Tryb Boot dla karty aktywny.",
                              "Aktualnie masz wgrane oprogramowanie nr: 105", "Bit_lock : OK",
                              "Kasowanie flasha : OK", "Zapis flasha...", "Zapis flasha : OK",
                              "Bit_lock OFF : OK", "SerialPort wolny..."}));
        QCOMPARE(boxes_, QStringList("?|Twoja karta ma wgrane oprogramowanie nr:" +
                                     QString::fromStdString(firmware.filename().string()) +
                                     " czy kontynuować ?"));
        QTRY_VERIFY_WITH_TIMEOUT(FlashHolds("COM2-card.bin", FlashAfter(firmware)), 10000);
        BackToStart();
    }
};

QTEST_MAIN(RealLinesTest)
#include "real_lines_test.moc"
