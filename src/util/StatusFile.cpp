#include "util/StatusFile.h"

#include "util/RunTargets.h"
#include "util/TextFiles.h"

namespace {
const QString& statusPath() {
    return RunTargets::Current().statusFile;
}
}  // namespace

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
    RunTargets::ReportProblem(
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
