#pragma once

#include <QString>

#include "remote/RemoteNotes.h"

class QObject;
class JobRecord;

// Remote data from a directory path this computer opens directly (typically a mounted network
// share): the status file read and written with ordinary file I/O, the data files copied one at a
// time with the kernel's file copy. Appended separators are '/'; a directory text that already
// ends in '/' or '\' is used as it stands, by the reader and the writer alike.

// Reads the first line of "status" in `remoteDir` (a separator is appended to the variable when
// it ends in none) and returns its code (2 ready, 1 keep polling, 0 give up). A missing status
// file in an existing directory is 1 ("Copy: status file not found yet. Polling..." is noted);
// a "status" that is not a regular file is never read and never waited on: 0 with "Is a
// directory" or "Not a regular file: PATH" (a pipe, a device) in `*failureText`;
// a missing directory is 0 with "Path not found: DIR" in `*failureText`; any other read error is
// 0 with its description there.
short ShareReadStatus(QString& remoteDir, const RemoteNotes& notes, QString* failureText = nullptr);

// Replaces "status" in `remoteDir` (separator appended as above) with the word, CR LF and one
// more CR LF, atomically; where the directory refuses new files but the status file is writable,
// the file is rewritten in place. False, with "Status file not found" (missing directory) or the
// error's description in `error`, when it could not be written.
bool ShareWriteStatus(QString& remoteDir, const QString& word, QString* error = nullptr);

// Copies every regular, not hidden file of `remoteDir` into `localDir` (created when missing), in
// name order, replacing files of the same name without asking. A symbolic link on the share is
// not a data file: it is neither followed nor copied. Each file is copied into an unnamed file of
// `localDir` and named when complete (where `localDir` has no unnamed files, to a hidden
// temporary name created afresh, never through a symbolic link, and renamed), so no file appears
// half-written under its real name; with unnamed files the next files are copied ahead on two
// threads while one is named, and copies never named leave nothing. Each copied file leaves one
// record in `record` (status 0, quantity = its size in "bytes copied"); the first file that
// cannot be copied leaves a status 3 record with "Couldn't copy file PATH" and 0 bytes (nothing of
// it is left in `localDir`), is noted with a box and ends the copy. A missing remote directory
// ("Dir doesn't exist : DIR") is noted with a box as well. With an owner window a progress window
// is shown whose Cancel ends the copy after the current file ("Copying aborted", noted with a
// box). True when at least one file was found and every file was copied; otherwise false with the
// reason in `error` when given.
bool ShareCopyRemoteData(const QString& remoteDir, const QString& localDir, JobRecord& record,
                         const RemoteNotes& notes, QObject* ownerWindow = nullptr,
                         QString* error = nullptr);

// `dir` followed by `name`, with a '/' between them unless `dir` is empty or already ends in '/'
// or '\'.
QString JoinRemotePath(const QString& dir, const QString& name);
