#include <QAccessible>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>
#include <functional>

#include "DesktopServices.h"
#include "PolishTranslation.h"
#include "RunResult.h"
#include "WindowTexts.h"

// The real boxes the window adds, as a screen reader meets them: alerts named by what they are
// about, whatever their caption ("?", "TANDEL"). With TANDEL_BOX_SHOTS set to
// a folder, each box is also saved there as a picture (at the screen's scale).
class BoxesTest : public QObject {
    Q_OBJECT

    struct Seen {
        QString name;
        QAccessible::Role role = QAccessible::NoRole;
    };

    // Shows a box through `show` and looks at it once it is up, then closes it.
    static Seen Look(const QString& tag, const std::function<void()>& show) {
        Seen seen;
        QTimer::singleShot(50, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) return;
            QAccessibleInterface* face = QAccessible::queryAccessibleInterface(box);
            seen = {face->text(QAccessible::Name), face->role()};
            if (const QByteArray dir = qgetenv("TANDEL_BOX_SHOTS"); !dir.isEmpty())
                box->grab().save(QString::fromLocal8Bit(dir) + "/box-" + tag + ".png");
            box->reject();
        });
        show();
        QTest::qWait(100);
        return seen;
    }

  private slots:
    void initTestCase() { InstallQtPolishTranslation(); }  // as the program shows them

    void boxesAreNamedForWhatTheySay() {
        QWidget window;
        window.resize(534, 268);
        window.show();
        QtDesktopServices desktop(&window);
        RunResult damaged;
        damaged.end = RunEnd::Damaged;
        damaged.step = RunStep::Write;
        damaged.frame = 17;
        damaged.reply = 0x91;
        std::unique_ptr<OpenQuestion> open;
        const struct {
            const char* tag;
            std::function<void()> show;
            QString name;
        } cases[] = {
            {"damage", [&] { desktop.Alert("TANDEL", DamageText(damaged)); },
             "Alarm: Urządzenie nie ma teraz działającego oprogramowania"},
            {"close", [&] { open = desktop.Ask("TANDEL", kCloseDuringWriteQuestion, false, [](bool) {}); },
             "Pytanie: Trwa programowanie"},
            {"stop-liveupdate",
             [&] { open = desktop.Ask("TANDEL", kStopLiveUpdateQuestion, false, [](bool) {}); },
             "Pytanie: Czy przerwać aktualizację"},
            {"card-question", [&] { desktop.YesNo("?", "Twoja karta ma wgrane oprogramowanie nr:105.bin czy kontynuować ?"); },
             "Pytanie: Twoja karta"},
            {"init-cfg", [&] {
                 desktop.Error("TANDEL",
                               "Cannot open file \"/home/serwis/TANDEL/init.cfg\". No such file or directory.",
                               MissingInitCfgHint("/home/serwis/TANDEL/init.cfg",
                                                  "/usr/share/tandel/init.cfg.example"));
             }, "Błąd: Cannot open file"},
            {"network", [&] {
                 desktop.Error("TANDEL", "Socket Error # 111\nConnection refused.",
                               NetworkFailureHint("http://liveupdate.quorvant.example/liveupdate/pelta/lista.txt",
                                                  "Connection refused."));
             }, "Błąd: Socket Error # 111"},
            {"no-firmware", [&] {
                 desktop.Information("Informacja",
                                     "Proszę wybrać wersje oprogramowania do zaktualizownia urządzenia !!!",
                                     NoFirmwareHint("/home/serwis/TANDEL/pelta"));
             }, "Informacja: Proszę wybrać wersje"},
            {"no-device-type", [&] {
                 desktop.Information("Informacja", "Proszę wybrać typ urządzenia !!!",
                                     NoDeviceTypeHint("/home/serwis/TANDEL/init.cfg"));
             }, "Informacja: Proszę wybrać typ"},
            {"port-text", [&] { desktop.Message("Błąd otwarcia SerialPort...", PortTextHint("xyz")); },
             "Komunikat: Błąd otwarcia SerialPort..."},
        };
        for (const auto& c : cases) {
            const Seen seen = Look(c.tag, c.show);
            QVERIFY2(seen.name.startsWith(c.name) && seen.role == QAccessible::AlertMessage,
                     qPrintable(QString(c.tag) + ": " + seen.name));
            open.reset();
        }
    }
};

QTEST_MAIN(BoxesTest)
#include "boxes_test.moc"
