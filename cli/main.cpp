// tandel-cli: LiveUpdate and programming from a terminal and from scripts.
#include <QCoreApplication>

#include "Clock.h"
#include "CommandLine.h"
#include "Platform.h"
#include "SerialBackend.h"
#include "StopSignal.h"
#include "TerminalSystem.h"

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("tandel-cli");
    QCoreApplication::setApplicationVersion(TANDEL_VERSION);
    platform::PrepareConsole();
    StopSignal::Install();
    WatchTerminalResize();
    return RunCommandLine(QCoreApplication::arguments(),
                          {SystemSerialBackend(), SystemClock::Instance()});
}
