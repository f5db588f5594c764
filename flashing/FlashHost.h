#pragma once

#include <string>

class TSerialPortDriver;
class Clock;

// What the boot-mode entries and programming sequences need from the window that runs
// them. The main window implements it; tests implement it with a recording fake.
// Texts are UTF-8.
class FlashHost {
  public:
    virtual ~FlashHost() = default;

    // The window's serial port driver `dane`.
    virtual TSerialPortDriver& Dane() = 0;
    // Sleeps and reply-wait bounds go by this clock (virtual time in tests).
    virtual Clock& Time() = 0;

    // Status log `Memo2`.
    virtual void LogClear() = 0;
    virtual void LogAppend(const std::string& line) = 0;

    // Progress bar `prog`.
    virtual void SetProgressMax(int maximum) = 0;
    virtual void SetProgress(int position) = 0;

    // The two passes below only process events: BootLink holds the driver's poll around every
    // pass it makes inside a wait or a pause, so that no awaited byte is swept.
    //
    // One pass of the window's processing of pending messages (STOP, repaint).
    virtual void ProcessMessages() = 0;
    // The paint-only pass: the window handles the events that are not user input (paint,
    // expose, the window manager's ping, clipboard requests, timers); mouse and keyboard input
    // wait, in order, for the next ProcessMessages. A run calls it at least every 50 ms
    // wherever it blocks longer.
    virtual void PaintOnlyPass() = 0;

    // The window is being closed: a run in progress ends as soon as it can (its pauses end
    // at once; StopRequested reads true from now on, whoever clears it).
    virtual bool Closing() const = 0;

    // Program-wide `StopRequested`.
    virtual bool StopRequested() const = 0;
    virtual void SetStopRequested(bool value) = 0;

    // The four selections below are read once per run, when START begins it
    // (BootLink::TakeSelection); the run never asks again.
    // Text of the port box `ComboBox1`.
    virtual std::string PortBoxText() = 0;
    // Base directory (current working directory, read afresh).
    virtual std::string BaseDirectory() = 0;
    // `FirmwareFolder` as its name on disk.
    virtual std::string FirmwareFolder() = 0;
    // Text of the selected `ListBox1` entry; empty when none is selected.
    virtual std::string SelectedFirmware() = 0;

    // Plain message window ("Błąd otwarcia SerialPort...").
    virtual void ShowMessage(const std::string& text) = 0;
    // The message window of a port that did not open, with the reason below the text
    // (empty when unknown).
    virtual void ShowOpenFailure(const std::string& text, const std::string& reason) = 0;
    // Question box with Yes and No and the question icon; true for Yes.
    virtual bool AskYesNo(const std::string& caption, const std::string& text) = 0;
};
