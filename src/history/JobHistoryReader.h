#pragma once

#include <QJsonObject>
#include <QList>
#include <QRegularExpression>
#include <QString>
#include <memory>
#include <optional>

#include "db/RowCursor.h"
#include "history/Repository.h"
#include "history/TimeStamps.h"

// Which job-history records a listing shows. Times are seconds since 1970 UTC and are compared
// with the record's end time (or, for a record closed without one, the time it was stored).
struct JobHistoryFilter {
    // JobIdentifier matching one of these shell patterns (* ? [...]); a pattern without them
    // matches the identifier equal to it. Empty: every identifier.
    QStringList jobs;
    std::optional<QString> host;   // ComputerName equal to this
    std::optional<qint32> status;  // Status equal to this
    std::optional<qint64> since;   // at or after
    std::optional<qint64> before;  // strictly before
    qint64 limit = -1;             // at most this many records; negative: all
};

// Reads the job-history records back, newest first, one at a time from a forward-only cursor, so
// that memory stays the same whatever the number of records. As a JSON object, a record has
// every stored field under its property name (null where the property was never set), "Id",
// "Kind", "ApplicationName", "CurrentUserName", "ComputerName", "Arguments": positions 3 to
// 28 of the closing call as an array, and, stored beside the records of Pendrill's own runs,
// "exitStatus" and "durationSeconds" (null for other records). StartTime and EndTime are given in
// this computer's local time with its offset (ISO 8601), whichever host wrote them.
class JobHistoryReader {
  public:
    // The columns of a record, in the order of Value(): "Id", "Kind", "ApplicationName", the
    // properties, "CurrentUserName", "ComputerName", "Arguments".
    static const QStringList& Columns();

    // Opens the repository and starts the query. False with `error` set when the repository
    // cannot be read.
    bool Open(const JobHistoryFilter& filter, QString* error = nullptr);
    // Moves to the next record; false at the end or on an error (then Error() is not empty).
    bool Next();
    // A column of the current record as stored (times as their writer wrote them).
    QVariant Value(int column) const { return cursor_->Value(column); }
    // A column of the current record without a QVariant: what kind of value it holds, and the
    // UTF-8 bytes of a text or the number of an integer as stored. Kind Other (every field on
    // a server other than the embedded one): read it with Value().
    RowCursor::Kind FieldKind(int column) const { return cursor_->FieldKind(column); }
    QByteArrayView Utf8(int column) const { return cursor_->Utf8(column); }
    qint64 Integer(int column) const { return cursor_->Integer(column); }
    // A column of the current record as its JSON object holds it: null where never set,
    // StartTime and EndTime in local time, the others as stored (Arguments as its JSON text).
    QVariant Field(int column) const;
    // The current record as a JSON object, times in local time.
    QJsonObject Record() const;
    // The next record as a JSON object; false as Next().
    bool Next(QJsonObject& record);
    const QString& Error() const { return error_; }

  private:
    Repository::Connection repo_;
    std::unique_ptr<RowCursor> cursor_;  // destroyed before the connection
    mutable TimeStamps::LocalTimes localTimes_;
    QList<QRegularExpression> patterns_;  // matched here where the query cannot
    qint64 left_ = -1;                    // records still to give when patterns_ set a limit
    QString error_;
};

// Every matching record at once (for small listings and tests). False with `error` set when the
// repository cannot be read.
bool ReadJobHistory(QList<QJsonObject>& records, int limit = -1, QString* error = nullptr);

// Whether `pattern` has a wildcard of the shell (* ? [), and a job identifier matches it.
bool IsJobPattern(const QString& pattern);
bool JobMatches(const QString& pattern, const QString& job);
// False for a pattern that matches nothing because it cannot be read (a set such as [z-a]).
bool JobPatternValid(const QString& pattern);

// Deletes the job-history records older than `before` (seconds since 1970 UTC, compared as the
// filter's times) that match the filter's jobs and host, in one transaction: all of them or, on
// any failure, none. The number deleted, or -1 with `error` set.
qint64 PruneJobHistory(qint64 before, QString* error = nullptr,
                       const JobHistoryFilter& filter = {});
