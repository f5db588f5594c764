#include <QApplication>
#include <QIcon>
#include <QScreen>
#include <QStyle>

#include "Clock.h"
#include "DesktopServices.h"
#include "PosixBackend.h"
#include "TForm1.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // The application title; no display name, which Qt would append to the window caption.
    QApplication::setApplicationName("TANDEL");
    QApplication::setWindowIcon(QIcon(":/app/tandel.png"));

    QtDesktopServices desktop;
    TForm1 form({desktop, PosixSerialBackend(), SystemClock::Instance()});
    desktop.SetParent(&form);
    form.setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, form.size(),
                                         app.primaryScreen()->availableGeometry()));
    form.show();
    form.activateWindow();
    return app.exec();
}
