#pragma once

// Exit status of the program, for schedulers that map it to a task state. The status file says
// "failure" for every code but Ok.
enum ExitCode : int {
    ExitOk = 0,               // run ended "ok"; usage; window closed; -validate: run can start
    ExitExecutionFailed = 1,  // the package ran and failed
    ExitNotLoaded = 2,        // configuration file missing, package not loaded, no data-link table
    ExitNotReachable = 3,     // repository or data-warehouse server not reachable
    ExitSettingsMissing = 4,  // required settings missing (the run's connection check)
    ExitRemoteDataMissing = 5,  // remote data not obtained
    ExitStopped = 6,            // stopped by the operator or by SIGTERM/SIGINT
    ExitNoDisplay = 7,  // interactive or job-configuration mode without a display: nobody to ask
    ExitInUse = 8,      // another run holds the configuration file, log directory or run log
};
