#pragma once

#include <string>
#include <utility>
#include <vector>

#include "LiveUpdate.h"
#include "WindowPasses.h"

class QPlainTextEdit;

// Thrown through a LiveUpdate run whose window is being closed, to end the run at once.
struct WindowClosing {};

// The LiveUpdate page as the LiveUpdate run sees it.
class LiveUpdateWindowHost final : public LiveUpdateHost {
  public:
    // `log` is the page's log `Memo1`, `deviceLines` the window's init.cfg lines; both outlive
    // the adapter.
    LiveUpdateWindowHost(QPlainTextEdit& log, const std::vector<std::string>& deviceLines,
                         WindowPasses passes)
        : log_(log), deviceLines_(deviceLines), passes_(std::move(passes)) {}

    void LogClear() override;
    void LogAppend(const std::string& line) override;
    void ProcessMessages() override { passes_.processMessages(); }
    // Runs between the slices of every HTTP request: a close asked for meanwhile ends the
    // request and the run at once (WindowClosing).
    void PaintOnlyPass() override;
    std::vector<std::string> DeviceTypeLines() override { return deviceLines_; }
    std::string BaseDirectory() override;
    // Set by the page's POWRÓT, cleared when a run starts.
    bool StopRequested() override { return stopRequested_; }
    void SetStopRequested(bool stop) { stopRequested_ = stop; }

  private:
    QPlainTextEdit& log_;
    const std::vector<std::string>& deviceLines_;
    WindowPasses passes_;
    bool stopRequested_ = false;
};
