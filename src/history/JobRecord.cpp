#include "history/JobRecord.h"

#include <pwd.h>
#include <unistd.h>

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>
#include <optional>
#include <utility>

#include "history/Repository.h"
#include "history/TimeStamps.h"
#include "util/RunTargets.h"

JobRecord::CloseArguments JobRecord::DefaultCloseArguments() {
    CloseArguments a;
    const QVariant missing(QStringLiteral("Missing"));
    a.fill(missing);
    // Array index = position - 3.
    a[16 - 3] = QVariant(qint32(99));
    a[19 - 3] = QVariant(2.0);
    a[20 - 3] = QVariant(2.0);
    a[21 - 3] = QVariant(-1.0);
    a[27 - 3] = QVariant(qint32(0));
    a[28 - 3] = QVariant(qint32(0));
    return a;
}

JobRecord::CloseArguments JobRecord::CloseArgumentsFor(const QString& kind, const QString& name) {
    CloseArguments a = DefaultCloseArguments();
    a[0] = kind;
    a[1] = name;
    return a;
}

const QStringList& JobRecord::PropertyNames() {
    static const QStringList names = {
        "SourceServer", "SourcePath",     "SourceDatabase", "SourceUser",    "TargetServer",
        "TargetPath",   "TargetDatabase", "TargetUser",     "ExceptionFile", "StartTime",
        "EndTime",      "JobIdentifier",  "Status",         "Message",       "ObjectName",
        "Quantity",     "QuantityUnit"};
    return names;
}

// Both are looked up once per process: a fetch of many files closes a record for each, on a
// thread of its own (getpwuid's result is not the thread's own either).
QString JobRecord::CurrentUserName() const {
    static const QString name = [] {
        if (const passwd* pw = ::getpwuid(::geteuid()); pw != nullptr && pw->pw_name != nullptr)
            return QString::fromLocal8Bit(pw->pw_name);
        return qEnvironmentVariable("USER");
    }();
    return name;
}

QString JobRecord::ComputerName() const {
    static const QString name = QSysInfo::machineHostName();
    return name;
}

namespace {
QVariant storedValue(const QVariant& v) {
    if (!v.isValid())
        return QVariant();
    if (v.typeId() == QMetaType::QDateTime)
        return TimeStamps::ToText(v.toDateTime());
    // The database layer binds a null QString as NULL; a set text is never "no value".
    if (v.typeId() == QMetaType::QString && v.toString().isNull())
        return QVariant(QStringLiteral(""));
    return v;
}

// The closing arguments as the compact JSON array stored with the record. The text of the last
// arguments is kept, per thread: a copy closes a record with the same ones for every file.
QString argumentsText(const JobRecord::CloseArguments& arguments) {
    thread_local std::optional<std::pair<JobRecord::CloseArguments, QString>> last;
    if (last && last->first == arguments)
        return last->second;
    QJsonArray array;
    for (const QVariant& v : arguments)
        array.append(QJsonValue::fromVariant(v));
    last.emplace(arguments, QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact)));
    return last->second;
}

void reportStorageError(const QString& what, const QString& error) {
    RunTargets::ReportProblem(QStringLiteral("job history: %1: %2").arg(what, error));
}
}  // namespace

bool JobRecord::Close(qint32 kind, const QString& applicationName,
                      const CloseArguments& arguments) {
    closed_ = true;
    Repository::Connection repo;
    if (!repo.Open()) {
        reportStorageError(QStringLiteral("cannot open the repository"), repo.LastError());
        return false;
    }
    return Close(repo, kind, applicationName, arguments);
}

bool JobRecord::Close(Repository::Connection& repo, qint32 kind, const QString& applicationName,
                      const CloseArguments& arguments) {
    closed_ = true;
    static const QString insert = [] {
        QStringList columns = {"Kind", "ApplicationName"};
        columns += PropertyNames();
        columns += {"CurrentUserName", "ComputerName", "Arguments", "RecordTime"};
        return QStringLiteral("INSERT INTO job_history (%1) VALUES (%2) RETURNING Id")
            .arg(columns.join(','), QStringList(columns.size(), QStringLiteral("?")).join(','));
    }();
    QSqlQuery* q = repo.Prepared(insert);
    if (q == nullptr) {
        reportStorageError(QStringLiteral("cannot store the record"), repo.LastError());
        return false;
    }
    int position = 0;
    q->bindValue(position++, kind);
    q->bindValue(position++, applicationName);
    for (const QString& name : PropertyNames())
        q->bindValue(position++, storedValue(props_.value(name)));
    q->bindValue(position++, CurrentUserName());
    q->bindValue(position++, ComputerName());
    q->bindValue(position++, argumentsText(arguments));
    // The time listings filter on and pruning goes by: the end time, else now.
    const QDateTime end = EndTime();
    q->bindValue(position++,
                 (end.isValid() ? end : QDateTime::currentDateTimeUtc()).toSecsSinceEpoch());
    if (!q->exec()) {
        reportStorageError(QStringLiteral("cannot store the record"), q->lastError().text());
        return false;
    }
    storedKey_ = q->next() ? q->value(0) : QVariant();
    q->finish();
    return true;
}

bool JobRecord::StoreOutcome(int exitStatus) {
    if (storedKey_.isNull())
        return false;
    const double seconds = double(age_.elapsed()) / 1000.0;
    Repository::Connection repo;
    if (!repo.Open()) {
        reportStorageError(QStringLiteral("cannot open the repository"), repo.LastError());
        return false;
    }
    QSqlQuery q(repo.Db());
    q.prepare(
        QStringLiteral("INSERT INTO pendrill_run_outcome (RecordId, ExitStatus,"
                       " DurationSeconds) VALUES (?,?,?)"));
    q.addBindValue(storedKey_.toLongLong());
    q.addBindValue(exitStatus);
    q.addBindValue(seconds);
    if (!q.exec()) {
        reportStorageError(QStringLiteral("cannot store the run's outcome"), q.lastError().text());
        return false;
    }
    storedKey_ = QVariant();
    return true;
}

bool JobRecord::ProcessMetadataFile(const QString& fileName) {
    Repository::Connection repo;
    if (!repo.Open()) {
        reportStorageError(QStringLiteral("cannot open the repository"), repo.LastError());
        return false;
    }
    const QFileInfo info(fileName);
    QSqlQuery q(repo.Db());
    q.prepare(
        QStringLiteral("INSERT INTO metadata_files (FileName, FileSize, RecordedAt, JobIdentifier,"
                       " CurrentUserName, ComputerName) VALUES (?,?,?,?,?,?)"));
    q.addBindValue(fileName);
    q.addBindValue(info.isFile() ? QVariant(info.size()) : QVariant());
    q.addBindValue(TimeStamps::ToText(QDateTime::currentDateTimeUtc()));
    q.addBindValue(storedValue(props_.value(QStringLiteral("JobIdentifier"))));
    q.addBindValue(CurrentUserName());
    q.addBindValue(ComputerName());
    if (!q.exec()) {
        reportStorageError(QStringLiteral("cannot record the metadata file"), q.lastError().text());
        return false;
    }
    return true;
}
