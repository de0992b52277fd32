#include "history/Schema.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <optional>

#include "db/DbBackend.h"
#include "db/DbInterface.h"
#include "db/SqlDialect.h"
#include "history/TimeStamps.h"
#include "util/Errors.h"

namespace Schema {

namespace {

// The version of a repository whose schema is complete.
constexpr int kSchemaVersion = 2;

// Key of the lock under which programs create the schema (where the server has named locks).
constexpr qint64 kSchemaLock = 0x526f6f6b;

// Created last: its presence tells that the whole schema is there.
const char* const kLastIndex = "pendrill_run_outcome_record";

QString reason(const QSqlError& e) {
    return DbErrorMessage(e, QStringLiteral("the database gave no reason"));
}

bool run(QSqlQuery& q, const QString& sql, QString* error) {
    if (q.exec(sql))
        return true;
    return Fail(error, reason(q.lastError()));
}

bool hasColumn(QSqlDatabase& db, const char* table, const char* column) {
    return db.record(QString::fromLatin1(table)).contains(QString::fromLatin1(column));
}

// The statements that create what is missing, in order; each may run on a complete schema.
bool upgrade(QSqlDatabase& db, QSqlQuery& q, const SqlDialect& d, QString* error) {
    using Type = SqlDialect::Type;
    const QString text = d.TypeName(Type::Text), integer = d.TypeName(Type::Integer),
                  big = d.TypeName(Type::BigInt);
    const QString tables[] = {
        QStringLiteral("CREATE TABLE IF NOT EXISTS job_history ("
                       " Id %1,"
                       " Kind %2, ApplicationName %3,"
                       " SourceServer %3, SourcePath %3, SourceDatabase %3, SourceUser %3,"
                       " TargetServer %3, TargetPath %3, TargetDatabase %3, TargetUser %3,"
                       " ExceptionFile %3, StartTime %3, EndTime %3, JobIdentifier %3,"
                       " Status %2, Message %3, ObjectName %3, Quantity %4, QuantityUnit %3,"
                       " CurrentUserName %3, ComputerName %3, Arguments %3, RecordTime %5)")
            .arg(d.TypeName(Type::AutoKey), integer, text, d.TypeName(Type::Double), big),
        QStringLiteral("CREATE TABLE IF NOT EXISTS metadata_files ("
                       " Id %1,"
                       " FileName %2 NOT NULL, FileSize %3, RecordedAt %2,"
                       " JobIdentifier %2, CurrentUserName %2, ComputerName %2)")
            .arg(d.TypeName(Type::AutoKey), text, big),
    };
    for (const QString& statement : tables)
        if (!run(q, statement, error))
            return false;
    if (!hasColumn(db, "job_history", "RecordTime")) {
        if (!run(q, QStringLiteral("ALTER TABLE job_history ADD COLUMN RecordTime %1").arg(big),
                 error))
            return false;
        // Where the server reads the stored times itself, it fills the new column at once;
        // elsewhere FillRecordTimes does on every open.
        const QString seconds = d.StoredTimeSeconds(QStringLiteral("COALESCE(EndTime, StartTime)"));
        if (!seconds.isEmpty() &&
            !run(q, QStringLiteral("UPDATE job_history SET RecordTime = %1").arg(seconds), error))
            return false;
    }
    // Ordered by Id within each key: the listings are newest first.
    const QString indexes[] = {
        QStringLiteral(
            "CREATE INDEX IF NOT EXISTS job_history_job ON job_history (JobIdentifier, Id)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS job_history_status ON job_history (Status, Id)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS job_history_time ON job_history (RecordTime)"),
        // Beside the record (whose fields stay as they are): how Pendrill's own run ended.
        QStringLiteral("CREATE TABLE IF NOT EXISTS pendrill_run_outcome ("
                       " RecordId %1 NOT NULL, ExitStatus %2, DurationSeconds %3)")
            .arg(big, integer, d.TypeName(Type::Double)),
        QStringLiteral("CREATE UNIQUE INDEX IF NOT EXISTS %1 ON pendrill_run_outcome (RecordId)")
            .arg(QString::fromLatin1(kLastIndex)),
    };
    for (const QString& statement : indexes)
        if (!run(q, statement, error))
            return false;
    return true;
}

}  // namespace

bool Ensure(QSqlDatabase& db, const DbBackend& backend, QString* error) {
    const QString lastIndex = QString::fromLatin1(kLastIndex);
    if (backend.SchemaComplete(db, kSchemaVersion, lastIndex))
        return true;
    if (!backend.BeginSchemaChange(db, kSchemaLock, error))
        return false;
    QSqlQuery q(db);
    const bool ok = backend.SchemaComplete(db, kSchemaVersion, lastIndex) ||
                    (upgrade(db, q, backend.Dialect(), error) &&
                     backend.MarkSchemaComplete(db, kSchemaVersion, error));
    if (ok && run(q, QStringLiteral("COMMIT"), error))
        return true;
    q.exec(QStringLiteral("ROLLBACK"));
    return false;
}

bool FillRecordTimes(QSqlDatabase& db, QString* error) {
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
    if (!db.transaction())
        return Fail(error, reason(db.lastError()));
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
    SetError(error, reason(ok ? db.lastError() : q.lastError()));
    db.rollback();
    return false;
}

}  // namespace Schema
