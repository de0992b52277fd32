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
    auto refuse = [&](const FileLock& lock, const QString& what) {
        if (!lock.HeldElsewhere())
            return false;
        SetError(message, inUse(lock, what));
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
