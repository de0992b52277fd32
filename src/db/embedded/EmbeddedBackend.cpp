// The embedded server's backend: a directory of SQLite files, one per database.
#include "db/embedded/EmbeddedBackend.h"

#include <sqlite3.h>

#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

#include "db/Backends.h"
#include "db/BulkRowSink.h"
#include "db/BulkSinkBase.h"
#include "db/DbInterface.h"
#include "db/SqlDialect.h"
#include "db/embedded/EmbeddedBulkSink.h"
#include "db/embedded/SqliteBusyWait.h"
#include "util/Errors.h"
#include "util/PrivateFiles.h"
#include "util/StopCutter.h"

namespace {

// An embedded database file: <directory>/<name>.db, the name compared without regard to case.
QString embeddedFile(const QString& directory, const QString& database) {
    const QDir dir(directory);
    const QString wanted = database + QStringLiteral(".db");
    for (const QString& f : dir.entryList({QStringLiteral("*.db")}, QDir::Files))
        if (f.compare(wanted, Qt::CaseInsensitive) == 0)
            return dir.filePath(f);
    return dir.filePath(wanted);
}

bool validDatabaseName(const QString& name) {
    return !name.isEmpty() && !name.contains('/') && !name.contains('\\') &&
           name != QLatin1String(".") && name != QLatin1String("..");
}

// Settles how the SQLite library works before its first connection opens: a connection is used by
// one thread at a time (as Qt's database connections are), so SQLite need not lock each call on
// it, and it keeps no count of its memory, whose lock every allocation would take. Later calls
// change nothing.
void SettleSqliteLibrary() {
    static const bool settled = [] {
        sqlite3_config(SQLITE_CONFIG_MULTITHREAD);
        sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
        return true;
    }();
    (void)settled;
}

}  // namespace

// A long statement is interrupted by a stop signal (SQLite looks at the request between its
// steps, from any thread; the statement then fails as interrupted).
std::unique_ptr<StopCutter::Registration> EmbeddedBackend::StopCut(QSqlDatabase& db) const {
    sqlite3* handle = NativeHandle<sqlite3>(db, {"sqlite3*"});
    if (handle == nullptr)
        return nullptr;
    return StopCutter::Register({nullptr, [handle] { sqlite3_interrupt(handle); }});
}

bool EmbeddedBackend::Open(DbConnection& c, const QString& database, bool) const {
    const ServerLocation& server = c.Server();
    c.SetDialect(SqlDialect::Embedded());
    c.SetDatabaseName(database);
    QString file = QStringLiteral(":memory:");
    if (!database.isEmpty()) {
        if (!validDatabaseName(database)) {
            c.SetError(QStringLiteral("Invalid database name '%1'.").arg(database));
            return false;
        }
        const bool create = c.CreateMissingDatabase ||
                            database.compare(QLatin1String("msdb"), Qt::CaseInsensitive) == 0;
        if (create)
            MakePrivateDirectory(server.directory);
        file = embeddedFile(server.directory, database);
        if (!QFileInfo::exists(file) && !create) {
            c.SetError(
                QStringLiteral("Cannot open database \"%1\": server %2 has no such database (no "
                               "file %1.db in %3).")
                    .arg(database, server.name, QDir::toNativeSeparators(server.directory)));
            return false;
        }
        if (QFileInfo::exists(file))
            c.SetDatabaseName(QFileInfo(file).completeBaseName());
    } else if (!QFileInfo(server.directory).isDir()) {
        MakePrivateDirectory(server.directory);
    }
    // The databases hold data-link passwords: a new one is its owner's alone (SQLite gives the
    // journal and write-ahead log the database file's mode).
    if (file != QLatin1String(":memory:") && !QFileInfo::exists(file))
        CreatePrivateFile(file);
    SettleSqliteLibrary();
    QSqlDatabase& db = c.Database();
    db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), c.ConnectionName());
    db.setDatabaseName(file);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(c.ConnectionTimeout * 1000));
    if (!db.open()) {
        c.SetError(QStringLiteral("Cannot open database \"%1\" (%2): %3")
                       .arg(database, file,
                            DbErrorMessage(db.lastError(), QStringLiteral("unknown reason"))));
        return false;
    }
    InstallStoppableBusyWait(db, c.ConnectionTimeout * 1000);
    // A text file named .db that is no database only shows itself on the first read.
    QSqlQuery probe(db);
    if (!probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"))) {
        c.SetError(QStringLiteral("Cannot open database \"%1\" (%2): %3")
                       .arg(database, file,
                            DbErrorMessage(probe.lastError(), QStringLiteral("unknown reason"))));
        db.close();
        return false;
    }
    // Write-ahead logging: readers in other processes are not blocked by a load, and a commit
    // costs no sync of the whole database.
    probe.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    probe.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    return true;
}

const SqlDialect& EmbeddedBackend::Dialect() const {
    return SqlDialect::Embedded();
}

std::unique_ptr<BulkRowSink> EmbeddedBackend::OpenBulkSink(std::unique_ptr<DbConnection> c,
                                                           const QString& table) const {
    return OpenEmbeddedBulkSink(std::move(c), table);
}

bool EmbeddedBackend::OpenLocation(QSqlDatabase& db, const QString& connectionName,
                                   const QString& path, bool createDirectory,
                                   QString* error) const {
    const QFileInfo info(path);
    // A database named by its path holds who ran what and where; it is its owner's alone, and
    // SQLite gives its journal and write-ahead log the database file's mode.
    if (createDirectory)
        MakePrivateDirectory(info.absolutePath());
    if (!info.absoluteDir().exists())
        return Fail(error, QStringLiteral("directory %1 does not exist").arg(info.absolutePath()));
    if (info.exists() && !info.isFile())
        return Fail(error, QStringLiteral("%1 is not a file").arg(path));
    if (!info.exists() && !CreatePrivateFile(path, error))
        return false;
    SettleSqliteLibrary();
    db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!db.open())
        return Fail(error,
                    DbErrorMessage(db.lastError(), QStringLiteral("the database gave no reason")));
    InstallStoppableBusyWait(db, 5000);
    QSqlQuery q(db);
    // Write-ahead logging: a write costs no flush of its own (a copy of many files leaves one
    // record per file); the log is flushed at checkpoints, so a crash loses at most the last
    // writes, never the database.
    q.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    q.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    return true;
}

bool EmbeddedBackend::SchemaComplete(QSqlDatabase& db, int version, const QString&) const {
    QSqlQuery q(db);
    return q.exec(QStringLiteral("PRAGMA user_version")) && q.next() &&
           q.value(0).toInt() >= version;
}

bool EmbeddedBackend::BeginSchemaChange(QSqlDatabase& db, qint64, QString* error) const {
    // A writer's lock from the start, so that two programs opening a new database at once do not
    // both read the old version and then fail to upgrade.
    QSqlQuery q(db);
    if (q.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return true;
    return Fail(error,
                DbErrorMessage(q.lastError(), QStringLiteral("the database gave no reason")));
}

bool EmbeddedBackend::MarkSchemaComplete(QSqlDatabase& db, int version, QString* error) const {
    QSqlQuery q(db);
    if (q.exec(QStringLiteral("PRAGMA user_version = %1").arg(version)))
        return true;
    return Fail(error,
                DbErrorMessage(q.lastError(), QStringLiteral("the database gave no reason")));
}

const DbBackend& EmbeddedServerBackend() {
    static const EmbeddedBackend backend;
    return backend;
}
