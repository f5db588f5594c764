#pragma once

#include <QString>

// The modal boxes and the shell the window uses. The program answers them with real
// Qt message boxes and the desktop's URL handler; window tests answer them in code.
class DesktopServices {
  public:
    virtual ~DesktopServices() = default;
    // "Informacja" validation box: exclamation icon, OK.
    virtual void Information(const QString& title, const QString& text) = 0;
    // Error box of a failed handler: error icon, OK.
    virtual void Error(const QString& title, const QString& text) = 0;
    // Plain message window with the application's title and OK; a non-empty `detail` is
    // shown below the text.
    virtual void Message(const QString& text, const QString& detail) = 0;
    // Question with Yes and No and the question icon; true for Yes.
    virtual bool YesNo(const QString& caption, const QString& text) = 0;
    // Opens a web address in the browser; the result is not looked at.
    virtual void OpenUrl(const QString& url) = 0;
};

// The real boxes, owned by `parent`.
class QWidget;
class QtDesktopServices final : public DesktopServices {
  public:
    explicit QtDesktopServices(QWidget* parent = nullptr) : parent_(parent) {}
    void SetParent(QWidget* parent) { parent_ = parent; }
    void Information(const QString& title, const QString& text) override;
    void Error(const QString& title, const QString& text) override;
    void Message(const QString& text, const QString& detail) override;
    bool YesNo(const QString& caption, const QString& text) override;
    void OpenUrl(const QString& url) override;

  private:
    QWidget* parent_;
};
