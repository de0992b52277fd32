#include "history/Schema.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <optional>

#include "db/DbInterface.h"
#include "history/TimeStamps.h"

namespace Schema {

namespace {

// PRAGMA user_version of an SQLite repository whose schema is complete.
constexpr int kSqliteVersion = 1;

// Key of the PostgreSQL advisory lock under which the schema is created ("Rook").
constexpr qint64 kPostgresSchemaLock = 0x526f6f6b;

const char* const kSqliteTables[] = {
    "CREATE TABLE IF NOT EXISTS job_history ("
    " Id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " Kind INTEGER, ApplicationName TEXT,"
    " SourceServer TEXT, SourcePath TEXT, SourceDatabase TEXT, SourceUser TEXT,"
    " TargetServer TEXT, TargetPath TEXT, TargetDatabase TEXT, TargetUser TEXT,"
    " ExceptionFile TEXT, StartTime TEXT, EndTime TEXT, JobIdentifier TEXT,"
    " Status INTEGER, Message TEXT, ObjectName TEXT, Quantity REAL, QuantityUnit TEXT,"
    " CurrentUserName TEXT, ComputerName TEXT, Arguments TEXT, RecordTime INTEGER)",
    "CREATE TABLE IF NOT EXISTS metadata_files ("
    " Id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " FileName TEXT NOT NULL, FileSize INTEGER, RecordedAt TEXT,"
    " JobIdentifier TEXT, CurrentUserName TEXT, ComputerName TEXT)",
};

// Ordered by Id within each key: the listings are newest first. (SQLite keeps the row id in every
// index; PostgreSQL is told.)
const char* const kSqliteIndexes[] = {
    "CREATE INDEX IF NOT EXISTS job_history_job ON job_history (JobIdentifier)",
    "CREATE INDEX IF NOT EXISTS job_history_status ON job_history (Status)",
    "CREATE INDEX IF NOT EXISTS job_history_time ON job_history (RecordTime)",
};

const char* const kPostgres[] = {
    "CREATE TABLE IF NOT EXISTS job_history ("
    " Id BIGSERIAL PRIMARY KEY,"
    " Kind INTEGER, ApplicationName TEXT,"
    " SourceServer TEXT, SourcePath TEXT, SourceDatabase TEXT, SourceUser TEXT,"
    " TargetServer TEXT, TargetPath TEXT, TargetDatabase TEXT, TargetUser TEXT,"
    " ExceptionFile TEXT, StartTime TEXT, EndTime TEXT, JobIdentifier TEXT,"
    " Status INTEGER, Message TEXT, ObjectName TEXT, Quantity DOUBLE PRECISION,"
    " QuantityUnit TEXT, CurrentUserName TEXT, ComputerName TEXT, Arguments TEXT,"
    " RecordTime BIGINT)",
    "CREATE TABLE IF NOT EXISTS metadata_files ("
    " Id BIGSERIAL PRIMARY KEY,"
    " FileName TEXT NOT NULL, FileSize BIGINT, RecordedAt TEXT,"
    " JobIdentifier TEXT, CurrentUserName TEXT, ComputerName TEXT)",
    "ALTER TABLE job_history ADD COLUMN IF NOT EXISTS RecordTime BIGINT",
    "CREATE INDEX IF NOT EXISTS job_history_job ON job_history (JobIdentifier, Id)",
    "CREATE INDEX IF NOT EXISTS job_history_status ON job_history (Status, Id)",
    // Created last: its presence tells that the whole schema is there.
    "CREATE INDEX IF NOT EXISTS job_history_time ON job_history (RecordTime)",
};

QString reason(const QSqlError& e) {
    return DbErrorMessage(e, QStringLiteral("the database gave no reason"));
}

bool run(QSqlQuery& q, const QString& sql, QString& error) {
    if (q.exec(sql))
        return true;
    error = reason(q.lastError());
    return false;
}

int sqliteVersion(QSqlQuery& q) {
    return q.exec(QStringLiteral("PRAGMA user_version")) && q.next() ? q.value(0).toInt() : -1;
}

bool hasColumn(QSqlDatabase& db, const char* table, const char* column) {
    return db.record(QString::fromLatin1(table)).contains(QString::fromLatin1(column));
}

bool upgradeSqlite(QSqlDatabase& db, QSqlQuery& q, QString& error) {
    for (const char* statement : kSqliteTables)
        if (!run(q, QString::fromLatin1(statement), error))
            return false;
    if (!hasColumn(db, "job_history", "RecordTime")) {
        // Stored times are ISO 8601 with their offset, which SQLite turns into UTC itself.
        if (!run(q, QStringLiteral("ALTER TABLE job_history ADD COLUMN RecordTime INTEGER"),
                 error) ||
            !run(q,
                 QStringLiteral("UPDATE job_history SET RecordTime ="
                                " CAST(strftime('%s', COALESCE(EndTime, StartTime)) AS INTEGER)"),
                 error))
            return false;
    }
    for (const char* statement : kSqliteIndexes)
        if (!run(q, QString::fromLatin1(statement), error))
            return false;
    return run(q, QStringLiteral("PRAGMA user_version = %1").arg(kSqliteVersion), error);
}

}  // namespace

bool EnsureSqlite(QSqlDatabase& db, QString& error) {
    QSqlQuery q(db);
    if (sqliteVersion(q) >= kSqliteVersion)
        return true;
    // A writer's lock from the start, so that two programs opening a new repository at once do
    // not both read the old version and then fail to upgrade.
    if (!run(q, QStringLiteral("BEGIN IMMEDIATE"), error))
        return false;
    const bool ok = sqliteVersion(q) >= kSqliteVersion || upgradeSqlite(db, q, error);
    if (ok && run(q, QStringLiteral("COMMIT"), error))
        return true;
    q.exec(QStringLiteral("ROLLBACK"));
    return false;
}

namespace {

bool postgresSchemaComplete(QSqlQuery& q) {
    return q.exec(QStringLiteral("SELECT to_regclass('job_history_time') IS NOT NULL")) &&
           q.next() && q.value(0).toBool();
}

}  // namespace

bool EnsurePostgres(QSqlDatabase& db, QString& error) {
    QSqlQuery q(db);
    if (postgresSchemaComplete(q))
        return true;
    // CREATE ... IF NOT EXISTS is not safe against a second host doing the same at the same
    // moment; the advisory lock makes them take turns, and the transaction makes it all or none.
    // The server's notices ("already exists, skipping") would end up on standard error.
    if (!run(q, QStringLiteral("BEGIN"), error))
        return false;
    bool ok =
        run(q, QStringLiteral("SET LOCAL client_min_messages = warning"), error) &&
        run(q, QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kPostgresSchemaLock), error);
    const bool done = ok && postgresSchemaComplete(q);
    for (const char* statement : kPostgres) {
        if (!ok || done)
            break;
        ok = run(q, QString::fromLatin1(statement), error);
    }
    if (ok && run(q, QStringLiteral("COMMIT"), error))
        return true;
    q.exec(QStringLiteral("ROLLBACK"));
    return false;
}

