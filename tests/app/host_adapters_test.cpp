#include <QComboBox>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QtTest>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FakeDesktop.h"
#include "LiveUpdateWindowHost.h"
#include "WindowTexts.h"
#include "ProgrammingHost.h"
#include "SimulatedBackend.h"
#include "TSerialPortDriver.h"

namespace {

QString Yes(bool value) {
    return value ? "yes" : "no";
}

// The parts of a window that the two adapters are handed, with the window's passes recorded.
struct Window {
    FakeDesktop desktop;
    VirtualClock clock;
    SimulatedBackend ports{clock};
    TSerialPortDriver dane{ports, clock};
    QPlainTextEdit log;
    QProgressBar progress;
    QComboBox portBox;
    QListWidget firmwareList;
    std::string firmwareFolder;
    bool stopRequested = false;
    bool closing = false;
    std::vector<std::string> deviceLines;
    QStringList passes;  // "message" and "paint", in the order they ran

    WindowPasses Passes() {
        return {[this] { passes << "message"; }, [this] { passes << "paint"; },
                [this] { return closing; }};
    }
    ProgrammingHost programming{{.dane = dane,
                                 .clock = clock,
                                 .desktop = desktop,
                                 .log = log,
                                 .progress = progress,
                                 .portBox = portBox,
                                 .firmwareList = firmwareList,
                                 .firmwareFolder = firmwareFolder,
                                 .stopRequested = stopRequested,
                                 .passes = Passes()}};
    LiveUpdateWindowHost liveUpdate{log, deviceLines, Passes()};

    QString Boxes() const {
        QStringList shown;
        for (const auto& box : desktop.boxes)
            shown << QStringList{box.kind, box.title, box.text, box.detail}.join('|');
        return shown.join('\n');
    }
};

struct Case {
    const char* what;
    std::function<QString(Window&)> act;  // what the window shows afterwards
    QString expected;
};

}  // namespace

// Each adapter reads and writes the controls and state it was handed, as the window's own
// code did before it: the runs see the window only through them.
class HostAdaptersTest : public QObject {
    Q_OBJECT

  private slots:
    void adaptersReachTheWindowOnlyThroughWhatTheyAreHanded() {
        const Case cases[] = {
            {"programming log takes UTF-8 lines",
             [](Window& w) {
                 w.programming.LogAppend("Błąd otwarcia");
                 w.programming.LogAppend("x");
                 return w.log.toPlainText();
             },
             "Błąd otwarcia\nx"},
            {"programming log cleared",
             [](Window& w) {
                 w.log.setPlainText("old");
                 w.programming.LogClear();
                 return w.log.toPlainText();
             },
             ""},
            {"progress bar",
             [](Window& w) {
                 w.programming.SetProgressMax(220);
                 w.programming.SetProgress(17);
                 return QString("%1/%2").arg(w.progress.value()).arg(w.progress.maximum());
             },
             "17/220"},
            {"port box text as typed",
             [](Window& w) {
                 w.portBox.setEditable(true);
                 w.portBox.addItem("COM1");
                 w.portBox.setEditText("/dev/ttyUSB0");
                 return QString::fromStdString(w.programming.PortBoxText());
             },
             "/dev/ttyUSB0"},
            {"no firmware selected",
             [](Window& w) {
                 w.firmwareList.addItems({"a.bin", "b.bin"});
                 return QString::fromStdString(w.programming.SelectedFirmware());
             },
             ""},
            {"selected firmware",
             [](Window& w) {
                 w.firmwareList.addItems({"a.bin", "b.bin"});
                 w.firmwareList.setCurrentRow(1);
                 return QString::fromStdString(w.programming.SelectedFirmware());
             },
             "b.bin"},
            {"firmware folder as named on disk",
             [](Window& w) {
                 w.firmwareFolder = "\xBF\xF3\xB3w";
                 return QString::fromStdString(w.programming.FirmwareFolder());
             },
             "żółw"},
            {"STOP flag is the window's",
             [](Window& w) {
                 w.programming.SetStopRequested(true);
                 const QString set = Yes(w.stopRequested) + Yes(w.programming.StopRequested());
                 w.stopRequested = false;
                 return set + Yes(w.programming.StopRequested());
             },
             "yesyesno"},
            {"a closing window reads as STOP whoever clears the flag",
             [](Window& w) {
                 w.closing = true;
                 w.programming.SetStopRequested(false);
                 return Yes(w.programming.Closing()) + Yes(w.programming.StopRequested());
             },
             "yesyes"},
            {"message box, below it what the port box takes",
             [](Window& w) {
                 w.portBox.setEditable(true);
                 w.portBox.setEditText("xyz");
                 w.programming.ShowMessage("Błąd otwarcia SerialPort...");
                 return w.Boxes();
             },
             "message|TANDEL|Błąd otwarcia SerialPort...|" + PortTextHint("xyz")},
            {"open failure without a reason has no detail",
             [](Window& w) {
                 w.programming.ShowOpenFailure("Błąd otwarcia SerialPort...", "");
                 return w.Boxes();
             },
             "message|TANDEL|Błąd otwarcia SerialPort...|"},
            {"question answered No",
             [](Window& w) {
                 w.desktop.answerYes = false;
                 const bool yes = w.programming.AskYesNo("Pytanie", "Czy?");
                 return Yes(yes) + "|" + w.Boxes();
             },
             "no|question|Pytanie|Czy?|"},
            {"programming passes",
             [](Window& w) {
                 w.programming.ProcessMessages();
                 w.programming.PaintOnlyPass();
                 return w.passes.join(' ');
             },
             "message paint"},
            {"LiveUpdate log",
             [](Window& w) {
                 w.log.setPlainText("old");
                 w.liveUpdate.LogClear();
                 w.liveUpdate.LogAppend("Pobieram listę");
                 return w.log.toPlainText();
             },
             "Pobieram listę"},
            {"device-type lines as the window holds them when asked",
             [](Window& w) {
                 w.deviceLines = {"A:fa 1"};
                 w.deviceLines.push_back("B:fb 2");
                 const auto lines = w.liveUpdate.DeviceTypeLines();
                 return QString::fromStdString(lines.front() + "," + lines.back());
             },
             "A:fa 1,B:fb 2"},
            {"paint-only pass with no close waiting",
             [](Window& w) {
                 w.liveUpdate.PaintOnlyPass();
                 return w.passes.join(' ');
             },
             "paint"},
            {"a close ends the LiveUpdate run after the paint-only pass",
             [](Window& w) {
                 w.closing = true;
                 try {
                     w.liveUpdate.PaintOnlyPass();
                 } catch (const WindowClosing&) {
                     w.passes << "closing";
                 }
                 return w.passes.join(' ');
             },
             "paint closing"},
            {"the message pass leaves a waiting close to the run's next pass",
             [](Window& w) {
                 w.closing = true;
                 w.liveUpdate.ProcessMessages();
                 return w.passes.join(' ');
             },
             "message"},
        };
        for (const Case& c : cases) {
            Window window;
            const QString shown = c.act(window);
            QVERIFY2(shown == c.expected,
                     qPrintable(QString("%1: \"%2\", not \"%3\"").arg(c.what, shown, c.expected)));
        }
    }
};

QTEST_MAIN(HostAdaptersTest)
#include "host_adapters_test.moc"
