#include <httplib.h>

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "FakeDesktop.h"
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

    void WriteFile(const fs::path& rel, const std::string& bytes) { work_->Write(rel, bytes); }
    void Start() {
        form_ = std::make_unique<TForm1>(TForm1::Services{desktop_, ports_, clock_});
        QVERIFY(ShowAndActivate(form_.get()));
    }
    void Click(const char* name) { ClickButton(form_.get(), name); }
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
        port_ = server_.bind_to_any_port("127.0.0.1");
        serverThread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        qputenv("TANDEL_LIVEUPDATE_URL",
                QByteArray("http://127.0.0.1:") + QByteArray::number(port_) + "/liveupdate/");
    }
    void cleanupTestCase() {
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
        // Leaving the page and coming back empties the log.
        Click("VexButton7");
        Click("VexButton1");
        QCOMPARE(form_->findChild<QPlainTextEdit*>("Memo1")->toPlainText(), QString());
    }
};

QTEST_MAIN(LiveUpdateWindowTest)
#include "live_update_window_test.moc"
