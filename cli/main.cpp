// tandel-cli: LiveUpdate and programming from a terminal and from scripts.
#include <QCoreApplication>

#include "Clock.h"
#include "CommandLine.h"
#include "PosixBackend.h"
#include "StopSignal.h"

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("tandel-cli");
    QCoreApplication::setApplicationVersion(TANDEL_VERSION);
    StopSignal::Install();
    return RunCommandLine(QCoreApplication::arguments(),
                          {PosixSerialBackend(), SystemClock::Instance()});
}
