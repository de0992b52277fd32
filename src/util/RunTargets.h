#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class RunLog;

// What really is process-wide about the run in progress: the status file (a signal handler
// writes it), problems and notices of code below the run (the job history, the status file,
// private files), and the window's run log for the code it is not yet handed to. One set per
// process (the program has one thread and one run at a time; nothing here is locked): the form
// model and the start-up code fill it in. Empty members mean the defaults given below. The run
// log itself is an object (util/RunLog.h) handed to the code that logs.
namespace RunTargets {

struct Targets {
    // Problems that are no outcome of the run (the job history cannot be stored, the run log
    // cannot be copied); without one "pendrill: <text>" on standard error. An unattended run
    // keeps them in its run log, so that standard error carries one line for the run.
    std::function<void(const QString&)> problem;
    // Notices of PrivateFileNotice (util/PrivateFiles.h); without one standard error.
    std::function<void(const QString&)> privateFileNotice;
    // The job status file a scheduler reads (util/StatusFile.h); empty: none.
    QString statusFile;
    // The summary file written at the run's end (-summaryfile); empty: none.
    QString summaryFile;
    // The run log of the run or window in progress (the form model's, or that of a run without a
    // window), for the problems an unattended run keeps in its run log; not owned. The code that
    // logs is handed its run log; this is for the program entry's problem sink alone.
    const RunLog* windowRunLog = nullptr;
};

// The targets of this process.
Targets& Current();

// Current().windowRunLog, or a run log without file whose texts go to the operator.
const RunLog& WindowRunLog();
void ReportProblem(const QString& text);
// Notes for the run log alone (never standard error), such as a display that cannot be reached:
// kept until the run has written its header, which then logs them.
void AddRunLogNote(const QString& text);
QStringList TakeRunLogNotes();

}  // namespace RunTargets
