#include "history/JobHistoryReader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlError>
#include <QVariant>
#include <algorithm>

#include "db/DbInterface.h"
#include "history/JobRecord.h"
#include "history/TimeStamps.h"
#include "util/Errors.h"

namespace {

QString reason(const QSqlError& e) {
    return DbErrorMessage(e, QStringLiteral("the database gave no reason"));
}

// A shell pattern as an anchored expression: * any text, ? one character, [...] one of a set
// ([!...] none of it); '/' is no different from other characters.
QRegularExpression patternExpression(const QString& pattern) {
    QString rx;
    // The ']' that closes a set is searched once for all the '[' before it (a pattern of many
    // '[' and no ']' is read once, not once per '[').
    qsizetype searchedFrom = -1;
    qsizetype nextClose = -1;  // the first ']' at or after searchedFrom; -1: none
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern.at(i);
        const bool opens = c == QLatin1Char('[');
        if (opens && (searchedFrom < 0 || (nextClose >= 0 && nextClose < i + 2))) {
            searchedFrom = i + 2;
            nextClose = pattern.indexOf(QLatin1Char(']'), searchedFrom);
        }
        const qsizetype close = opens ? nextClose : -1;
        if (c == QLatin1Char('*')) {
            rx += QLatin1String(".*");
        } else if (c == QLatin1Char('?')) {
            rx += QLatin1Char('.');
        } else if (close > 0) {
            QString set = pattern.mid(i + 1, close - i - 1);
            const bool negated = set.startsWith(QLatin1Char('!'));
            set = QRegularExpression::escape(negated ? set.mid(1) : set);
            set.replace(QLatin1String("\\-"), QLatin1String("-"));  // a range stays one
            rx += QLatin1Char('[') + (negated ? QLatin1String("^") : QLatin1String("")) + set +
                  QLatin1Char(']');
            i = close;
        } else {
            rx += QRegularExpression::escape(QString(c));
        }
    }
    return QRegularExpression(QRegularExpression::anchoredPattern(rx),
                              QRegularExpression::DotMatchesEverythingOption);
}

// The SELECT list: the record's columns, then the outcome stored beside it.
QString selectList() {
    QStringList list;
    for (const QString& c : JobHistoryReader::Columns())
        list << (c == QLatin1String("exitStatus")        ? QStringLiteral("o.ExitStatus")
                 : c == QLatin1String("durationSeconds") ? QStringLiteral("o.DurationSeconds")
                                                         : QStringLiteral("h.") + c);
    return list.join(QLatin1Char(','));
}

// The conditions of a filter on the records (h) of job_history, and their values.
void conditions(const JobHistoryFilter& filter, QStringList& where, QVariantList& binds) {
    QStringList exact;
    for (const QString& job : filter.jobs) {
        if (IsJobPattern(job)) {
            exact.clear();  // matched one by one by the reader
            break;
        }
        exact << QStringLiteral("?");
        binds << job;
    }
    if (!exact.isEmpty())
        where << QStringLiteral("h.JobIdentifier IN (%1)").arg(exact.join(QLatin1Char(',')));
    else
        binds.clear();
    if (filter.host) {
        where << QStringLiteral("h.ComputerName = ?");
        binds << *filter.host;
    }
}

}  // namespace

bool IsJobPattern(const QString& pattern) {
    return pattern.contains(QLatin1Char('*')) || pattern.contains(QLatin1Char('?')) ||
           pattern.contains(QLatin1Char('['));
}

bool JobMatches(const QString& pattern, const QString& job) {
    return IsJobPattern(pattern) ? patternExpression(pattern).match(job).hasMatch()
                                 : pattern == job;
}

bool JobPatternValid(const QString& pattern) {
    return !IsJobPattern(pattern) || patternExpression(pattern).isValid();
}

