#pragma once

#include "app/Startup.h"

// pendrill -configfile FILE -validate: goes through everything an unattended run does before it
// fetches remote data and executes the package, without changing anything (no status file, no
// run log, no job-history record, no catalogue rows written), and prints one line per check on
// standard output: what was checked, then "OK" or the reason it failed. Returns 0 when the run
// could start, else the exit status the run would have ended with (ExitCodes.h).
int ValidateRun(const StartupValues& values);

class MainFormModel;
// When the configured package is missing from the DTS server's package list (so the window's
// package field is empty): "Package X is not among the packages of DTS server Y", followed by
// ": " and the reason the list could not be read (no such server, server not reachable, ...)
// when it could not; otherwise empty. The line the run log holds below "DTS Package not filled".
QString PackageNotListedReason(MainFormModel& form);
