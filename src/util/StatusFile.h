#pragma once

#include <QString>

// The job status file a scheduler reads: one word, "running", "ok" or "failure", and CR LF.

// The file is RunTargets::Current().statusFile (the empty text means no status file).
QString StatusFilePath();

// Replaces the file with the word and CR LF, atomically; in a directory that refuses new files,
// an existing writable file is written in place, so it never keeps the previous word. False when
// no path is set or the file cannot be written (missing directory, no access, a directory or a
// symbolic link in its place); a failed write is reported through RunTargets::ReportProblem
// ("cannot write the status file PATH: REASON") and the caller carries on.
bool WriteStatusWord(const QString& word);

bool StatusRunning();
bool StatusOk();
bool StatusFailure();
