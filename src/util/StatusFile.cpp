#include "util/StatusFile.h"

#include "util/StopFlags.h"
#include "util/TextFiles.h"

namespace {
QString& statusPath() {
    static QString p;
    return p;
}
}  // namespace

bool SetStatusFile(const QString& path) {
    statusPath() = path;
    return true;
}

QString StatusFilePath() {
    return statusPath();
}

bool WriteStatusWord(const QString& word) {
    if (statusPath().isEmpty())
        return false;
    QString why;
    if (WriteFileAtomically(statusPath(), word.toUtf8() + "\r\n", -1, &why))
        return true;
    // The scheduler reads this file: a run that cannot write it says so, as for the log copy.
    StopFlags::ReportProblem(
        QStringLiteral("cannot write the status file %1: %2").arg(statusPath(), why));
    return false;
}

bool StatusRunning() {
    return WriteStatusWord(QStringLiteral("running"));
}
bool StatusOk() {
    return WriteStatusWord(QStringLiteral("ok"));
}
bool StatusFailure() {
    return WriteStatusWord(QStringLiteral("failure"));
}
