#include "rook/RookRepository.h"

#include <QAtomicInt>
#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>

#include "config/CRegSettings.h"
#include "db/DbInterface.h"
#include "util/PrivateFiles.h"

namespace RookRepository {

namespace {
QString dataHome() {
    const QString xdg = qEnvironmentVariable("XDG_DATA_HOME");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg))
        return xdg;
    return QDir::homePath() + QStringLiteral("/.local/share");
}

const char* const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS job_history ("
    " Id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " Kind INTEGER, ApplicationName TEXT,"
    " SourceServer TEXT, SourcePath TEXT, SourceDatabase TEXT, SourceUser TEXT,"
    " TargetServer TEXT, TargetPath TEXT, TargetDatabase TEXT, TargetUser TEXT,"
    " ExceptionFile TEXT, StartTime TEXT, EndTime TEXT, JobIdentifier TEXT,"
    " Status INTEGER, Message TEXT, ObjectName TEXT, Quantity REAL, QuantityUnit TEXT,"
    " CurrentUserName TEXT, ComputerName TEXT, Arguments TEXT)",
    "CREATE TABLE IF NOT EXISTS metadata_files ("
    " Id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " FileName TEXT NOT NULL, FileSize INTEGER, RecordedAt TEXT,"
    " JobIdentifier TEXT, CurrentUserName TEXT, ComputerName TEXT)",
};
}  // namespace

QString DefaultPath() {
    return dataHome() + QStringLiteral("/pendrill/repository.db");
}

Location CurrentLocation() {
    const QString keyPath = QString::fromLatin1(RepositoryLocationKey);
    const QString valueName = QString::fromLatin1(RepositoryLocationValue);
    if (RegistryValueNames(keyPath).contains(valueName, Qt::CaseInsensitive))
        return {ReadRegistryValue(keyPath, valueName).trimmed(), true};
    return {DefaultPath(), false};
}

Connection::Connection() {
    static QAtomicInt counter;
    name_ = QStringLiteral("rook-repository-%1").arg(counter.fetchAndAddRelaxed(1));
}

Connection::~Connection() {
    if (db_.isValid()) {
        db_.close();
        db_ = QSqlDatabase();
    }
    if (QSqlDatabase::contains(name_))
        QSqlDatabase::removeDatabase(name_);
}

bool Connection::Open(const QString& path, bool createDirectory) {
    error_.clear();
    if (path.isEmpty()) {
        error_ = QStringLiteral("no repository location");
        return false;
    }
    const QFileInfo info(path);
    // The repository holds who ran what and where; it is its owner's alone, and SQLite gives its
    // journal and write-ahead log the database file's mode.
    if (createDirectory)
        MakePrivateDirectory(info.absolutePath());
    if (!info.absoluteDir().exists()) {
        error_ = QStringLiteral("directory %1 does not exist").arg(info.absolutePath());
        return false;
    }
    if (info.exists() && !info.isFile()) {
        error_ = QStringLiteral("%1 is not a file").arg(path);
        return false;
    }
    if (!info.exists() && !CreatePrivateFile(path, &error_))
        return false;
    db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
    db_.setDatabaseName(path);
    db_.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!db_.open()) {
        error_ = DbErrorMessage(db_.lastError(), QStringLiteral("the database gave no reason"));
        return false;
    }
    QSqlQuery q(db_);
    // Write-ahead logging: a record costs no flush of its own (a copy of many files leaves one
    // record per file); the log is flushed at checkpoints, so a crash loses at most the last
    // records, never the database.
    q.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    q.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    for (const char* statement : kSchema) {
        if (!q.exec(QString::fromLatin1(statement))) {
            error_ = DbErrorMessage(q.lastError(), QStringLiteral("the database gave no reason"));
            db_.close();
            return false;
        }
    }
    return true;
}

bool Connection::Open() {
    const Location loc = CurrentLocation();
    return Open(loc.path, !loc.configured);
}

}  // namespace RookRepository
