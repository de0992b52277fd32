#pragma once

#include <functional>

// SIGTERM and SIGINT end a run. The handler sets the program-wide stop flags (StopFlags) and
// wakes the event loop through a pipe, so that a wait which runs an event loop (a modal message
// box, a polling loop that processes events) learns of the signal at once, not at its next tick.

// Installs the handlers for SIGTERM and SIGINT and unblocks both (a signal that was pending
// reaches the handler at once). Call first in main, before anything is written: until then the
// signals end the process by their default action. System calls interrupted by the signals are
// not restarted, so a blocking read of standard input ends too.
void InstallTerminationHandlers();

// Runs `onSignal` from the event loop of the application object (which must exist) after each
// SIGTERM or SIGINT, as soon as events are processed. A signal that came before this call is
// delivered at the first event processing.
void WatchTerminationSignals(std::function<void()> onSignal);
