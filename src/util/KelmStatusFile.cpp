#include "util/KelmStatusFile.h"

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
    return WriteFileAtomically(statusPath(), word.toUtf8() + "\r\n");
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
