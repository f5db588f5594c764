#include <QAccessible>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <tuple>

#include "DesktopServices.h"
#include "PolishTranslation.h"
#include "RunResult.h"
#include "WindowTexts.h"

// The real boxes as a screen reader meets them: alerts named by what they are about, whatever
// their caption ("?", "TANDEL"). With TANDEL_BOX_SHOTS set to a folder, each is saved there as
// a picture at the screen's scale.
class BoxesTest : public QObject {
    Q_OBJECT

  private slots:
    void boxesAreNamedForWhatTheySay() {
        InstallQtPolishTranslation();
        QWidget window;
        window.show();
        QtDesktopServices desktop(&window);
        RunResult damaged;
        std::tie(damaged.end, damaged.step, damaged.reply, damaged.frame) =
            std::tuple(RunEnd::Damaged, RunStep::Write, Byte{0x91}, 17);
        std::unique_ptr<OpenQuestion> open;
        const std::pair<std::function<void()>, QString> cases[] = {
            {[&] { desktop.Alert("TANDEL", DamageText(damaged)); }, "Alarm: Urządzenie nie ma"},
            {[&] { open = desktop.Ask("TANDEL", kCloseDuringWriteQuestion, false, [](bool) {}); },
             "Pytanie: Trwa programowanie"},
            {[&] { desktop.YesNo("?", "Twoja karta ma wgrane oprogramowanie nr:1.bin czy kontynuować ?"); },
             "Pytanie: Twoja karta"},
            {[&] { desktop.Message("Błąd otwarcia SerialPort...", PortTextHint("xyz")); },
             "Komunikat: Błąd otwarcia SerialPort..."},
        };
        int shot = 0;
        for (const auto& [show, name] : cases) {
            QString seen;
            QTimer::singleShot(50, [&] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                QAccessibleInterface* face = QAccessible::queryAccessibleInterface(box);
                if (face->role() == QAccessible::AlertMessage) seen = face->text(QAccessible::Name);
                if (const QByteArray dir = qgetenv("TANDEL_BOX_SHOTS"); !dir.isEmpty())
                    box->grab().save(QString("%1/box-%2.png").arg(dir).arg(++shot));
                box->reject();
            });
            show();
            QTest::qWait(100);
            open.reset();
            QVERIFY2(seen.startsWith(name), qPrintable(seen));
        }
    }
};

QTEST_MAIN(BoxesTest)
#include "boxes_test.moc"
