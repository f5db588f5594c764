#include <httplib.h>

#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

#include "FakeDesktop.h"
#include "LiveUpdate.h"
#include "SimulatedBackend.h"
#include "TForm1.h"
#include "WindowTestSupport.h"

namespace fs = std::filesystem;

// The LiveUpdate page driven through its buttons against an update server on 127.0.0.1.
class LiveUpdateWindowTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<TempWorkDir> work_;
    fs::path dir_;
    FakeDesktop desktop_;
    VirtualClock clock_;
    SimulatedBackend ports_{clock_};
    std::unique_ptr<TForm1> form_;
    httplib::Server server_;
    std::thread serverThread_;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> inTransfer_{false};

    // The longest gap between the ticks of a 10 ms timer while `action` runs.
    static std::chrono::milliseconds LongestTimerGap(const std::function<void()>& action) {
        using Clock = std::chrono::steady_clock;
        auto last = Clock::now();
        Clock::duration longest{};
        QTimer probe;
        probe.setInterval(10);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            const auto now = Clock::now();
            longest = std::max(longest, now - last);
            last = now;
        });
        probe.start();
        action();
        probe.stop();
        longest = std::max(longest, Clock::now() - last);
        return std::chrono::duration_cast<std::chrono::milliseconds>(longest);
    }

    void WriteFile(const fs::path& rel, const std::string& bytes) { work_->Write(rel, bytes); }
    void Start() {
        form_ = std::make_unique<TForm1>(TForm1::Services{desktop_, ports_, clock_});
        QVERIFY(ShowAndActivate(form_.get()));
    }
    void Click(const char* name) { ClickButton(form_.get(), name); }
    void press(const char* name) { form_->findChild<QPushButton*>(name)->click(); }
    QStringList Log() {
        return form_->findChild<QPlainTextEdit*>("Memo1")->toPlainText().split('\n');
    }

  private slots:
    void initTestCase() {
        server_.Get("/liveupdate/pelta/lista.txt",
                    [](const httplib::Request&, httplib::Response& r) {
                        r.set_content("105\r\n106\r\n", "text/plain");
                    });
        server_.Get("/liveupdate/pelta/opis.txt",
                    [](const httplib::Request&, httplib::Response& r) {
                        r.set_content("Wersja 105 \xB3", "text/plain");
                    });
        server_.Get("/liveupdate/pelta/106.bin", [](const httplib::Request&, httplib::Response& r) {
            r.set_content(std::string(15180, '\x5A'), "application/octet-stream");
        });
        // A firmware file sent one byte every 100 ms, and one the server never answers.
        server_.Get("/liveupdate/wolny/lista.txt",
                    [](const httplib::Request&, httplib::Response& r) {
                        r.set_content("107\r\n", "text/plain");
                    });
        server_.Get("/liveupdate/wolny/opis.txt",
                    [](const httplib::Request&, httplib::Response& r) {
                        r.set_content("Opis", "text/plain");
                    });
        server_.Get("/liveupdate/wolny/107.bin", [this](const httplib::Request&,
                                                        httplib::Response& r) {
            r.set_content_provider(15180, "application/octet-stream",
                                   [this](size_t, size_t, httplib::DataSink& sink) {
                                       std::this_thread::sleep_for(std::chrono::milliseconds(100));
                                       return !stopping_ && sink.write("x", 1);
                                   });
        });
        server_.Get("/liveupdate/martwy/lista.txt",
                    [this](const httplib::Request&, httplib::Response& r) {
                        for (int i = 0; i < 600 && !stopping_; ++i) {
                            std::this_thread::sleep_for(std::chrono::milliseconds(10));
                        }
                        r.set_content("", "text/plain");
                    });
        // Three files that take 300 ms each.
        server_.Get("/liveupdate/przerwij/lista.txt",
                    [](const httplib::Request&, httplib::Response& r) {
                        r.set_content("a\r\nb\r\nc\r\n", "text/plain");
                    });
        server_.Get("/liveupdate/przerwij/opis.txt",
                    [](const httplib::Request&, httplib::Response& r) {
                        r.set_content("Opis", "text/plain");
                    });
        server_.Get(R"(/liveupdate/przerwij/(\w)\.bin)",
                    [this](const httplib::Request&, httplib::Response& r) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(150));
                        inTransfer_ = true;  // the run waits for "a" by now
                        std::this_thread::sleep_for(std::chrono::milliseconds(150));
                        r.set_content(std::string(15180, 'f'), "application/octet-stream");
                    });
        port_ = server_.bind_to_any_port("127.0.0.1");
        serverThread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        qputenv("TANDEL_LIVEUPDATE_URL",
                QByteArray("http://127.0.0.1:") + QByteArray::number(port_) + "/liveupdate/");
    }
    void cleanupTestCase() {
        stopping_ = true;
        server_.stop();
        serverThread_.join();
    }
    void init() {
        work_ = std::make_unique<TempWorkDir>("liveupdate");
        dir_ = work_->Path();
        desktop_ = FakeDesktop();
    }
    void cleanup() {
        form_.reset();
        work_.reset();
    }

    void startFillsTheStoreAndShowsTheConnectionState() {
        WriteFile("init.cfg", "PELTA:pelta 1\r\n");
        WriteFile("pelta/105.bin", std::string(15180, '\x01'));
        Start();
        Click("VexButton1");
        Click("VexButton6");
        QCOMPARE(Log(),
                 (QStringList{"Pobieram listę oprogramowania dla : pelta",
                              "Pobieram opis dla : pelta", "105.bin : JEST", "106.bin : POBIERAM",
                              "Aktualizacja oprogramowania zakończona."}));
        QCOMPARE(form_->findChild<QLabel*>("Label5")->text(), QString("Rozłączono"));
        QCOMPARE(fs::file_size(dir_ / "pelta/106.bin"), 15180u);
        QVERIFY(desktop_.boxes.empty());
    }

    void closingTheWindowDuringARunEndsItQuietly() {
        WriteFile("init.cfg", "PELTA:pelta 1\r\nPELTA 2:pelta 2\r\n");
        Start();
        Click("VexButton1");
        bool closed = false;
        QTimer::singleShot(0, form_.get(), [&] { closed = form_->close(); });
        Click("VexButton6");
        QVERIFY(!closed);  // refused while the run was on the stack
        QVERIFY(!Log().contains("Aktualizacja oprogramowania zakończona."));
        QVERIFY(desktop_.boxes.empty());
        QTRY_VERIFY(!form_->isVisible());
    }

    // POWRÓT during a run asks without holding the run. Yes: the file at its turn is stored
    // whole, the run ends with the stop line, the page stays until POWRÓT again. No answer:
    // the run ends as it would, and the question goes with it.
    void backDuringARunAsksWhetherToStop() {
        WriteFile("init.cfg", "Przerwij:przerwij 1\r\n");
        Start();
        for (const bool stop : {true, false}) {
            fs::remove_all(dir_ / "przerwij");
            fs::create_directory(dir_ / "przerwij");
            desktop_.boxes.clear();
            Click("VexButton1");
            inTransfer_ = false;
            QTimer poll;  // asked while the first file is in transfer
            connect(&poll, &QTimer::timeout, [&] {
                if (!inTransfer_) return;
                poll.stop();
                press("VexButton7");
                if (stop) desktop_.Answer(true);
            });
            poll.start(0);
            Click("VexButton6");
            QVERIFY(desktop_.boxes.size() == 1 && desktop_.boxes[0].kind == "ask");
            QVERIFY(!desktop_.Asking());
            QCOMPARE(form_->CurrentPage(), int(TForm1::kLiveUpdatePage));
            const auto files = std::distance(fs::directory_iterator(dir_ / "przerwij"), {});
            const QStringList tail{"a.bin : POBIERAM", "b.bin : POBIERAM", "c.bin : POBIERAM",
                                   "Aktualizacja oprogramowania zakończona."};
            QCOMPARE(Log().mid(2), stop ? (QStringList{tail[0], kLineUpdateStopped}) : tail);
            QCOMPARE(files, stop ? 2 : 4);  // opis.txt and the whole files, no temporary
            press("VexButton7");
            QCOMPARE(form_->CurrentPage(), int(TForm1::kStartPage));
        }
    }

    void missingListEndsTheRunWithTheErrorBox() {
        WriteFile("init.cfg", "PELTA:pelta 1\r\nInny:inny 2\r\n");
        WriteFile("105.bin", "in the base directory");
        Start();
        Click("VexButton1");
        Click("VexButton6");
        QCOMPARE(Log(),
                 (QStringList{"Pobieram listę oprogramowania dla : pelta",
                              "Pobieram opis dla : pelta", "105.bin : JEST", "106.bin : POBIERAM",
                              "Pobieram listę oprogramowania dla : inny"}));
        QVERIFY(fs::exists(dir_ / "pelta/106.bin"));
        QCOMPARE(desktop_.boxes.size(), size_t(1));
        QCOMPARE(desktop_.boxes[0].kind, QString("error"));
        QCOMPARE(desktop_.boxes[0].title, QString("TANDEL"));
        QCOMPARE(desktop_.boxes[0].text, QString("HTTP/1.1 404 Not Found."));
        QVERIFY2(desktop_.boxes[0].detail.startsWith("Nie udało się pobrać: " +
                                                    qgetenv("TANDEL_LIVEUPDATE_URL") +
                                                    "inny/lista.txt\nPowód: HTTP/1.1 404"), qPrintable(desktop_.boxes[0].detail));
        // Leaving the page and coming back empties the log.
        Click("VexButton7");
        Click("VexButton1");
        QCOMPARE(form_->findChild<QPlainTextEdit*>("Memo1")->toPlainText(), QString());
    }

    void aDrippingServerNeitherFreezesTheWindowNorHoldsTheRun() {
        WriteFile("init.cfg", "Wolny:wolny 1\r\n");
        Start();
        HttpTimeouts quick;
        quick.minimumRateWindow = std::chrono::milliseconds(1500);
        form_->IdHTTP1().SetTimeouts(quick);
        Click("VexButton1");
        const auto start = std::chrono::steady_clock::now();
        const auto gap = LongestTimerGap([&] { Click("VexButton6"); });
        const auto took = std::chrono::steady_clock::now() - start;
        qInfo("longest timer gap during the dripping request: %lld ms",
              static_cast<long long>(gap.count()));
        QVERIFY2(gap < std::chrono::milliseconds(250), std::to_string(gap.count()).c_str());
        QVERIFY(took >= std::chrono::milliseconds(1500));
        QVERIFY(took < std::chrono::seconds(5));
        QCOMPARE(desktop_.boxes.size(), size_t(1));
        QCOMPARE(desktop_.boxes[0].text, QString("Read timed out."));
        QCOMPARE(Log().last(), QString("107.bin : POBIERAM"));
        QCOMPARE(form_->findChild<QLabel*>("Label5")->text(), QString("Rozłączono"));
        QVERIFY(!fs::exists(dir_ / "wolny/107.bin"));
    }

    // One job at a time: a programming START during a LiveUpdate run opens no port.
    void programmingStartDuringARunIsIgnored() {
        WriteFile("init.cfg", "Wolny:wolny 1\r\n");
        WriteFile("wolny/100.bin", std::string(15180, '\x01'));
        Start();
        HttpTimeouts quick;
        quick.minimumRateWindow = std::chrono::milliseconds(1000);
        form_->IdHTTP1().SetTimeouts(quick);
        const auto press = [&](const char* name) { form_->findChild<QPushButton*>(name)->click(); };
        press("VexButton2");
        form_->findChild<QListWidget*>("ListBox2")->setCurrentRow(0);
        press("VexButton10");
        form_->findChild<QListWidget*>("ListBox1")->setCurrentRow(0);
        press("VexButton11");
        QTimer::singleShot(300, form_.get(), [&] { press("VexButton14"); });
        press("VexButton1");
        press("VexButton6");
        QCOMPARE(desktop_.boxes.size(), size_t(1));  // the run's own end, no open failure
        QCOMPARE(desktop_.boxes[0].text, QString("Read timed out."));
        QCOMPARE(form_->LastRun().end, RunEnd::NotRun);
    }

    void closingTheWindowDuringARequestEndsTheRunAtOnce() {
        // A server that never answers, and one dripping a firmware file.
        for (const char* folder : {"martwy", "wolny"}) {
            desktop_ = FakeDesktop();
            WriteFile("init.cfg", std::string("Typ:") + folder + " 1\r\n");
            Start();
            Click("VexButton1");
            using Clock = std::chrono::steady_clock;
            Clock::time_point closedAt;
            QTimer::singleShot(500, form_.get(), [&] {
                closedAt = Clock::now();
                form_->close();
            });
            Click("VexButton6");
            const auto ended = Clock::now() - closedAt;
            qInfo("%s: the run ended %lld ms after the close", folder,
                  static_cast<long long>(
                      std::chrono::duration_cast<std::chrono::milliseconds>(ended).count()));
            QVERIFY2(ended < std::chrono::milliseconds(500), folder);
            QVERIFY(desktop_.boxes.empty());
            QTRY_VERIFY_WITH_TIMEOUT(!form_->isVisible(), 500);
            // Nothing half-written: no firmware file and no temporary file in the folder.
            if (std::string(folder) == "wolny") {
                QCOMPARE(Log().last(), QString("107.bin : POBIERAM"));
                std::vector<std::string> entries;
                for (const auto& entry : fs::directory_iterator(dir_ / folder))
                    entries.push_back(entry.path().filename().string());
                QCOMPARE(entries, std::vector<std::string>{"opis.txt"});
            } else {
                QCOMPARE(Log(), QStringList{"Pobieram listę oprogramowania dla : martwy"});
            }
            form_.reset();
        }
    }

    void anErrorBoxNeverGrowsPastTheScreen() {
        WriteFile("init.cfg", "PELTA:pelta 1\r\n");
        Start();
        form_->ShowFailure("HTTP/1.1 500 " + QString(60000, u'r'));
        form_->ShowFailure("HTTP/1.1 404 Brak pliku");
        QCOMPARE(desktop_.boxes.size(), size_t(2));
        QCOMPARE(desktop_.boxes[0].text.size(), 303);
        QVERIFY(desktop_.boxes[0].text.startsWith("HTTP/1.1 500 rrr"));
        QVERIFY(desktop_.boxes[0].text.endsWith("r..."));
        QCOMPARE(desktop_.boxes[1].text, QString("HTTP/1.1 404 Brak pliku."));
    }
};

QTEST_MAIN(LiveUpdateWindowTest)
#include "live_update_window_test.moc"
