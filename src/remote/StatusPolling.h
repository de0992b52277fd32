#pragma once

#include <QString>
#include <functional>

#include "remote/RemoteNotes.h"
#include "remote/StatusWords.h"

class QObject;
class JobRecord;

// Remote data: the "status" file protocol with a remote site and the poll loop that waits for
// the site's "ready" before the data files are copied (over FTP or from a share).

// How the waits pass the time: by default the thread sleeps. Tests pass a clock that only counts,
// so that polls of many minutes run at once.
class RemoteClock {
  public:
    virtual ~RemoteClock() = default;
    virtual void Sleep(int milliseconds) = 0;
};

// What a fetch takes from the run it belongs to.
struct RemoteFetchContext {
    // The run's own job-history record, whose ExceptionFile and JobIdentifier every fetch record
    // copies. Not owned; nullptr when there is none (the fetch records then take `runLogFile`
    // and an empty job identifier).
    const JobRecord* runRecord = nullptr;
    QString runLogFile;
    // Where the fetch's notes go (the run's run log).
    RemoteNotes notes;
    // How the waits pass the time; nullptr sleeps.
    RemoteClock* clock = nullptr;
};

// Waits for a status file to say "ready", then copies the remote directory into the local one.
// The first read is made at once, the next ones every `pollInterval` minutes, until `pollDuration`
// minutes of waiting have passed. An interval of 0 (or below) polls every PollPauseSecondsOfZero
// seconds within the same duration instead of back to back; a duration of 0 (or below) makes no
// read at all and times out. FTP when `ftpServer` is not empty, a share (a directory path)
// otherwise. Before copying it writes "idle" into the status file; after a failed copy "ready"
// again. Every failure is recorded in a job-history record of its own (status 3) and noted as it
// happens (a status read that failed, the time-out, a copy failure, a status file that cannot be
// written: the share's with a critical box titled "CopySetStatus"), so that the notes of the
// status writes that follow keep their place. The status operations may append a separator to
// `remoteDir` in place. False when the data was not copied: time-out, "error" or "stop" on the
// remote side, a stop request, a copy failure, or a local directory that is empty or the root
// directory (refused before any poll, with a note and a failure record). `error`, when given,
// receives the reason in one line.
bool FetchRemoteData(QString& remoteDir, QString& localDir, short pollInterval, short pollDuration,
                     const QString& ftpServer = QString(), const QString& ftpUser = QString(),
                     const QString& ftpPassword = QString(), const RemoteFetchContext& context = {},
                     QObject* ownerWindow = nullptr, QString* error = nullptr);

// The pause between two reads when the poll interval is 0.
inline constexpr int PollPauseSecondsOfZero = 1;

// Waits `minutes` minutes in 100 ms slices, processing pending events before each slice; returns
// early, within 100 ms, once a remote stop is requested. Nothing happens for 0 or less. The slices
// pass on `clock` (nullptr sleeps).
void WaitMinutes(short minutes, RemoteClock* clock = nullptr);
// The same for a time in milliseconds, rounded up to a multiple of 100 ms.
void WaitMilliseconds(qint64 milliseconds, RemoteClock* clock = nullptr);

// Asks a running poll to end at its next 100 ms tick (the window's Close button, a signal).
void RequestRemoteStop();
