#pragma once

#include <QPushButton>
#include <QString>
#include <QStringList>
#include <chrono>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "DesktopServices.h"
#include "TForm1.h"

// Answers the window's boxes without a person: questions with Yes, everything else recorded
// so that a run that showed a box can be told apart from a clean one.
class UnattendedDesktop final : public DesktopServices {
  public:
    void Information(const QString& title, const QString& text, const QString&) override {
        Note(title, text);
    }
    void Error(const QString& title, const QString& text, const QString&) override {
        Note(title, text);
    }
    void Alert(const QString& title, const QString& text) override { Note(title, text); }
    void Message(const QString& text, const QString&) override { Note("TANDEL", text); }
    bool YesNo(const QString&, const QString&) override { return true; }
    std::unique_ptr<OpenQuestion> Ask(const QString&, const QString&, bool,
                                      std::function<void(bool)> answered) override {
        answered(true);
        return nullptr;
    }
    void OpenUrl(const QString&) override {}

    const QStringList& Boxes() const { return boxes_; }

  private:
    void Note(const QString& title, const QString& text) { boxes_.push_back(title + ": " + text); }
    QStringList boxes_;
};

// The program's window on the real serial ports and the system clock, shown and activated
// (its start-up work done), driven through its controls as a user would.
class BenchWindow {
  public:
    BenchWindow();
    ~BenchWindow();

    TForm1& Form() { return *form_; }
    const UnattendedDesktop& Desktop() const { return desktop_; }

    template <typename T>
    T* Find(const char* name) {
        auto* child = form_->findChild<T*>(name);
        if (child == nullptr) throw std::runtime_error(std::string("no control ") + name);
        return child;
    }
    // A left click on the button; returns when its handler has returned.
    void Click(const char* name);
    // The lines of a log box (Memo1, Memo2).
    QStringList Lines(const char* memo);

  private:
    UnattendedDesktop desktop_;
    std::unique_ptr<TForm1> form_;
};

// Processor time and peak memory of this process.
struct Usage {
    double cpuMs = 0;  // user + system
    long maxRssKib = 0;
    static Usage Now();
};

using BenchClock = std::chrono::steady_clock;
inline double MsSince(BenchClock::time_point start) {
    return std::chrono::duration<double, std::milli>(BenchClock::now() - start).count();
}

// One measured figure on stdout as "name value", for bench/run to collect.
void Report(const std::string& name, double value);

// Failure of a run: the message goes to stderr and the program exits non-zero.
[[noreturn]] void Fail(const std::string& what);
