#include "DesktopServices.h"

#include <QApplication>
#include <QMessageBox>

#include "DesktopShell.h"

void QtDesktopServices::Information(const QString& title, const QString& text) {
    QMessageBox::warning(parent_, title, text, QMessageBox::Ok);
}

void QtDesktopServices::Error(const QString& title, const QString& text) {
    QMessageBox::critical(parent_, title, text, QMessageBox::Ok);
}

void QtDesktopServices::Message(const QString& text, const QString& detail) {
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text, QMessageBox::Ok,
                    parent_);
    // Shown at once rather than behind a details button: it is the reason the user needs.
    box.setInformativeText(detail);
    box.exec();
}

bool QtDesktopServices::YesNo(const QString& caption, const QString& text) {
    return QMessageBox::question(parent_, caption, text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::Yes) == QMessageBox::Yes;
}

void QtDesktopServices::OpenUrl(const QString& url) {
    OpenInBrowser(url);
}
