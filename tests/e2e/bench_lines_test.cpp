#include <unistd.h>

#include <QComboBox>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QtTest>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <thread>

#include "../app/FakeDesktop.h"
#include "../app/WindowTestSupport.h"
#include "BootLink.h"
#include "Clock.h"
#include "DeviceFaults.h"
#include "PosixBackend.h"
#include "PtyDeviceSet.h"
#include "PtyLoop.h"
#include "TForm1.h"

namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;

namespace {

const char kInitCfg[] =
    "Serwer:serwer 1\r\nSerwer auto:serwer 2\r\nKarta przez serwer:karta 3\r\n"
    "Karta w czytniku:karta 4\r\n";
const QString kLost = QString::fromUtf8(kLinePortLost);
const QString kFree = QString::fromUtf8(kLinePortFree);

std::string Firmware(uint8_t seed) {
    std::string bytes(15181, '\0');
    for (size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<char>(k * seed + 1);
    return bytes;
}
// What the device's flash holds after `file` went in: all but its last byte.
std::string Sent(const std::string& file) {
    return file.substr(0, 220 * 69);
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

int64_t SteadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Steady::now().time_since_epoch())
        .count();
}

}  // namespace

// The window on the real serial backend, against the project's device models behind
// pseudo-terminals (served on a thread of this process) that drop their line at a step,
// talk before their reset or come back after being unplugged.
class BenchLinesTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<TempWorkDir> work_;
    std::unique_ptr<PtyDeviceSet> devices_;
    int stop_[2] = {-1, -1};
    std::thread loop_;
    FakeDesktop desktop_;
    std::unique_ptr<TForm1> form_;
    const std::string serverFile_ = Firmware(13);
    const std::string cardFile_ = Firmware(29);

    template <typename T>
    T* Find(const char* name) {
        return FindControl<T>(form_.get(), name);
    }
    void Click(const char* name) { ClickButton(form_.get(), name); }
    QStringList Log() { return StatusLog(form_.get()); }
    void Devices(std::vector<const char*> faults, size_t chatter = 0) {
        PtyDeviceSet::Options options;
        options.pacing.rate = 0;
        options.flashDir = (work_->Path() / "flash").string();
        options.serverChatter = chatter;
        options.replugAfterMs = 200;
        for (const char* f : faults) options.faults.push_back(*ParseDeviceFault(f));
        devices_ = std::make_unique<PtyDeviceSet>(options);
        devices_->Create((work_->Path() / "ports").string());
        QCOMPARE(::pipe(stop_), 0);
        loop_ = std::thread([this] { RunPtyLines(devices_->Lines(), stop_[0]); });
    }
    // From wherever the window is to the programming page with device type `row` and its
    // one firmware file chosen.
    void Choose(int row, const QString& port = QString()) {
        form_->findChild<QStackedWidget*>("PageControl1")->setCurrentIndex(TForm1::kDeviceTypePage);
        Find<QListWidget>("ListBox2")->setCurrentRow(row);
        Click("VexButton10");
        Find<QListWidget>("ListBox1")->setCurrentRow(0);
        Click("VexButton11");
        if (!port.isEmpty()) Find<QComboBox>("ComboBox1")->setEditText(port);
    }
    // Runs `action` at the first message pass after `line` appeared in the log.
    void AfterLine(const QString& line, std::function<void()> action) {
        auto* timer = new QTimer(form_.get());
        QObject::connect(timer, &QTimer::timeout, timer, [=, this] {
            if (!Log().contains(line)) return;
            timer->stop();
            action();
        });
        timer->start(0);
    }
    bool FlashHolds(const char* file, const std::string& expected) {
        return ReadFile(work_->Path() / "flash" / file) == expected;
    }
    PtyLine& Line(int n) { return *devices_->Lines()[static_cast<size_t>(n - 1)]; }
    struct HangUpRun {
        double msAfterDrop;  // from the drop to the end of the run
        double cpuShare;     // of the window's thread, over the whole run
    };
    // START with a device that drops its line: the run ends with the lost-line line and the
    // release.
    HangUpRun RunToHangUp(int kind) {
        const double cpu0 = ThreadCpuSeconds();
        const auto start = Steady::now();
        Click("VexButton14");
        const int64_t end = SteadyNs();
        const double wall = std::chrono::duration<double>(Steady::now() - start).count();
        const double cpuShare = (ThreadCpuSeconds() - cpu0) / wall;
        const QStringList log = Log();
        [&] {
            QVERIFY(log.size() >= 2);
            QCOMPARE(log.mid(log.size() - 2), QStringList({kLost, kFree}));
            QVERIFY(!form_->dane().IsPortOpen());
        }();
        const double ms = static_cast<double>(end - Line(kind == 4 ? 2 : 1).LastUnplugNs()) / 1e6;
        qInfo("kind %d: run ended %.1f ms after the hang-up; run %.2f s, window thread CPU %.1f %%",
              kind, ms, wall, 100 * cpuShare);
        return {ms, cpuShare};
    }

  private slots:
    void init() {
        work_ = std::make_unique<TempWorkDir>("bench-lines");
        work_->Write("init.cfg", kInitCfg);
        work_->Write("serwer/105.bin", serverFile_);
        work_->Write("karta/105.bin", cardFile_);
        qputenv("TANDEL_PORTS", QByteArray::fromStdString((work_->Path() / "ports").string()));
        desktop_ = FakeDesktop();
        form_ = std::make_unique<TForm1>(
            TForm1::Services{desktop_, PosixSerialBackend(), SystemClock::Instance()});
        QVERIFY(ShowAndActivate(form_.get()));
    }
    void cleanup() {
        form_.reset();
        if (loop_.joinable()) {
            const char byte = 1;
            QCOMPARE(::write(stop_[1], &byte, 1), ssize_t(1));
            loop_.join();
            ::close(stop_[0]);
            ::close(stop_[1]);
        }
        devices_.reset();
        work_.reset();
    }

    // Unplugged at each step of the server's run: the run ends at once, the window keeps
    // its processor free meanwhile, and after the re-plug the next START programs it.
    void serverUnpluggedAtEachStep_data() {
        QTest::addColumn<QString>("fault");
        for (const char* f :
             {"server:greeting=drop", "server:firmware-number=drop", "server:bitlock-on=drop",
              "server:erase=drop", "server:write@0=drop@40", "server:write@17=drop",
              "server:write@219=drop@40"}) {
            QTest::newRow(f) << QString(f);
        }
    }
    void serverUnpluggedAtEachStep() {
        QFETCH(QString, fault);
        Devices({fault.toUtf8().constData()});
        Choose(0, "COM1");
        const HangUpRun run = RunToHangUp(1);
        QVERIFY(run.msAfterDrop < 1000);
        // Waiting for a greeting that never comes costs next to nothing.
        if (fault.startsWith("server:greeting")) QVERIFY(run.cpuShare < 0.05);

        if (fault.contains("write@17")) {
            QTRY_COMPARE_WITH_TIMEOUT(Line(1).Unplugs(), 1, 2000);
            QTRY_VERIFY_WITH_TIMEOUT(fs::exists(work_->Path() / "ports" / "COM1"), 3000);
            Click("VexButton14");
            QCOMPARE(Log().last(), kFree);
            QCOMPARE(Log().at(Log().size() - 2), QString("Reset serwera : OK"));
            QTRY_VERIFY_WITH_TIMEOUT(FlashHolds("COM1-server.bin", Sent(serverFile_)), 5000);
        }
    }

    void cardInTheReaderUnplugged_data() {
        QTest::addColumn<QString>("fault");
        for (const char* f :
             {"reader:greeting=drop", "reader:write@17=drop@40", "reader:bitlock-off=drop"}) {
            QTest::newRow(f) << QString(f);
        }
    }
    void cardInTheReaderUnplugged() {
        QFETCH(QString, fault);
        Devices({fault.toUtf8().constData()});
        Choose(3, "COM2");
        QVERIFY(RunToHangUp(4).msAfterDrop < 1000);
    }

    // The activation loop through the server: its probes meet a line that has gone.
    void serverUnpluggedDuringTheActivation() {
        Devices({"server:probe=drop"});
        Choose(2, "COM1");
        const HangUpRun run = RunToHangUp(3);
        QVERIFY(run.msAfterDrop < 1000);
        QVERIFY(run.cpuShare < 0.05);
        QCOMPARE(Log(), QStringList({"Inicjalizacja serwera... Czekaj (max 10sek)", kLost, kFree}));
    }

    // The server's program talks until its reset; the search still finds it.
    void chatterBeforeTheResetAndTheSearchStillFindsTheServer() {
        Devices({}, 60);
        Choose(1);
        Click("VexButton14");
        QCOMPARE(Log().mid(0, 4),
                 QStringList({"COM:1 +", "Czekam na dane z serwera...", "Reset...", "BOOT >> v5"}));
        QCOMPARE(Log().last(), kFree);
        QTRY_VERIFY_WITH_TIMEOUT(FlashHolds("COM1-server.bin", Sent(serverFile_)), 5000);
    }

    // A kind-1 run waits for its server; meanwhile the user picks the card reader and its
    // file and presses START. The server gets the file chosen at the first START.
    void choicesMadeDuringAWaitingRunDoNotReachIt() {
        Devices({});
        Choose(0, "COM1");
        bool changed = false;
        AfterLine("Czekam na dane z serwera...", [&] {
            Click("VexButton13");
            Click("VexButton12");
            Choose(3, "COM2");
            QCOMPARE(Log(), QStringList{"Czekam na dane z serwera..."});  // still in view
            Click("VexButton14");  // ignored: a run is in progress
            changed = true;
        });
        Click("VexButton14");
        QVERIFY(changed);
        QCOMPARE(form_->DeviceKind(), uint8_t(4));
        QCOMPARE(Log().first(), QString("Czekam na dane z serwera..."));
        QCOMPARE(Log().last(), kFree);
        QVERIFY(desktop_.boxes.empty());  // no card question: the second START did nothing
        QTRY_VERIFY_WITH_TIMEOUT(FlashHolds("COM1-server.bin", Sent(serverFile_)), 5000);
    }

    // A Linux user's own device path in the port box opens that port.
    void devicePathInThePortBox() {
        Devices({});
        const QString path = QString::fromStdString(Line(2).SlavePath());
        Choose(3, path);
        Click("VexButton14");
        QCOMPARE(Log().first(), "SerialPort załączony : " + path);
        QCOMPARE(Log().last(), kFree);
        QTRY_VERIFY_WITH_TIMEOUT(FlashHolds("COM2-card.bin", Sent(cardFile_)), 5000);
    }
};

QTEST_MAIN(BenchLinesTest)
#include "bench_lines_test.moc"
