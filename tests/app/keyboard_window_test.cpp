#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <filesystem>
#include <memory>

#include "Clock.h"
#include "DesktopServices.h"
#include "FakeDesktop.h"
#include "PolishTranslation.h"
#include "PortBox.h"
#include "PosixBackend.h"
#include "TForm1.h"
#include "WindowTestSupport.h"
#include "WindowTexts.h"

namespace fs = std::filesystem;

// The window as a keyboard user drives it, on this machine's real serial backend.
class KeyboardWindowTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<TempWorkDir> work_;
    FakeDesktop desktop_;
    std::unique_ptr<TForm1> form_;

    void Start(const std::string& initCfg) {
        work_->Write("init.cfg", initCfg);
        form_ = std::make_unique<TForm1>(
            TForm1::Services{desktop_, PosixSerialBackend(), SystemClock::Instance()});
        QVERIFY(ShowAndActivate(form_.get()));
    }
    template <typename T>
    T* Find(const char* name) {
        return FindControl<T>(form_.get(), name);
    }
    // The control that has the focus, by its name (the port box for its edit field).
    static QString Focus() {
        QWidget* w = QApplication::focusWidget();
        while (w != nullptr && w->objectName().isEmpty()) w = w->parentWidget();
        return w == nullptr ? QString() : w->objectName();
    }
    static void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key), modifiers);
    }
    // Tab through the page from the focused control; the names met, the start included.
    static QStringList TabChain(int steps, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QStringList names{Focus()};
        for (int i = 0; i < steps; ++i) {
            Key(Qt::Key_Tab, modifiers);
            names << Focus();
        }
        return names;
    }

  private slots:
    void init() {
        work_ = std::make_unique<TempWorkDir>("keys");
        desktop_ = FakeDesktop();
    }
    void cleanup() {
        form_.reset();
        work_.reset();
        qunsetenv("TANDEL_PORTS");
    }

    // Start page to programming page and the LiveUpdate page, by Tab, arrows, Enter, Space.
    void wholeWizardWithoutAMouse() {
        work_->Write("fw/v1_10.bin", "x");
        work_->Write("fw/v1_9.bin", "x");
        Start("Pierwszy:fw 1\r\nDrugi:fw 3\r\nTrzeci:fw 4\r\n");

        QCOMPARE(Focus(), QString("VexButton1"));
        QCOMPARE(TabChain(3), (QStringList{"VexButton1", "VexButton2", "Image1", "VexButton1"}));
        // The logo is a link: Enter on it opens the home page.
        Key(Qt::Key_Tab, Qt::ShiftModifier);
        Key(Qt::Key_Return);
        QCOMPARE(desktop_.urls, QStringList{TForm1::kHomePage});
        Key(Qt::Key_Tab);

        // LiveUpdate page: Enter on the focused button; Tab and Shift+Tab leave the log.
        Key(Qt::Key_Return);
        QCOMPARE(form_->CurrentPage(), int(TForm1::kLiveUpdatePage));
        QCOMPARE(Focus(), QString("Memo1"));
        QCOMPARE(TabChain(3), (QStringList{"Memo1", "VexButton7", "VexButton6", "Memo1"}));
        QCOMPARE(TabChain(1, Qt::ShiftModifier), (QStringList{"Memo1", "VexButton6"}));
        QVERIFY(Find<QPlainTextEdit>("Memo1")->toPlainText().isEmpty());  // no tab typed
        Key(Qt::Key_Tab);
        Key(Qt::Key_Tab);
        QCOMPARE(Focus(), QString("VexButton7"));
        Key(Qt::Key_Space);  // POWRÓT
        QCOMPARE(form_->CurrentPage(), int(TForm1::kStartPage));

        // Device-type page: no current row until the first key selects the first row.
        Find<QPushButton>("VexButton2")->setFocus();
        Key(Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(form_->CurrentPage(), int(TForm1::kDeviceTypePage));
        auto* types = Find<QListWidget>("ListBox2");
        QCOMPARE(Focus(), QString("ListBox2"));
        QVERIFY(!types->currentIndex().isValid());
        Key(Qt::Key_Down);
        QCOMPARE(types->selectedItems().size(), 1);
        QCOMPARE(types->currentRow(), 0);
        Key(Qt::Key_Down);
        QCOMPARE(types->currentRow(), 1);
        Key(Qt::Key_Up);
        QCOMPARE(TabChain(2), (QStringList{"ListBox2", "VexButton9", "VexButton10"}));
        Key(Qt::Key_Return);  // DALEJ

        // Firmware page: the sorted list, then Space on DALEJ.
        QCOMPARE(form_->CurrentPage(), int(TForm1::kFirmwarePage));
        QCOMPARE(form_->DeviceKind(), 1);
        auto* firmware = Find<QListWidget>("ListBox1");
        QCOMPARE(Focus(), QString("ListBox1"));
        QCOMPARE(firmware->item(0)->text(), QString("v1_9.bin"));
        Key(Qt::Key_Down);
        QCOMPARE(firmware->selectedItems().value(0)->text(), QString("v1_9.bin"));
        QCOMPARE(TabChain(3), (QStringList{"ListBox1", "Memo3", "VexButton12", "VexButton11"}));
        Key(Qt::Key_Space);

        // Programming page in reading order; Tab leaves the status log both ways.
        QCOMPARE(form_->CurrentPage(), int(TForm1::kProgrammingPage));
        QCOMPARE(Focus(), QString("Memo2"));
        QCOMPARE(TabChain(5), (QStringList{"Memo2", "VexButton13", "ComboBox1", "VexButton15",
                                           "VexButton14", "Memo2"}));
        QCOMPARE(TabChain(1, Qt::ShiftModifier), (QStringList{"Memo2", "VexButton14"}));
        QVERIFY(Find<QPlainTextEdit>("Memo2")->toPlainText().isEmpty());
        QVERIFY(desktop_.boxes.empty());
    }

    // START on a port that does not open: the designed box, with the reason below it in
    // Polish, from what the open returned.
    void openFailureSaysWhy() {
        const fs::path ports = work_->Path() / "ports";
        work_->Write("plik", "x");
        fs::create_directories(ports / "COM3");
        fs::create_symlink(work_->Path() / "plik", ports / "COM1");
        fs::create_symlink("/dev/null", ports / "COM4");
        QCOMPARE(::mkfifo((ports / "COM5").c_str(), 0600), 0);
        fs::create_symlink(work_->Path() / "gone", ports / "COM6");
        qputenv("TANDEL_PORTS", ports.string().c_str());
        Start("Serwer:fw 1\r\n");
        form_->findChild<QListWidget*>("ListBox2")->setCurrentRow(0);
        ClickButton(form_.get(), "VexButton10");
        auto* port = Find<QComboBox>("ComboBox1");
        const QString dir = QString::fromStdString(ports.string());
        const struct {
            QString boxText;
            QString detail;
        } cases[] = {
            {"COM1", "COM1 = " + dir + "/COM1: to nie jest port szeregowy"},
            {"COM2", "COM2: brak takiego portu"},
            {"COM3", "COM3 = " + dir + "/COM3: to jest katalog, a nie port szeregowy"},
            {"COM4", "COM4 = " + dir + "/COM4: to nie jest port szeregowy"},
            {"COM5", "COM5 = " + dir + "/COM5: to nie jest port szeregowy"},
            {"COM6", "COM6: brak takiego portu"},  // a link to nothing maps no port
            {"COM21", PortTextHint("COM21")},       // texts that name no port: what the box takes
            {"xyz", PortTextHint("xyz")},
        };
        for (const auto& c : cases) {
            desktop_.boxes.clear();
            port->setEditText(c.boxText);
            Find<QPushButton>("VexButton14")->setFocus();
            Key(Qt::Key_Return);
            QCOMPARE(desktop_.boxes.size(), size_t(1));
            QCOMPARE(desktop_.boxes[0].text, QString("Błąd otwarcia SerialPort..."));
            QCOMPARE(desktop_.boxes[0].detail, c.detail);
        }
    }

    // The port box names what each COMn is, and shows its whole text in 57 pixels.
    void portBoxHintsAndWidth() {
        int master = -1;
        int slave = -1;
        char name[128] = {};
        QCOMPARE(openpty(&master, &slave, name, nullptr, nullptr), 0);
        fs::create_directory(work_->Path() / "ports");
        fs::create_symlink(name, work_->Path() / "ports" / "COM1");
        qputenv("TANDEL_PORTS", (work_->Path() / "ports").string().c_str());
        Start("");
        auto* box = Find<PortBox>("ComboBox1");
        QCOMPARE(box->width(), 57);
        QCOMPARE(box->itemText(9), QString("COM10"));  // items keep their texts

        const QStringList lines = box->PortsHint().split('\n');
        QCOMPARE(lines.size(), 10);
        QCOMPARE(lines[0], QString("COM1 = ") + QString::fromLocal8Bit(name));
        QCOMPARE(lines[2], QString("COM3: brak takiego portu"));
        box->showPopup();
        QCOMPARE(box->toolTip(), box->TextHint() + "\n\n" + box->PortsHint());
        QCOMPARE(box->itemData(0, Qt::ToolTipRole).toString(), lines[0]);
        box->hidePopup();

        // A path too long for the box: the tooltip names it whole with what it opens, and once
        // the box is left its end shows, however it was edited.
        const QString path = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0";
        box->setFocus();
        box->setEditText(path);
        Key(Qt::Key_Home);
        Find<QPushButton>("VexButton15")->setFocus();
        QCOMPARE(box->lineEdit()->cursorPosition(), path.size());
        QCOMPARE(box->toolTip().section('\n', 0, 0), path + ": brak takiego portu");
        // Its tooltip read again after COM1 has changed leaves the typed text as it is.
        fs::remove(work_->Path() / "ports" / "COM1");
        QHelpEvent tip(QEvent::ToolTip, {1, 1}, box->mapToGlobal(QPoint(1, 1)));
        QApplication::sendEvent(box, &tip);
        QCOMPARE(box->currentText() + box->itemData(0, Qt::ToolTipRole).toString(),
                 path + "COM1: brak takiego portu");

        // The edit field holds "COM10" and a typed "COM20" whole (its margins included).
        const QFontMetrics metrics(box->lineEdit()->font());
        QVERIFY2(box->lineEdit()->width() >= metrics.horizontalAdvance("COM20") + 5,
                 qPrintable(QString::number(box->lineEdit()->width())));
        ::close(slave);
        ::close(master);
    }

    // The question box's standard buttons read as on a Polish desktop, and a screen reader
    // hears what the box asks, whatever its caption.
    void questionButtonsArePolish() {
        QVERIFY(InstallQtPolishTranslation());
        QtDesktopServices desktop;
        QStringList captions;
        QTimer::singleShot(0, [&captions] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) return;
            for (QAbstractButton* b : box->buttons()) captions << b->text().remove('&');
            captions << QAccessible::queryAccessibleInterface(box)->text(QAccessible::Name);
            box->button(QMessageBox::No)->click();
        });
        QVERIFY(!desktop.YesNo("?", "Czy kontynuować ?"));
        captions.sort();
        QCOMPARE(captions, (QStringList{"Nie", "Pytanie: Czy kontynuować ?", "Tak"}));
    }
};

QTEST_MAIN(KeyboardWindowTest)
#include "keyboard_window_test.moc"
