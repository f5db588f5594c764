#pragma once

#include <QString>
#include <functional>
#include <memory>

// A question shown without waiting for its answer: the caller goes on while it is open.
// Destroying it closes a question not yet answered, and its answer is then never given.
class OpenQuestion {
  public:
    virtual ~OpenQuestion() = default;
};

// The modal boxes and the shell the window uses. The program answers them with real
// Qt message boxes and the desktop's URL handler; window tests answer them in code.
// A non-empty `detail` is shown below the designed text (the Polish hint of what to do).
class DesktopServices {
  public:
    virtual ~DesktopServices() = default;
    // "Informacja" validation box: exclamation icon, OK.
    virtual void Information(const QString& title, const QString& text,
                             const QString& detail = {}) = 0;
    // Error box of a failed handler: error icon, OK.
    virtual void Error(const QString& title, const QString& text, const QString& detail = {}) = 0;
    // An error box about the device that needs attention now, announced as an alert.
    virtual void Alert(const QString& title, const QString& text) = 0;
    // Plain message window with the application's title and OK.
    virtual void Message(const QString& text, const QString& detail) = 0;
    // Question with Yes and No and the question icon; true for Yes.
    virtual bool YesNo(const QString& caption, const QString& text) = 0;
    // The same question without waiting: `answered` gets true for Yes once the user answers.
    // `yesByDefault` false makes No the button that Enter presses.
    virtual std::unique_ptr<OpenQuestion> Ask(const QString& caption, const QString& text,
                                              bool yesByDefault,
                                              std::function<void(bool yes)> answered) = 0;
    // Opens a web address in the browser; the result is not looked at.
    virtual void OpenUrl(const QString& url) = 0;
};

// The real boxes, owned by `parent`. Every box has an accessible name that says what kind of
// box it is and what it is about, whatever its caption.
class QWidget;
class QtDesktopServices final : public DesktopServices {
  public:
    explicit QtDesktopServices(QWidget* parent = nullptr) : parent_(parent) {}
    void SetParent(QWidget* parent) { parent_ = parent; }
    void Information(const QString& title, const QString& text, const QString& detail) override;
    void Error(const QString& title, const QString& text, const QString& detail) override;
    void Alert(const QString& title, const QString& text) override;
    void Message(const QString& text, const QString& detail) override;
    bool YesNo(const QString& caption, const QString& text) override;
    std::unique_ptr<OpenQuestion> Ask(const QString& caption, const QString& text,
                                      bool yesByDefault,
                                      std::function<void(bool yes)> answered) override;
    void OpenUrl(const QString& url) override;

  private:
    QWidget* parent_;
};
