#include "remote/StatusPolling.h"

#include <time.h>

#include <QDateTime>
#include <QDir>
#include <array>
#include <cerrno>

#include "history/JobRecord.h"
#include "history/Repository.h"
#include "remote/FtpTransfer.h"
#include "remote/ShareTransfer.h"
#include "util/Errors.h"
#include "util/OperatorInterface.h"
#include "util/StopFlags.h"

namespace {

constexpr int kSliceMs = 100;

// Sleeps one slice. A signal (SIGINT, SIGTERM) that requests a stop cuts the sleep short, so the
// stop is seen at once rather than at the end of the slice; other signals do not shorten it.
void sleepSlice(int ms, RemoteClock* clock) {
    if (clock != nullptr) {
        clock->Sleep(ms);
        return;
    }
    timespec rest{ms / 1000, (ms % 1000) * 1000000L};
    while (::nanosleep(&rest, &rest) != 0 && errno == EINTR && !StopFlags::RemoteStopRequested) {
    }
}

}  // namespace

void WaitMilliseconds(qint64 milliseconds, RemoteClock* clock) {
    qint64 remaining = milliseconds;
    while (remaining > 0) {
        Operator().ProcessPendingEvents();
        if (StopFlags::RemoteStopRequested)
            return;
        sleepSlice(kSliceMs, clock);
        remaining -= kSliceMs;
    }
}

void WaitMinutes(short minutes, RemoteClock* clock) {
    WaitMilliseconds(static_cast<qint64>(minutes) * 60 * 1000, clock);
}

void RequestRemoteStop() {
    StopFlags::RemoteStopRequested = true;
}

bool FetchRemoteData(QString& remoteDir, QString& localDir, short pollInterval, short pollDuration,
                     const QString& ftpServer, const QString& ftpUser, const QString& ftpPassword,
                     const RemoteFetchContext& context, QObject* ownerWindow, QString* error) {
    const JobRecord* runRecord = context.runRecord;
    const RemoteNotes& notes = context.notes;
    JobRecord record;
    record.setSourcePath(remoteDir);
    record.setTargetServer(record.ComputerName());
    record.setTargetPath(localDir);
    record.setTargetUser(record.CurrentUserName());
    if (runRecord != nullptr) {
        record.setExceptionFile(runRecord->ExceptionFile());
        record.setJobIdentifier(runRecord->JobIdentifier());
    } else {
        record.setExceptionFile(context.runLogFile);
        record.setJobIdentifier(QString());
    }
    const bool ftp = !ftpServer.isEmpty();
    if (ftp) {
        record.setSourceServer(ftpServer);
        record.setSourceUser(ftpUser);
    } else {
        record.setSourceServer(record.ComputerName());
        record.setSourceUser(record.CurrentUserName());
    }

    const QString application =
        ftp ? QStringLiteral("Pendrill FTP") : QStringLiteral("Pendrill Copy");
    const auto failed = [&](const QString& text) {
        record.setStatus(3);
        record.setMessage(text);
        record.setEndTime(QDateTime::currentDateTime());
        record.Close(2, application);
        return false;
    };

    // Files are never fetched into the current directory (an empty local directory) or into the
    // root directory.
    const QString local = localDir.trimmed();
    if (local.isEmpty() || QDir::cleanPath(local) == QLatin1String("/")) {
        const QString text =
            local.isEmpty() ? QStringLiteral("no local directory is set, the data is not fetched")
                            : QStringLiteral(
                                  "the local directory is the root directory, the data is not "
                                  "fetched");
        notes.Note(QStringLiteral("Error: ") + text + QStringLiteral(" (remote directory ") +
                   remoteDir + QLatin1Char(')'));
        SetError(error, text);
        return failed(text);
    }

    StopFlags::RemoteStopRequested = false;
    notes.Note(QStringLiteral("Polling for remote data."));

    // Time is counted in milliseconds as 64-bit numbers, so no interval and duration overflow.
    // An interval of 0 would read back to back for ever; it pauses between reads instead.
    const qint64 pauseMs =
        pollInterval > 0 ? qint64(pollInterval) * 60 * 1000 : qint64(PollPauseSecondsOfZero) * 1000;
    const qint64 durationMs = qint64(pollDuration) * 60 * 1000;
    QString failureText;
    short code = RemoteStatus::KeepPolling;
    bool timedOut = false;
    for (qint64 n = 0;; ++n) {
        if (pauseMs * n >= durationMs) {
            timedOut = true;
            break;
        }
        code = ftp ? FtpReadStatus(ftpServer, remoteDir, ftpUser, ftpPassword, notes, &failureText)
                   : ShareReadStatus(remoteDir, notes, &failureText);
        if (code == RemoteStatus::Failed && !failureText.isEmpty())
            notes.Note(failureText);
        if (StopFlags::RemoteStopRequested) {
            failureText = QStringLiteral("Process stopped by user.");
            code = RemoteStatus::Failed;
            break;
        }
        if (code != RemoteStatus::KeepPolling)
            break;
        WaitMilliseconds(pauseMs, context.clock);
        // A stop during the wait ends the fetch now, without one more read of a remote site
        // that may be slow to answer.
        if (StopFlags::RemoteStopRequested) {
            failureText = QStringLiteral("Process stopped by user.");
            code = RemoteStatus::Failed;
            break;
        }
    }
    if (timedOut && code == RemoteStatus::KeepPolling) {
        failureText = QStringLiteral("Polling for remote data timed out.");
        notes.Note(failureText);
        code = RemoteStatus::Failed;
    }
    if (code == RemoteStatus::Failed) {
        // The site's "error" or "stop" leaves the record's message empty; the caller is told.
        SetError(error, failureText.isEmpty()
                            ? QStringLiteral("the remote site's status file says error or stop")
                            : failureText);
        return failed(failureText);
    }

    // The copy leaves one job-history record per file. A repository connection held open for
    // the copy spares each record the checkpoint (and flush) of a last connection closing.
    Repository::Connection holdRepository;
    holdRepository.Open();

    // A status file that cannot be written is noted; the fetch goes on.
    const auto writeFtpStatus = [&](const QString& word) {
        QString statusWord = word;
        QString why;
        if (!FtpWriteStatus(ftpServer, ftpUser, ftpPassword, remoteDir, statusWord, &why) &&
            !why.isEmpty())
            notes.Note(why);
    };
    const auto writeShareStatus = [&](const QString& word) {
        QString why;
        if (!ShareWriteStatus(remoteDir, word, &why))
            notes.Box(why, 16, QStringLiteral("CopySetStatus"));
    };
    if (ftp) {
        writeFtpStatus(QStringLiteral("idle"));
        notes.Note(QStringLiteral("Copying Remote Data via FTP"));
        if (FtpCopyRemoteData(ftpServer, remoteDir, localDir, record, ftpUser, ftpPassword, notes,
                              error))
            return true;
        writeFtpStatus(QStringLiteral("ready"));
        return false;
    }
    writeShareStatus(QStringLiteral("idle"));
    notes.Note(QStringLiteral("Copying Remote Data from Share"));
    if (ShareCopyRemoteData(remoteDir, localDir, record, notes, ownerWindow, error))
        return true;
    writeShareStatus(QStringLiteral("ready"));
    return false;
}
