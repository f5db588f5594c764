#pragma once

#include <QWidget>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Clock.h"
#include "FormPages.h"
#include "HttpClient.h"
#include "TSerialPortDriver.h"
#include "UpdateRun.h"

class DesktopServices;
class InputDeferral;
class OpenQuestion;
class LiveUpdateWindowHost;
class ProgrammingHost;
class SerialBackend;

// The program's one window: its five wizard pages (built by FormPages), the program-wide
// state and the handlers that connect the buttons to the work kept in the other folders.
class TForm1 : public QWidget, private FormPages {
    Q_OBJECT
  public:
    // Page indices of the page set.
    using FormPages::Page;
    using enum FormPages::Page;

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

    // Shows a failure that escaped a handler in the error box "TANDEL", with `hint` (what to
    // do, in Polish) below the text when there is one.
    void ShowFailure(const QString& text, const QString& hint = {});

  protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void FormActivate();
    void StartUpWork();
    void ShowPage(Page page);
    void LiveUpdateButtonClick();
    void ChooseDeviceType();
    void ChooseFirmwareVersion();
    void OpenHomePage();
    void LiveUpdateStart();
    // POWRÓT of the LiveUpdate page: during a run it asks whether to stop the run.
    void LiveUpdateBack();
    void IdHTTP1Status(THttpStatus status);
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
    void Guarded(Handler&& handler, const QString& hint = {});

    DesktopServices& desktop_;
    Clock& clock_;
    TSerialPortDriver dane_;
    InputDeferral* deferral_;  // child of the window
    HttpClient http_;
    std::unique_ptr<LiveUpdateWindowHost> liveUpdateLog_;
    std::unique_ptr<ProgrammingHost> statusLog_;
    std::unique_ptr<UpdateRun> run_;
    RunResult lastRun_;
    bool closeWanted_ = false;
    // The question asked during a run (stop the LiveUpdate, close after the erase); it goes
    // away with the run.
    std::unique_ptr<OpenQuestion> question_;

    uint8_t deviceKind_ = 0;
    std::string firmwareFolder_;
    std::string deviceType_;  // the chosen line as the list shows it, for the journal
    bool stopRequested_ = false;
    bool activated_ = false;
    std::vector<std::string> deviceLines_;  // init.cfg lines as stored, one per ListBox2 item
};