bool FillRecordTimes(QSqlDatabase& db, QString& error) {
    QList<QPair<qint64, qint64>> times;  // (Id, RecordTime)
    {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        if (!run(q,
                 QStringLiteral("SELECT Id, EndTime, StartTime FROM job_history"
                                " WHERE RecordTime IS NULL"),
                 error))
            return false;
        while (q.next()) {
            std::optional<qint64> secs = TimeStamps::StoredSeconds(q.value(1).toString());
            if (!secs)
                secs = TimeStamps::StoredSeconds(q.value(2).toString());
            if (secs)
                times.append({q.value(0).toLongLong(), *secs});
        }
    }
    if (times.isEmpty())
        return true;
    if (!db.transaction()) {
        error = reason(db.lastError());
        return false;
    }
    QSqlQuery q(db);
    bool ok = q.prepare(QStringLiteral(
        "UPDATE job_history SET RecordTime = ? WHERE Id = ? AND RecordTime IS NULL"));
    for (qsizetype i = 0; ok && i < times.size(); ++i) {
        q.addBindValue(times.at(i).second);
        q.addBindValue(times.at(i).first);
        ok = q.exec();
    }
    if (ok && db.commit())
        return true;
    error = reason(ok ? db.lastError() : q.lastError());
    db.rollback();
    return false;
}

}  // namespace Schema
