#pragma once

#include <QDateTime>
#include <QString>
#include <vector>

#include "app/RunRemoteData.h"
#include "dts/DtsPackage.h"

// What is known of an unattended run once it has ended: the summary file (-summaryfile) and the
// hooks are made of it.
struct RunEnd {
    QString jobId;
    QString configFile;  // absolute
    QString package;
    QString reason;  // the failure line's reason; empty after "ok"
    QString runLog;  // where the scheduler finds the run's log; empty when there is none
    QDateTime startTime;
    QDateTime endTime;
    int exitStatus = 0;
    std::vector<DtsStep> steps;
    std::vector<RemoteDataFetched> remoteData;
};

// The JSON document of the run summary (docs/run-summary.md), indented, ending with a line feed.
QByteArray RunSummaryJson(const RunEnd& run);

// Writes the run summary to `path` atomically, never through a symbolic link. False with the
// reason in `*error` when it was not written.
bool WriteRunSummary(const QString& path, const RunEnd& run, QString* error = nullptr);

// Runs the hook the settings store names for the run's outcome (on-failure after an exit status
// other than 0, on-success after 0), if any: split into words without a shell, standard input
// /dev/null, the run's facts in PENDRILL_* variables (PENDRILL_SUMMARY = `summaryFile` when not
// empty). Its output and a hook that cannot start, fails or outlives the time-out (then SIGTERM,
// 2 s later SIGKILL) are written as "Hook: ..." lines to `logFiles` (each appended to once,
// empty names skipped). Never changes anything of the run.
void RunEndHook(const RunEnd& run, const QString& summaryFile, const QStringList& logFiles);
