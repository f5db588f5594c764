// tandel-cli: LiveUpdate and programming from a terminal and from scripts.
#include <QCoreApplication>

#include "Clock.h"
#include "CommandLine.h"
#include "PosixBackend.h"
#include "StopSignal.h"
#include "TerminalSystem.h"

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("tandel-cli");
    QCoreApplication::setApplicationVersion(TANDEL_VERSION);
    StopSignal::Install();
    WatchTerminalResize();
    return RunCommandLine(QCoreApplication::arguments(),
                          {PosixSerialBackend(), SystemClock::Instance()});
}
