#include "history/Repository.h"

#include <QAtomicInt>
#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QUrl>

#include "config/SettingsStore.h"
#include "db/DbInterface.h"
#include "db/embedded/SqliteBusyWait.h"
#include "history/Schema.h"
#include "util/PrivateFiles.h"

namespace Repository {

namespace {
QString dataHome() {
    const QString xdg = qEnvironmentVariable("XDG_DATA_HOME");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg))
        return xdg;
    return QDir::homePath() + QStringLiteral("/.local/share");
}
}  // namespace

QString DefaultPath() {
    return dataHome() + QStringLiteral("/pendrill/repository.db");
}

bool IsPostgresUrl(const QString& location) {
    return location.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive) ||
           location.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive);
}

Location CurrentLocation() {
    const QString keyPath = QString::fromLatin1(RepositoryLocationKey);
    const QString valueName = QString::fromLatin1(RepositoryLocationValue);
    if (RegistryValueNames(keyPath).contains(valueName, Qt::CaseInsensitive))
        return {ReadRegistryValue(keyPath, valueName).trimmed(), true};
    return {DefaultPath(), false};
}

QString DisplayLocation(const QString& location) {
    if (!IsPostgresUrl(location))
        return location;
    return QUrl(location).toString(QUrl::RemovePassword);
}

Connection::Connection() {
    static QAtomicInt counter;
    name_ = QStringLiteral("history-repository-%1").arg(counter.fetchAndAddRelaxed(1));
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
    postgres_ = IsPostgresUrl(path);
    if (postgres_)
        return openPostgres(path);
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
    SetStoppableBusyWait(db_, 5000);
    QSqlQuery q(db_);
    // Write-ahead logging: a record costs no flush of its own (a copy of many files leaves one
    // record per file); the log is flushed at checkpoints, so a crash loses at most the last
    // records, never the database.
    q.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    q.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    if (!Schema::EnsureSqlite(db_, error_) || !Schema::FillRecordTimes(db_, error_)) {
        db_.close();
        return false;
    }
    return true;
}

bool Connection::Open() {
    const Location loc = CurrentLocation();
    return Open(loc.path, !loc.configured);
}

}  // namespace Repository
