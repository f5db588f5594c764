#include "DesktopServices.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>

#include "DesktopShell.h"

namespace {

// What a screen reader announces for a box: its kind and its first line, since the designed
// captions ("?", "TANDEL") say neither; the whole text is its description.
void NameForScreenReaders(QMessageBox& box, const QString& kind) {
    const QString text = box.text() + (box.informativeText().isEmpty()
                                           ? QString()
                                           : QStringLiteral("\n") + box.informativeText());
    box.setAccessibleName(kind + QStringLiteral(": ") + box.text().section(u'\n', 0, 0));
    box.setAccessibleDescription(text);
}

void ShowBox(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
             const QString& detail, const QString& kind) {
    QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
    // Shown at once rather than behind a details button: it is the reason the user needs.
    box.setInformativeText(detail);
    NameForScreenReaders(box, kind);
    box.exec();
}

class QtOpenQuestion final : public OpenQuestion {
  public:
    explicit QtOpenQuestion(QMessageBox* box) : box_(box) {}
    ~QtOpenQuestion() override {
        if (!box_) return;
        QObject::disconnect(box_, nullptr, nullptr, nullptr);
        box_->hide();
        box_->deleteLater();  // may be inside the box's own signal
    }

  private:
    QPointer<QMessageBox> box_;
};

}  // namespace

void QtDesktopServices::Information(const QString& title, const QString& text,
                                    const QString& detail) {
    ShowBox(parent_, QMessageBox::Warning, title, text, detail, title);
}

void QtDesktopServices::Error(const QString& title, const QString& text, const QString& detail) {
    ShowBox(parent_, QMessageBox::Critical, title, text, detail, QStringLiteral("Błąd"));
}

void QtDesktopServices::Alert(const QString& title, const QString& text) {
    // Qt announces a message box as an alert; its name says this one is the device's.
    ShowBox(parent_, QMessageBox::Critical, title, text, {}, QStringLiteral("Alarm"));
}

void QtDesktopServices::Message(const QString& text, const QString& detail) {
    ShowBox(parent_, QMessageBox::NoIcon, QApplication::applicationName(), text, detail,
            QStringLiteral("Komunikat"));
}

bool QtDesktopServices::YesNo(const QString& caption, const QString& text) {
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No,
                    parent_);
    box.setDefaultButton(QMessageBox::Yes);
    NameForScreenReaders(box, QStringLiteral("Pytanie"));
    return box.exec() == QMessageBox::Yes;
}

std::unique_ptr<OpenQuestion> QtDesktopServices::Ask(const QString& caption, const QString& text,
                                                     bool yesByDefault,
                                                     std::function<void(bool yes)> answered) {
    auto* box = new QMessageBox(QMessageBox::Question, caption, text,
                                QMessageBox::Yes | QMessageBox::No, parent_);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setDefaultButton(yesByDefault ? QMessageBox::Yes : QMessageBox::No);
    NameForScreenReaders(*box, QStringLiteral("Pytanie"));
    QObject::connect(box, &QMessageBox::finished, box, [answered = std::move(answered)](int code) {
        answered(code == QMessageBox::Yes);
    });
    box->open();
    return std::make_unique<QtOpenQuestion>(box);
}

void QtDesktopServices::OpenUrl(const QString& url) {
    OpenInBrowser(url);
}
