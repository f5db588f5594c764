#pragma once

#include <string>
#include <utility>

#include "FlashHost.h"
#include "WindowPasses.h"

class DesktopServices;
class QComboBox;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;

// The programming page as the boot-mode entries and programming sequences see it.
class ProgrammingHost final : public FlashHost {
  public:
    // What the adapter is handed; all of it outlives the adapter.
    struct Parts {
        TSerialPortDriver& dane;
        Clock& clock;
        DesktopServices& desktop;
        QPlainTextEdit& log;                // Memo2
        QProgressBar& progress;             // prog
        QComboBox& portBox;                 // ComboBox1
        QListWidget& firmwareList;          // ListBox1
        const std::string& firmwareFolder;  // `FirmwareFolder`, CP1250
        bool& stopRequested;                // `StopRequested`
        WindowPasses passes;
    };

    explicit ProgrammingHost(Parts parts) : parts_(std::move(parts)) {}

    TSerialPortDriver& Dane() override { return parts_.dane; }
    Clock& Time() override { return parts_.clock; }
    void LogClear() override;
    void LogAppend(const std::string& line) override;
    void SetProgressMax(int maximum) override;
    void SetProgress(int position) override;
    void ProcessMessages() override { parts_.passes.processMessages(); }
    void PaintOnlyPass() override { parts_.passes.paintOnlyPass(); }
    bool Closing() const override { return parts_.passes.closing(); }
    // A closing window stops the run for good: the entries that clear the flag before they
    // wait must not wait on.
    bool StopRequested() const override { return parts_.stopRequested || Closing(); }
    void SetStopRequested(bool value) override { parts_.stopRequested = value; }
    std::string PortBoxText() override;
    std::string BaseDirectory() override;
    std::string FirmwareFolder() override;
    std::string SelectedFirmware() override;
    void ShowMessage(const std::string& text) override;
    // The window gives the reason in Polish, from what the open itself returned; the entry's
    // reason (the command line's English) only says whether there is one.
    void ShowOpenFailure(const std::string& text, const std::string& reason) override;
    bool AskYesNo(const std::string& caption, const std::string& text) override;

  private:
    Parts parts_;
};