const QStringList& JobHistoryReader::Columns() {
    static const QStringList columns = [] {
        QStringList c = {"Id", "Kind", "ApplicationName"};
        c += JobRecord::PropertyNames();
        c += {"CurrentUserName", "ComputerName", "Arguments", "exitStatus", "durationSeconds"};
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
    conditions(filter, where, binds);
    patterns_.clear();
    if (!where.join(QLatin1Char(' ')).contains(QLatin1String("JobIdentifier")))
        for (const QString& job : filter.jobs)
            patterns_ << (IsJobPattern(job)
                              ? patternExpression(job)
                              : QRegularExpression(QRegularExpression::anchoredPattern(
                                    QRegularExpression::escape(job))));
    if (filter.status) {
        where << QStringLiteral("h.Status = ?");
        binds << *filter.status;
    }
    if (filter.since) {
        where << QStringLiteral("h.RecordTime >= ?");
        binds << *filter.since;
    }
    if (filter.before) {
        where << QStringLiteral("h.RecordTime < ?");
        binds << *filter.before;
    }
    QString sql = QStringLiteral(
                      "SELECT %1 FROM job_history h LEFT JOIN pendrill_run_outcome o"
                      " ON o.RecordId = h.Id")
                      .arg(selectList());
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    sql += QStringLiteral(" ORDER BY h.Id DESC");
    left_ = patterns_.isEmpty() ? -1 : filter.limit;
    if (filter.limit >= 0 && patterns_.isEmpty())
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
    static const int job = int(Columns().indexOf(QLatin1String("JobIdentifier")));
    if (!cursor_ || left_ == 0)
        return false;
    while (cursor_->Next()) {
        if (!patterns_.isEmpty()) {
            const QString id = cursor_->Value(job).toString();
            if (std::none_of(patterns_.cbegin(), patterns_.cend(),
                             [&id](const QRegularExpression& p) { return p.match(id).hasMatch(); }))
                continue;
        }
        if (left_ > 0)
            --left_;
        return true;
    }
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

qint64 PruneJobHistory(qint64 before, QString* error, const JobHistoryFilter& filter) {
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
        QStringList where;
        QVariantList binds;
        conditions(filter, where, binds);
        where << QStringLiteral("h.RecordTime < ?");
        binds << before;
        const QString matching = where.join(QStringLiteral(" AND "));
        QSqlQuery q(db);
        bool ok = true;
        if (!filter.jobs.isEmpty() && !matching.contains(QLatin1String("JobIdentifier"))) {
            // Patterns: the identifiers are matched here, and the records deleted one by one.
            QList<qint64> ids;
            ok =
                q.prepare(QStringLiteral("SELECT h.Id, h.JobIdentifier FROM job_history h WHERE ") +
                          matching);
            for (const QVariant& b : binds)
                q.addBindValue(b);
            ok = ok && q.exec();
            while (ok && q.next())
                for (const QString& job : filter.jobs)
                    if (JobMatches(job, q.value(1).toString())) {
                        ids << q.value(0).toLongLong();
                        break;
                    }
            q.finish();
            ok = ok && q.prepare(QStringLiteral("DELETE FROM job_history WHERE Id = ?"));
            for (qsizetype i = 0; ok && i < ids.size(); ++i) {
                q.addBindValue(ids.at(i));
                ok = q.exec();
            }
            deleted = ids.size();
        } else {
            QString sql = QStringLiteral("DELETE FROM job_history WHERE ") + matching;
            ok = q.prepare(sql.replace(QLatin1String("h."), QString()));
            for (const QVariant& b : binds)
                q.addBindValue(b);
            ok = ok && q.exec();
            deleted = q.numRowsAffected();
        }
        // The outcomes of the deleted records go with them.
        ok = ok && q.exec(QStringLiteral("DELETE FROM pendrill_run_outcome WHERE RecordId NOT IN"
                                         " (SELECT Id FROM job_history)"));
        if (!ok) {
            deleted = -1;
            SetError(error, reason(q.lastError()));
        }
    }
    if (deleted >= 0 && db.commit())
        return deleted;
    if (deleted >= 0)
        SetError(error, reason(db.lastError()));
    db.rollback();
    return -1;
}
