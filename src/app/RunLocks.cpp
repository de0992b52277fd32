#include "app/RunLocks.h"

#include <QDir>
#include <QFileInfo>

#include "util/Errors.h"
#include "util/PrivateFiles.h"

namespace {

QString inUse(const FileLock& lock, const QString& what) {
    if (lock.HolderPid() > 0)
        return QStringLiteral("Another run (process %1) is using %2")
            .arg(lock.HolderPid())
            .arg(what);
    return QStringLiteral("Another run is using %1").arg(what);
}

QString cleanAbsolute(const QString& path) {
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

}  // namespace

bool RunLocks::Acquire(const QString& configFile, const QString& logDirectory,
                       const QString& exceptionFile, QString* message) {
    Release();
    const QString logDir = logDirectory.trimmed();
    // A lock held by another run ends this one, and so does a lock file that is no file (it could
    // keep no other run out). Any other failure (a file system without locks) lets the run go on.
    auto refuse = [&](const FileLock& lock, const QString& what) {
        if (lock.NotAFile())
            SetError(
                message,
                QStringLiteral("The lock file %1 is not a regular file").arg(LockFilePath(what)));
        else if (lock.HeldElsewhere())
            SetError(message, inUse(lock, what));
        else
            return false;
        Release();
        return true;
    };
    if (!configFile.isEmpty()) {
        FileLock lock;
        if (lock.Lock(configFile, FileLock::Role::Run, 0))
            locks_.push_back(std::move(lock));
        else if (refuse(lock, configFile))
            return false;
    }
    const bool insideLogDir =
        !logDir.isEmpty() &&
        cleanAbsolute(QFileInfo(exceptionFile).absolutePath()) == cleanAbsolute(logDir);
    if (!exceptionFile.isEmpty() && !insideLogDir) {
        FileLock lock;
        if (lock.Lock(exceptionFile, FileLock::Role::Run, 0))
            locks_.push_back(std::move(lock));
        else if (refuse(lock, exceptionFile))
            return false;
    }
    // Made only once nothing else stands in the way, so a refused run leaves no directory.
    if (!logDir.isEmpty()) {
        MakePrivateDirectory(logDir);
        FileLock lock;
        if (lock.LockDirectory(logDir, 0))
            locks_.push_back(std::move(lock));
        else if (refuse(lock, logDir))
            return false;
    }
    return true;
}
