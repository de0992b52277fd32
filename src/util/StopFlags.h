#pragma once

#include <QString>
#include <QStringList>
#include <functional>

// Program-wide state shared by the run control, the run log and the remote polling. The program
// has one thread; nothing here is locked. The stop flags are also set from the SIGTERM/SIGINT
// handler (TerminationSignals.h), which only stores into them.
namespace StopFlags {

// True in interactive mode: message boxes are shown only then.
extern bool StartInConfigMode;
// The operator (or a signal) asked the run to stop.
extern volatile bool StopRequested;
// Remote polling must end at its next 100 ms tick.
extern volatile bool RemoteStopRequested;
// Set by the signal handler in addition to the two stop flags.
extern volatile bool TerminationSignalled;

// Where run-log lines go: the text of the main window's exception-file field. The window model
// installs a reader for its field; without one the run log has no file.
void SetExceptionFileSource(std::function<QString()> source);
QString ExceptionFileField();

// Where status-bar texts go: the main window model installs its SetFormStatus; without one they
// go straight to the operator.
void SetStatusTextSink(std::function<void(const QString&)> sink);
void ShowStatusText(const QString& text);

// Problems that are no outcome of the run (the job history cannot be stored, the run log cannot
// be copied): by default "pendrill: <text>" on standard error; an unattended run installs a sink
// that keeps them in its run log, so that standard error carries one line for the run.
void SetProblemSink(std::function<void(const QString&)> sink);
void ReportProblem(const QString& text);

// Notes for the run log alone (never standard error), such as a display that cannot be reached:
// kept until the run has written its header, which then logs them.
void AddRunLogNote(const QString& text);
QStringList TakeRunLogNotes();

}  // namespace StopFlags
