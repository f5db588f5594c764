#pragma once

#include <string>
#include <vector>

#include "CliServices.h"
#include "FlashHost.h"
#include "TSerialPortDriver.h"

class Report;
class UpdateRun;

// The flashing host of the terminal: the log goes to the report, messages are pumped through
// QCoreApplication (the driver's poll timer runs there), a SIGINT, SIGTERM or SIGHUP is the STOP
// click, and the question is asked on the terminal unless answered beforehand. The driver
// works on the ports of the services given, timed by their clock.
class TerminalFlashHost final : public FlashHost {
  public:
    // What the command line chose, taken as the window's selection.
    struct Selection {
        std::string folder;    // FirmwareFolder as its name on disk
        std::string firmware;  // the firmware list entry
        std::string port;      // the port box text
        bool yes = false;      // the question is answered Yes without asking
        std::string base;      // the base directory the firmware is loaded from
    };

    TerminalFlashHost(Report& report, Selection selection, const CliServices& services);

    // The run whose STOP a signal triggers.
    void SetRun(UpdateRun* run) { run_ = run; }
    // Carries out the STOP action for a signal that came since the last pass, once.
    void ActOnSignal();

    // With --verbose: tells the report what the line did since the last call (the port
    // opened with its settings or closed, the bytes sent and received).
    void NoteLine();

    // What the run said, for its outcome.
    const std::vector<std::string>& Lines() const { return lines_; }
    const std::vector<std::string>& Messages() const { return messages_; }
    bool AnsweredNo() const { return answeredNo_; }

    TSerialPortDriver& Dane() override { return dane_; }
    Clock& Time() override;
    void LogClear() override;
    void LogAppend(const std::string& line) override;
    void SetProgressMax(int maximum) override;
    void SetProgress(int position) override;
    void ProcessMessages() override;
    void PaintOnlyPass() override;
    // No window to close: a signal acts as STOP at the next message pass.
    bool Closing() const override { return false; }
    bool StopRequested() const override { return stopRequested_; }
    void SetStopRequested(bool value) override { stopRequested_ = value; }
    std::string PortBoxText() override { return selection_.port; }
    std::string BaseDirectory() override;
    std::string FirmwareFolder() override { return selection_.folder; }
    std::string SelectedFirmware() override { return selection_.firmware; }
    void ShowMessage(const std::string& text) override;
    void ShowOpenFailure(const std::string& text, const std::string& reason) override;
    bool AskYesNo(const std::string& caption, const std::string& text) override;

  private:
    Report& report_;
    Selection selection_;
    CliServices services_;
    TSerialPortDriver dane_;
    UpdateRun* run_ = nullptr;
    bool stopRequested_ = false;
    bool signalActed_ = false;
    bool answeredNo_ = false;
    std::vector<std::string> lines_;
    std::vector<std::string> messages_;
    bool lineOpen_ = false;
    uint64_t sentNoted_ = 0;
    uint64_t receivedNoted_ = 0;
};

// Reads a Yes or No from the terminal on `in` after printing `question` on `err`: "t", "tak",
// "y" or "yes" in any case is Yes; anything else, the end of the input or a stop signal is No.
bool AskOnTerminal(const std::string& question, std::FILE* err, int in,
                   const std::string& tag = {});
