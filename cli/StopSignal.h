#pragma once

// SIGINT, SIGTERM and SIGHUP as the STOP action. The handler only notes the first of them; the run
// acts on it at its next processing of messages, as the window acts on a STOP click. Later
// signals change nothing. Blocking reads are not restarted after a signal, so a question
// waiting on the terminal ends at once. SIGPIPE is ignored.
namespace StopSignal {

// Counts from now on: no signal has come yet.
void Install();
// The first signal received (SIGINT, SIGTERM or SIGHUP), 0 while none came.
int Received();
// The exit status for the signal received: 130 for SIGINT, 143 for SIGTERM, 129 for SIGHUP.
int ExitStatus();
// The same for `signal`.
int ExitStatusOf(int signal);

}  // namespace StopSignal
