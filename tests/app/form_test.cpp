#include <sys/stat.h>

#include <QComboBox>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QtTest>
#include <filesystem>
#include <functional>
#include <fstream>
#include <memory>
#include <tuple>

#include "FakeDesktop.h"
#include "SimulatedBackend.h"
#include "TForm1.h"
#include "VexButton.h"
#include "WindowTestSupport.h"

namespace fs = std::filesystem;

// Every test runs the real window in a fresh working directory.
class FormTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<TempWorkDir> work_;
    fs::path dir_;
    FakeDesktop desktop_;
    VirtualClock clock_;
    SimulatedBackend ports_{clock_};
    std::unique_ptr<TForm1> form_;

    void WriteFile(const fs::path& rel, const std::string& bytes) { work_->Write(rel, bytes); }
    void Start() {
        form_ = std::make_unique<TForm1>(TForm1::Services{desktop_, ports_, clock_});
        QVERIFY(ShowAndActivate(form_.get()));
    }
    template <typename T>
    T* Find(const char* name) {
        return FindControl<T>(form_.get(), name);
    }
    void Click(const char* button) { ClickButton(form_.get(), button); }
    void SelectDeviceType(int row) { Find<QListWidget>("ListBox2")->setCurrentRow(row); }
    QStringList ListItems(const char* name) {
        QStringList items;
        auto* list = Find<QListWidget>(name);
        for (int i = 0; i < list->count(); ++i) items << list->item(i)->text();
        return items;
    }
    QString PortText() { return Find<QComboBox>("ComboBox1")->currentText(); }

  private slots:
    void init() {
        work_ = std::make_unique<TempWorkDir>("form");
        dir_ = work_->Path();
        desktop_ = FakeDesktop();
    }
    void cleanup() {
        form_.reset();
        work_.reset();
    }

    void windowLayoutAfterStartUp() {
        WriteFile("init.cfg", "");
        Start();
        QCOMPARE(form_->size(), QSize(534, 268));
        QCOMPARE(form_->windowTitle(),
                 QString("TANDEL - QUORVANT II (PELTA/ORN/VESTRAND) 19.10.2007"));
        QCOMPARE(form_->CurrentPage(), int(TForm1::kStartPage));
        QCOMPARE(Find<QComboBox>("ComboBox1")->count(), 10);
        QCOMPARE(PortText(), QString("COM1"));
        QCOMPARE(Find<QProgressBar>("prog")->maximum(), 100);
        QCOMPARE(Find<QLabel>("Label5")->text(), QString("______"));
        QVERIFY(!(form_->windowFlags() & Qt::WindowMaximizeButtonHint));
        // The driver's design settings.
        QCOMPARE(form_->dane().PortName(), std::string("\\\\.\\COM2"));
        QCOMPARE(form_->dane().Port(), pnCustom);
        QCOMPARE(form_->dane().StopBits(), sb2BITS);
        QCOMPARE(form_->dane().HwFlow(), hfNONE);
        QVERIFY(!form_->dane().EnableDTROnOpen());
        QCOMPARE(form_->dane().BaudRateValue(), 9600u);
        // Buttons sit inside the visible client area.
        auto* start = Find<QPushButton>("VexButton2");
        const QRect inForm(start->mapTo(form_.get(), QPoint(0, 0)), start->size());
        QVERIFY(form_->rect().contains(inForm));
    }

    void missingInitCfgGivesOneErrorBox() {
        Start();
        QCOMPARE(desktop_.boxes.size(), size_t(1));
        QCOMPARE(desktop_.boxes[0].kind, QString("error"));
        QCOMPARE(desktop_.boxes[0].title, QString("TANDEL"));
        const QString path = QString::fromStdString((dir_ / "init.cfg").string());
        QCOMPARE(desktop_.boxes[0].text,
                 "Cannot open file \"" + path + "\". No such file or directory.");
        QVERIFY(desktop_.boxes[0].detail.startsWith("Program szukał pliku konfiguracji w: " + path));
        QCOMPARE(ListItems("ListBox2"), QStringList());
        QCOMPARE(form_->CurrentPage(), int(TForm1::kStartPage));
    }

    // An init.cfg that is no regular file, or past its bounds, is never read: the box names
    // why in Polish, the list stays empty and no folder is made. Special files are real ones.
    void initCfgOutsideItsBoundsIsRefused() {
        const struct {
            const char* what;
            std::function<void(const fs::path&)> make;
            QString reason;
        } cases[] = {
            {"link to /dev/zero", [](const fs::path& p) { fs::create_symlink("/dev/zero", p); },
             "To nie jest zwykły plik."},
            {"FIFO", [](const fs::path& p) { QCOMPARE(::mkfifo(p.c_str(), 0600), 0); },
             "To nie jest zwykły plik."},
            {"directory", [](const fs::path& p) { fs::create_directory(p); },
             "To nie jest zwykły plik."},
            {"sparse 4 GiB", [](const fs::path& p) {
                 std::ofstream(p) << "A:fw 1\r\n";
                 fs::resize_file(p, std::uintmax_t{4} << 30);
             },
             "Plik jest większy niż 4 MiB."},
            {"4 MiB and a byte", [](const fs::path& p) {
                 std::ofstream(p) << std::string((4 << 20) - 6, 'x') << ":fw 1\r\n";
             },
             "Plik jest większy niż 4 MiB."},
            {"10001 lines", [](const fs::path& p) {
                 std::ofstream out(p);
                 for (int i = 0; i <= 10000; ++i) out << "A:fw" << i << " 1\n";
             },
             "Plik ma więcej niż 10000 wierszy."},
        };
        for (const auto& c : cases) {
            cleanup();
            init();
            c.make(dir_ / "init.cfg");
            Start();
            const QString path = QString::fromStdString((dir_ / "init.cfg").string());
            QCOMPARE(desktop_.boxes.size(), size_t(1));
            QVERIFY2(desktop_.boxes[0].text == "Cannot open file \"" + path + "\". " + c.reason,
                     c.what);
            QCOMPARE(ListItems("ListBox2"), QStringList());
            QCOMPARE(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
        }
    }

    // An opis.txt past its bounds or no regular file shows like a missing one: no box, an
    // empty description, the firmware list as usual.
    void descriptionOutsideItsBoundsCountsAsMissing() {
        const std::function<void(const fs::path&)> makers[] = {
            [](const fs::path& p) { fs::create_symlink("/dev/zero", p); },
            [](const fs::path& p) { QCOMPARE(::mkfifo(p.c_str(), 0600), 0); },
            [](const fs::path& p) {
                std::ofstream(p) << "opis";
                fs::resize_file(p, std::uintmax_t{4} << 30);
            },
            [](const fs::path& p) { std::ofstream(p) << std::string(10001, '\n'); },
        };
        for (const auto& make : makers) {
            cleanup();
            init();
            WriteFile("init.cfg", "Pelta:pelta 1\r\n");
            WriteFile("pelta/v1.bin", "x");
            make(dir_ / "pelta" / "opis.txt");
            Start();
            Click("VexButton2");
            SelectDeviceType(0);
            Click("VexButton10");
            QCOMPARE(form_->CurrentPage(), int(TForm1::kFirmwarePage));
            QVERIFY(desktop_.boxes.empty());
            QCOMPARE(Find<QPlainTextEdit>("Memo3")->toPlainText(), QString());
            QCOMPARE(ListItems("ListBox1"), QStringList{"v1.bin"});
        }
    }

    void startUpCreatesFoldersOnceAndOnlyMissingOnes() {
        WriteFile("init.cfg", "Pelta:pelta 1\r\nOrn:orn 2\r\nKarta \xB3:\xBF\xF3\xB3w 4");
        WriteFile("orn/keep.bin", "x");
        Start();
        QCOMPARE(ListItems("ListBox2"),
                 (QStringList{"Pelta:pelta 1", "Orn:orn 2", "Karta ł:żółw 4"}));
        QVERIFY(fs::is_directory(dir_ / "pelta"));
        QVERIFY(fs::is_directory(dir_ / "żółw"));
        QVERIFY(fs::exists(dir_ / "orn/keep.bin"));
        QVERIFY(Find<QListWidget>("ListBox2")->selectedItems().isEmpty());

        // A second activation does no start-up work: the list and its selection stay.
        SelectDeviceType(1);
        fs::remove_all(dir_ / "pelta");
        form_->hide();
        QVERIFY(ShowAndActivate(form_.get()));
        QCOMPARE(Find<QListWidget>("ListBox2")->currentRow(), 1);
        QVERIFY(!fs::exists(dir_ / "pelta"));
        QCOMPARE(form_->size(), QSize(534, 268));
    }

    void emptyInitCfgCreatesNothing() {
        WriteFile("init.cfg", "");
        Start();
        QCOMPARE(ListItems("ListBox2"), QStringList());
        QCOMPARE(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
        QVERIFY(desktop_.boxes.empty());
        // Its DALEJ says below the designed text that init.cfg lists no device type.
        Click("VexButton2");
        Click("VexButton10");
        QCOMPARE(desktop_.boxes.size(), size_t(1));
        QVERIFY(desktop_.boxes[0].detail.contains("nie zawiera żadnego typu urządzenia"));
    }

    void validationBoxes() {
        WriteFile("init.cfg", "Pelta:pelta 1\r\n");
        Start();
        Click("VexButton2");
        QCOMPARE(form_->CurrentPage(), int(TForm1::kDeviceTypePage));
        Click("VexButton10");
        QCOMPARE(desktop_.boxes.size(), size_t(1));
        QCOMPARE(desktop_.boxes[0].kind, QString("information"));
        QCOMPARE(desktop_.boxes[0].title, QString("Informacja"));
        QCOMPARE(desktop_.boxes[0].text, QString("Proszę wybrać typ urządzenia !!!"));
        QCOMPARE(desktop_.boxes[0].detail, QString());  // there is a type to choose
        QCOMPARE(form_->CurrentPage(), int(TForm1::kDeviceTypePage));

        // A folder without *.bin files always refuses the firmware page's DALEJ.
        SelectDeviceType(0);
        Click("VexButton10");
        QCOMPARE(form_->CurrentPage(), int(TForm1::kFirmwarePage));
        QCOMPARE(ListItems("ListBox1"), QStringList());
        Click("VexButton11");
        QCOMPARE(desktop_.boxes.size(), size_t(2));
        QCOMPARE(desktop_.boxes[1].text,
                 QString("Proszę wybrać wersje oprogramowania do zaktualizownia urządzenia !!!"));
        QVERIFY(desktop_.boxes[1].detail.startsWith(
            "W folderze " + QString::fromStdString((dir_ / "pelta").string()) + " nie ma"));
        QCOMPARE(form_->CurrentPage(), int(TForm1::kFirmwarePage));
    }

    void portBoxFollowsTheKind() {
        WriteFile("init.cfg", "Auto:orn 2\r\nFixed:pelta 1\r\nAuto5:k5 5\r\nCard:k4 4\r\n");
        WriteFile("pelta/a.bin", std::string(10, 'x'));
        WriteFile("pelta/opis.txt", "Opis \xB3\r\nlinia 2");
        Start();
        Click("VexButton2");
        auto* port = Find<QComboBox>("ComboBox1");
        for (int row : {0, 2}) {
            SelectDeviceType(row);
            Click("VexButton10");
            QCOMPARE(PortText(), QString("Auto"));
            QVERIFY(!port->isEnabled());
            Click("VexButton12");
        }
        for (int row : {1, 3}) {
            SelectDeviceType(row);
            Click("VexButton10");
            QCOMPARE(PortText(), QString("COM1"));
            QVERIFY(port->isEnabled());
            Click("VexButton12");
        }
        QCOMPARE(form_->DeviceKind(), uint8_t(4));
    }

    void typedPortSurvivesBackAndForthButNotDeviceTypeDalej() {
        WriteFile("init.cfg", "Fixed:pelta 1\r\n");
        WriteFile("pelta/a.bin", std::string(10, 'x'));
        WriteFile("pelta/opis.txt", "Opis \xB3\r\nlinia 2");
        Start();
        Click("VexButton2");
        SelectDeviceType(0);
        Click("VexButton10");
        QCOMPARE(ListItems("ListBox1"), QStringList{"a.bin"});
        QCOMPARE(Find<QPlainTextEdit>("Memo3")->toPlainText(), QString("Opis ł\nlinia 2"));
        Find<QListWidget>("ListBox1")->setCurrentRow(0);
        Find<QPlainTextEdit>("Memo2")->setPlainText("old line");
        Click("VexButton11");
        QCOMPARE(form_->CurrentPage(), int(TForm1::kProgrammingPage));
        QCOMPARE(Find<QPlainTextEdit>("Memo2")->toPlainText(), QString());  // emptied on entry

        auto* port = Find<QComboBox>("ComboBox1");
        port->setEditText("COM7");
        Click("VexButton13");  // POWRÓT to the firmware page
        Click("VexButton11");  // DALEJ back to programming
        QCOMPARE(PortText(), QString("COM7"));
        Click("VexButton13");
        Click("VexButton12");  // to the device-type page
        Click("VexButton10");  // DALEJ again resets the port box
        QCOMPARE(PortText(), QString("COM1"));
    }

    void lineEndingInALetterKeepsThePreviousKind() {
        WriteFile("init.cfg", "Good:pelta 3\r\nBad:other x\r\n");
        Start();
        Click("VexButton2");
        SelectDeviceType(0);
        Click("VexButton10");
        QCOMPARE(form_->DeviceKind(), uint8_t(3));
        Click("VexButton12");
        SelectDeviceType(1);
        Click("VexButton10");
        QCOMPARE(desktop_.boxes.size(), size_t(1));
        QCOMPARE(desktop_.boxes[0].kind, QString("error"));
        QCOMPARE(desktop_.boxes[0].text, QString("'x' is not a valid integer value."));
        QCOMPARE(form_->DeviceKind(), uint8_t(3));
        QCOMPARE(form_->FirmwareFolderBytes(),
                 std::string("other"));  // stored before the kind is read
        QCOMPARE(form_->CurrentPage(), int(TForm1::kDeviceTypePage));
    }

    // Each page as the user sees it: the sky-blue boxes where they belong, and every button
    // drawn inside the client area. With TANDEL_SCREENSHOT_DIR set, the pages are saved as PNG.
    void pagesRender() {
        WriteFile("init.cfg", "PELTA serwer:pelta 1\r\nORN serwer auto:orn 2\r\n");
        WriteFile("pelta/105.bin", "x");
        WriteFile("pelta/opis.txt", "Wersja 105: poprawki obs\xB3ugi karty");
        Start();
        const QColor skyBlue(166, 202, 240);
        const QString saveTo = qEnvironmentVariable("TANDEL_SCREENSHOT_DIR");
        const auto check = [&](const char* file, const char* box) {
            QWidget* widget = Find<QWidget>(box);
            const QImage image = form_->grab().toImage();
            if (!saveTo.isEmpty()) image.save(saveTo + "/" + file);
            const QPoint inside = widget->mapTo(form_.get(), QPoint(20, widget->height() - 6));
            QCOMPARE(image.pixelColor(inside), skyBlue);
        };
        {
            const QImage image = form_->grab().toImage();
            if (!saveTo.isEmpty()) image.save(saveTo + "/start.png");
            QCOMPARE(image.size(), QSize(534, 268));
        }
        Click("VexButton2");
        check("device-type.png", "ListBox2");
        SelectDeviceType(0);
        Click("VexButton10");
        Find<QListWidget>("ListBox1")->setCurrentRow(0);
        check("firmware.png", "ListBox1");
        Click("VexButton11");
        Find<QPlainTextEdit>("Memo2")->setPlainText("Czekam na dane z serwera...");
        check("programming.png", "Memo2");
        Click("VexButton13");
        Click("VexButton12");
        Click("VexButton9");
        Click("VexButton1");
        check("liveupdate.png", "Memo1");
    }

    // The window acts on a button's own click signal, which comes after the button's kind
    // rules: with every button made a drop-down button without a menu, whose clicks the rules
    // keep, no click does anything.
    void buttonsActOnlyOnClicksTheirKindLetThrough() {
        WriteFile("init.cfg", "Pelta:pelta 1\r\n");
        WriteFile("pelta/a.bin", "x");
        Start();
        const struct {
            const char* button;
            TForm1::Page page;
        } cases[] = {
            {"VexButton1", TForm1::kStartPage},        {"VexButton2", TForm1::kStartPage},
            {"VexButton6", TForm1::kLiveUpdatePage},   {"VexButton7", TForm1::kLiveUpdatePage},
            {"VexButton12", TForm1::kFirmwarePage},    {"VexButton11", TForm1::kFirmwarePage},
            {"VexButton13", TForm1::kProgrammingPage}, {"VexButton15", TForm1::kProgrammingPage},
            {"VexButton14", TForm1::kProgrammingPage}, {"VexButton9", TForm1::kDeviceTypePage},
            {"VexButton10", TForm1::kDeviceTypePage},
        };
        for (auto* button : form_->findChildren<TVexButton*>()) button->SetKind(bkDropDown);
        Find<QPlainTextEdit>("Memo1")->setPlainText("log");
        Find<QPlainTextEdit>("Memo2")->setPlainText("log");
        const auto state = [&] {
            return std::tuple(form_->CurrentPage(), desktop_.boxes.size(), form_->StopRequested(),
                              Find<QPlainTextEdit>("Memo1")->toPlainText(),
                              Find<QPlainTextEdit>("Memo2")->toPlainText());
        };
        for (const auto& c : cases) {
            Find<QStackedWidget>("PageControl1")->setCurrentIndex(c.page);
            const auto before = state();
            Click(c.button);
            QCoreApplication::processEvents();
            QVERIFY2(state() == before, c.button);
        }
    }

    void logoOpensHomePageAndLiveUpdateButtonEmptiesItsLog() {
        WriteFile("init.cfg", "");
        Start();
        QTest::mouseClick(Find<QLabel>("Image1"), Qt::LeftButton);
        QCOMPARE(desktop_.urls, QStringList{"http://www.quorvant.example/"});
        QCOMPARE(form_->CurrentPage(), int(TForm1::kStartPage));
        Find<QPlainTextEdit>("Memo1")->setPlainText("stale");
        Click("VexButton1");
        QCOMPARE(form_->CurrentPage(), int(TForm1::kLiveUpdatePage));
        QCOMPARE(Find<QPlainTextEdit>("Memo1")->toPlainText(), QString());
        Click("VexButton7");
        QCOMPARE(form_->CurrentPage(), int(TForm1::kStartPage));
    }
};

QTEST_MAIN(FormTest)
#include "form_test.moc"
