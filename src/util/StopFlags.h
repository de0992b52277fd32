#pragma once

// The stop requests of the run in progress. The SIGTERM/SIGINT handler (TerminationSignals.h)
// stores into them, and so does the operator's Close during a run; the run, the package engine
// and the remote polling look at them.
namespace StopFlags {

// The operator (or a signal) asked the run to stop.
extern volatile bool StopRequested;
// Remote polling must end at its next 100 ms tick.
extern volatile bool RemoteStopRequested;
// Set by the signal handler in addition to the two stop flags.
extern volatile bool TerminationSignalled;

}  // namespace StopFlags
