#pragma once

#include <QString>
#include <QStringList>
#include <functional>

// Where the messages and files of the run in progress go: the run-log file, the status bar, the
// status file, problems that are no outcome of the run, notices about files made private. One
// set per process (the program has one thread and one run at a time; nothing here is locked):
// the form model and the start-up code fill it in, the run log, the status file and the private
// file helpers read it. Empty members mean the defaults given below.
namespace RunTargets {

struct Targets {
    // True in interactive mode: message boxes are shown only then.
    bool interactive = false;
    // The run-log file: the text of the main window's exception-file field. Without one the run
    // log has no file.
    std::function<QString()> runLogFile;
    // Status-bar texts; without one they go straight to the operator.
    std::function<void(const QString&)> statusText;
    // Problems that are no outcome of the run (the job history cannot be stored, the run log
    // cannot be copied); without one "pendrill: <text>" on standard error. An unattended run
    // keeps them in its run log, so that standard error carries one line for the run.
    std::function<void(const QString&)> problem;
    // Notices of PrivateFileNotice (util/PrivateFiles.h); without one standard error.
    std::function<void(const QString&)> privateFileNotice;
    // The job status file a scheduler reads (util/StatusFile.h); empty: none.
    QString statusFile;
};

// The targets of this process.
Targets& Current();

// The run-log file named by Current().runLogFile, or the empty text.
QString ExceptionFileField();
void ShowStatusText(const QString& text);
void ReportProblem(const QString& text);
// Notes for the run log alone (never standard error), such as a display that cannot be reached:
// kept until the run has written its header, which then logs them.
void AddRunLogNote(const QString& text);
QStringList TakeRunLogNotes();

}  // namespace RunTargets
