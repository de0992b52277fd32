#pragma once

#include <QString>

// The run log: the one way messages reach the operator, the run-log file and the status bar.

// Processes pending events; in interactive mode with `showMessageBox` set, shows a message box
// (style 16 critical, 48 exclamation, 64 information) and waits for it; appends every line of the
// text with CR LF to the file named in the main window's exception-file field (nothing when the
// field is empty; write errors are not reported); puts the text on the status bar; processes
// pending events again.
void LogMessage(const QString& text, bool showMessageBox = false, int style = 0,
                const QString& title = QString());

// LogMessage without a message box.
void LogInfo(const QString& text);

// Creates the directory with every missing parent; an existing directory is left alone and
// errors are swallowed.
void MakeDirectory(const QString& directory);
