#include "StopSignal.h"

#include <csignal>
#include <initializer_list>

#include "ExitCodes.h"

namespace {

volatile std::sig_atomic_t received = 0;

void OnSignal(int number) {
    if (received == 0) received = number;
}

}  // namespace

namespace StopSignal {

void Install() {
    received = 0;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a read from the terminal ends with EINTR
    // A hang-up (the terminal or the ssh session closed) ends a run as SIGTERM does: the
    // port is released, the journal and the log file get their lines.
    for (const int stop : {SIGINT, SIGTERM, SIGHUP}) sigaction(stop, &action, nullptr);
    // A reader of the output that goes away must not end a run half-way through writing a
    // device's flash: output then fails quietly and the run goes on to its end.
    std::signal(SIGPIPE, SIG_IGN);
}

int Received() {
    return received;
}

int ExitStatus() {
    return ExitStatusOf(received);
}

int ExitStatusOf(int signal) {
    return signal == SIGTERM ? kExitTerminated : signal == SIGHUP ? kExitHungUp : kExitInterrupted;
}

}  // namespace StopSignal
