#pragma once

#include "app/Startup.h"

// pendrill -configfile FILE -validate: goes through everything an unattended run does before it
// fetches remote data and executes the package, without changing anything (no status file, no
// run log, no job-history record, no catalogue rows written), and prints one line per check on
// standard output: what was checked, then "OK" or the reason it failed. Returns 0 when the run
// could start, else the exit status the run would have ended with (ExitCodes.h).
int ValidateRun(const StartupValues& values);
