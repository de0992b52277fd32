#include "history/JobHistoryReader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlError>
#include <QVariant>

#include "db/DbInterface.h"
#include "history/JobRecord.h"
#include "history/TimeStamps.h"
#include "util/Errors.h"

namespace {

QString reason(const QSqlError& e) {
    return DbErrorMessage(e, QStringLiteral("the database gave no reason"));
}

}  // namespace

const QStringList& JobHistoryReader::Columns() {
    static const QStringList columns = [] {
        QStringList c = {"Id", "Kind", "ApplicationName"};
        c += JobRecord::PropertyNames();
        c += {"CurrentUserName", "ComputerName", "Arguments"};
        return c;
    }();
    return columns;
}

bool JobHistoryReader::Open(const JobHistoryFilter& filter, QString* error) {
    if (!repo_.Open()) {
        error_ = repo_.LastError();
        SetError(error, error_);
        return false;
    }
    QStringList where;
    QVariantList binds;
    if (filter.job) {
        where << QStringLiteral("JobIdentifier = ?");
        binds << *filter.job;
    }
    if (filter.status) {
        where << QStringLiteral("Status = ?");
        binds << *filter.status;
    }
    if (filter.since) {
        where << QStringLiteral("RecordTime >= ?");
        binds << *filter.since;
    }
    if (filter.before) {
        where << QStringLiteral("RecordTime < ?");
        binds << *filter.before;
    }
    QString sql = QStringLiteral("SELECT %1 FROM job_history").arg(Columns().join(','));
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    sql += QStringLiteral(" ORDER BY Id DESC");
    if (filter.limit >= 0)
        sql += QStringLiteral(" LIMIT %1").arg(filter.limit);

    // Forward only: SQLite steps through the rows, PostgreSQL sends them one by one.
    cursor_ = OpenRowCursor(repo_.Db(), sql, binds, &error_);
    if (!cursor_) {
        SetError(error, error_);
        return false;
    }
    return true;
}

bool JobHistoryReader::Next() {
    if (!cursor_)
        return false;
    if (cursor_->Next())
        return true;
    error_ = cursor_->Error();
    return false;
}

QVariant JobHistoryReader::Field(int column) const {
    static const int startTime = int(Columns().indexOf(QLatin1String("StartTime")));
    static const int endTime = int(Columns().indexOf(QLatin1String("EndTime")));
    QVariant v = cursor_->Value(column);
    if ((column == startTime || column == endTime) && !v.isNull()) {
        const QString stored = v.toString();
        const std::optional<qint64> secs = TimeStamps::StoredSeconds(stored);
        return secs ? localTimes_.Text(*secs) : stored;
    }
    return v;
}

QJsonObject JobHistoryReader::Record() const {
    static const int arguments = int(Columns().indexOf(QLatin1String("Arguments")));
    const QStringList& columns = Columns();
    QJsonObject record;
    for (int i = 0; i < columns.size(); ++i) {
        const QVariant v = Field(i);
        if (i == arguments)
            record.insert(columns.at(i), QJsonDocument::fromJson(v.toString().toUtf8()).array());
        else if (v.isNull())
            record.insert(columns.at(i), QJsonValue());
        else
            record.insert(columns.at(i), QJsonValue::fromVariant(v));
    }
    return record;
}

bool JobHistoryReader::Next(QJsonObject& record) {
    if (!Next())
        return false;
    record = Record();
    return true;
}

bool ReadJobHistory(QList<QJsonObject>& records, int limit, QString* error) {
    records.clear();
    JobHistoryFilter filter;
    filter.limit = limit;
    JobHistoryReader reader;
    if (!reader.Open(filter, error))
        return false;
    QJsonObject o;
    while (reader.Next(o))
        records.append(o);
    if (reader.Error().isEmpty())
        return true;
    SetError(error, reader.Error());
    return false;
}

qint64 PruneJobHistory(qint64 before, QString* error) {
    Repository::Connection repo;
    if (!repo.Open()) {
        SetError(error, repo.LastError());
        return -1;
    }
    QSqlDatabase& db = repo.Db();
    if (!db.transaction()) {
        SetError(error, reason(db.lastError()));
        return -1;
    }
    qint64 deleted = -1;
    {
        QSqlQuery q(db);
        q.prepare(QStringLiteral("DELETE FROM job_history WHERE RecordTime < ?"));
        q.addBindValue(before);
        if (q.exec())
            deleted = q.numRowsAffected();
        else
            SetError(error, reason(q.lastError()));
    }
    if (deleted >= 0 && db.commit())
        return deleted;
    if (deleted >= 0)
        SetError(error, reason(db.lastError()));
    db.rollback();
    return -1;
}
