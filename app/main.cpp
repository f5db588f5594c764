#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <cstdio>

#include "Clock.h"
#include "CommandLine.h"
#include "DesktopServices.h"
#include "PolishTranslation.h"
#include "SerialBackend.h"
#include "TForm1.h"
#include "WorkingFolder.h"

int main(int argc, char* argv[]) {
    // Decided before Qt starts: Qt ends the program with an abort when it finds no display.
    if (const auto exit = CommandLineExit(argc, argv)) {
        UseStartingConsole();
        std::fputs(exit->out.c_str(), stdout);
        std::fputs(exit->err.c_str(), stderr);
        return exit->code;
    }
    QApplication app(argc, argv);
    // The application title; no display name, which Qt would append to the window caption.
    QApplication::setApplicationName("TANDEL");
    QApplication::setWindowIcon(QIcon(":/app/tandel.png"));
    InstallQtPolishTranslation();
    // The menu entry's start: the window reads init.cfg and the store in the current folder.
    if (QApplication::arguments().contains("--home")) {
        const QString failure = EnterWorkingFolder(
            HomeWorkingFolder(), ExampleConfigFor(QApplication::applicationDirPath()));
        if (!failure.isEmpty()) {
            QMessageBox::critical(nullptr, "TANDEL", failure, QMessageBox::Ok);
            return 1;
        }
    }

    QtDesktopServices desktop;
    TForm1 form({desktop, SystemSerialBackend(), SystemClock::Instance()});
    desktop.SetParent(&form);
    form.setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, form.size(),
                                         app.primaryScreen()->availableGeometry()));
    form.show();
    form.activateWindow();
    // What the launcher could not take from tandel.env: a menu launch shows no standard error.
    if (const QString note = qEnvironmentVariable("TANDEL_LAUNCH_NOTE"); !note.isEmpty()) {
        qunsetenv("TANDEL_LAUNCH_NOTE");
        // Through the window's boxes, so that a screen reader hears what it is about.
        QTimer::singleShot(0, &form, [&desktop, note] { desktop.Information("TANDEL", note, {}); });
    }
    return app.exec();
}
