#pragma once

#include <QLabel>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Clock.h"
#include "HttpClient.h"
#include "TSerialPortDriver.h"
#include "UpdateRun.h"

class DesktopServices;
class InputDeferral;
class SerialBackend;
class QComboBox;
class QGroupBox;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QStackedWidget;

// A picture that reports clicks (the start page's logo).
class ClickableImage : public QLabel {
    Q_OBJECT
  public:
    using QLabel::QLabel;
  signals:
    void clicked();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
};

// The program's one window: the five wizard pages, their controls, the program-wide state
// and the handlers that connect the buttons to the work kept in the other folders.
class TForm1 : public QWidget {
    Q_OBJECT
  public:
    // Page indices of the page set.
    enum Page {
        kStartPage = 0,
        kLiveUpdatePage = 1,
        kFirmwarePage = 2,
        kProgrammingPage = 3,
        kDeviceTypePage = 4
    };

    static constexpr int kClientWidth = 534;
    static constexpr int kDesignedClientHeight = 282;
    static constexpr int kHeightReduction = 14;
    static constexpr const char* kHomePage = "http://www.quorvant.example/";

    // What the window works with: its boxes and shell, the serial ports and the clock that
    // times the serial link (virtual time in tests).
    struct Services {
        DesktopServices& desktop;
        SerialBackend& serialPorts;
        Clock& clock;
    };

    explicit TForm1(Services services, QWidget* parent = nullptr);
    ~TForm1() override;

    // Program-wide state.
    uint8_t DeviceKind() const { return deviceKind_; }
    const std::string& FirmwareFolderBytes() const { return firmwareFolder_; }  // CP1250
    bool StopRequested() const { return stopRequested_; }
    int CurrentPage() const;

    // The serial port driver `dane`.
    TSerialPortDriver& dane() { return dane_; }
    // The HTTP client `IdHTTP1` of the LiveUpdate run.
    HttpClient& IdHTTP1() { return http_; }
    // The programming run behind START and STOP, and how the last one ended.
    UpdateRun& Run() { return *run_; }
    const RunResult& LastRun() const { return lastRun_; }

    // Shows a failure that escaped a handler in the error box "TANDEL".
    void ShowFailure(const QString& text);

  protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void BuildStartPage(QWidget* page);
    void BuildLiveUpdatePage(QWidget* page);
    void BuildFirmwarePage(QWidget* page);
    void BuildProgrammingPage(QWidget* page);
    void BuildDeviceTypePage(QWidget* page);
    void SetPageSetTop(int top);

    void FormActivate();
    void StartUpWork();
    void ShowPage(Page page);
    void LiveUpdateButtonClick();
    void ChooseDeviceType();
    void ChooseFirmwareVersion();
    void OpenHomePage();
    void LiveUpdateStart();
    void IdHTTP1Status(int code);
    void ProgrammingStart();
    void ProgrammingStop();
    void AfterRun();
    // The designed message pass: input held back by the paint-only passes first, then
    // everything pending.
    void ProcessMessages();
    // The paint-only pass: everything pending but the user's input (kept for the next
    // ProcessMessages).
    void PaintOnlyPass();
    void LoadFirmwareList();

    // Runs a handler; a failure that escapes it ends the handler with the error box.
    template <typename Handler>
    void Guarded(Handler&& handler);

    DesktopServices& desktop_;
    Clock& clock_;
    TSerialPortDriver dane_;
    InputDeferral* deferral_;  // child of the window
    HttpClient http_;
    class LiveUpdateLog;
    std::unique_ptr<LiveUpdateLog> liveUpdateLog_;
    class StatusLog;
    std::unique_ptr<StatusLog> statusLog_;
    std::unique_ptr<UpdateRun> run_;
    RunResult lastRun_;
    bool closeWanted_ = false;
    bool liveUpdateRunning_ = false;

    uint8_t deviceKind_ = 0;
    std::string firmwareFolder_;
    std::string deviceType_;  // the chosen line as the list shows it, for the journal
    bool stopRequested_ = false;
    bool activated_ = false;
    std::vector<std::string> deviceLines_;  // init.cfg lines as stored, one per ListBox2 item

    QStackedWidget* PageControl1 = nullptr;
    // Start page.
    ClickableImage* Image1 = nullptr;
    QPushButton* VexButton1 = nullptr;
    QPushButton* VexButton2 = nullptr;
    // LiveUpdate page.
    QLabel* Label6 = nullptr;
    QLabel* Label5 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QPushButton* VexButton6 = nullptr;
    QPushButton* VexButton7 = nullptr;
    // Firmware-version page.
    QLabel* Label2 = nullptr;
    QListWidget* ListBox1 = nullptr;
    QLabel* Label1 = nullptr;
    QPlainTextEdit* Memo3 = nullptr;
    QPushButton* VexButton12 = nullptr;
    QPushButton* VexButton11 = nullptr;
    // Programming page.
    QLabel* Label3 = nullptr;
    QPlainTextEdit* Memo2 = nullptr;
    QProgressBar* prog = nullptr;
    QPushButton* VexButton13 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QPushButton* VexButton15 = nullptr;
    QPushButton* VexButton14 = nullptr;
    // Device-type page.
    QGroupBox* GroupBox1 = nullptr;
    QListWidget* ListBox2 = nullptr;
    QPushButton* VexButton9 = nullptr;
    QPushButton* VexButton10 = nullptr;
};
