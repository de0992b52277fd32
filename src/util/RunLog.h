#pragma once

#include <QString>
#include <functional>

// The run log of a run: the one way its messages reach the operator, the run-log file and the
// status bar. The form model holds the one of the window (its file is the exception-file field,
// its status texts go to the window's status line) and hands it to the run and to everything the
// run calls; a run without a window, and other code without one, makes one of its own (status
// texts to the operator).
// A small value: a copy writes to the same places.
class RunLog {
  public:
    // True in interactive mode: message boxes are shown only then.
    bool interactive = false;
    // The run-log file (the text of the exception-file field); without one the log has no file.
    std::function<QString()> file;
    // Status-bar texts; without one they go straight to the operator.
    std::function<void(const QString&)> statusText;

    // Processes pending events; in interactive mode with `showMessageBox` set, shows a message
    // box (style 16 critical, 48 exclamation, 64 information) and waits for it; appends every
    // line of the text with CR LF to the run-log file (nothing without one; a file that cannot be
    // written is said on standard error, once for each file: "PROGRAM: cannot write the run log
    // FILE: REASON"); puts the text on the status bar; processes pending events again.
    void Message(const QString& text, bool showMessageBox = false, int style = 0,
                 const QString& title = QString()) const;
    // Message without a message box.
    void Info(const QString& text) const;
    // The text on the status bar alone.
    void ShowStatus(const QString& text) const;
    // The run-log file's name, or the empty text.
    QString FileName() const;

    // Says on standard error that the run log `file` cannot be written, once for each file in
    // the process, whatever the run's outcome: the run log is where the operator would look for
    // the reason, so it cannot be told there.
    static void ReportUnwritable(const QString& file, const QString& why);
};
