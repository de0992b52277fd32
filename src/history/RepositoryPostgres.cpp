// Opening a job-history repository held in a PostgreSQL database, shared by many runner hosts.
#include <pwd.h>
#include <unistd.h>

#include <QHash>
#include <QMutex>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <algorithm>
#include <chrono>

#include "db/DbInterface.h"
#include "db/postgres/PostgresDatabase.h"
#include "history/Repository.h"
#include "history/Schema.h"

namespace Repository {

namespace {

// Seconds a host may take to answer before the repository counts as not reachable.
constexpr int kConnectTimeout = 10;

struct PostgresTarget {
    QString host, user, password, database;
    int port = 5432;
};

QString osUserName() {
    if (const passwd* pw = ::getpwuid(::geteuid()); pw != nullptr && pw->pw_name != nullptr)
        return QString::fromLocal8Bit(pw->pw_name);
    return qEnvironmentVariable("USER");
}

bool parseUrl(const QString& text, PostgresTarget& t, QString& error) {
    const QUrl url(text, QUrl::StrictMode);
    QString database = url.path(QUrl::FullyDecoded);
    if (database.startsWith(QLatin1Char('/')))
        database.remove(0, 1);
    if (!url.isValid() || database.isEmpty() || database.contains(QLatin1Char('/'))) {
        error = QStringLiteral(
            "not a PostgreSQL URL of the form "
            "postgresql://user@host:port/database");
        return false;
    }
    t.host = url.host(QUrl::FullyDecoded);
    t.port = url.port(5432);
    t.user = url.userName(QUrl::FullyDecoded);
    if (t.user.isEmpty())
        t.user = osUserName();
    t.password = url.password(QUrl::FullyDecoded);
    t.database = database;
    return true;
}

using Clock = std::chrono::steady_clock;

// A location that did not answer in time is not tried again by the same process for a while: a
// run that finds its repository unreachable still closes its record, and that attempt must not
// make it wait a second time.
constexpr auto kUnreachableMemory = std::chrono::seconds(60);

struct Unreachable {
    Clock::time_point until;
    QString reason;
};

QMutex unreachableLock;
QHash<QString, Unreachable> unreachable;

bool knownUnreachable(const QString& url, QString& error) {
    const QMutexLocker locker(&unreachableLock);
    const auto it = unreachable.constFind(url);
    if (it == unreachable.cend() || Clock::now() >= it->until)
        return false;
    error = it->reason;
    return true;
}

void rememberUnreachable(const QString& url, const QString& reason) {
    const QMutexLocker locker(&unreachableLock);
    unreachable.insert(url, {Clock::now() + kUnreachableMemory, reason});
}

// Whole seconds left before `deadline`, at least 1 (a connect is always tried once).
int secondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::seconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::max<std::chrono::seconds::rep>(1, left));
}

// Opens `db` (added under `name`) on `database`, waiting no later than `deadline`. Without a
// password in the URL, libpq takes one from PGPASSWORD or the password file (~/.pgpass,
// PGPASSFILE) as for any PostgreSQL client. `answered` tells whether the server answered at all
// (false: it could not be reached in time, or a stop request ended the wait).
bool openDatabase(QSqlDatabase& db, const QString& name, const PostgresTarget& t,
                  const QString& database, Clock::time_point deadline, bool& answered,
                  QString& error) {
    db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
    db.setHostName(t.host);
    db.setPort(t.port);
    db.setUserName(t.user);
    if (!t.password.isEmpty())
        db.setPassword(t.password);
    db.setDatabaseName(database);
    const int timeout = secondsLeft(deadline);
    db.setConnectOptions(QStringLiteral("connect_timeout=%1").arg(timeout));
    QString why;
    answered = PostgresServerAnswers(db, timeout, why);
    if (answered && db.open())
        return true;
    error = !why.isEmpty()
                ? why
                : DbErrorMessage(db.lastError(), QStringLiteral("the server gave no reason"));
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(name);
    return false;
}

bool databaseExists(QSqlDatabase& db, const QString& database) {
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT 1 FROM pg_database WHERE datname = ?"));
    q.addBindValue(database);
    return q.exec() && q.next();
}

// Makes sure the repository's database exists, creating it through the server's maintenance
// database "postgres". True when it exists afterwards, whoever created it: many hosts may find it
// missing at the same moment, and all but one then lose the race to create it. False with `error`
// when it neither exists nor can be created.
bool ensureDatabase(const QString& name, const PostgresTarget& t, Clock::time_point deadline,
                    QString& error) {
    const QString maintenanceName = name + QStringLiteral("-create");
    bool exists = false;
    {
        QSqlDatabase db;
        bool answered = false;
        QString why;
        if (!openDatabase(db, maintenanceName, t, QStringLiteral("postgres"), deadline, answered,
                          why))
            return false;
        exists = databaseExists(db, t.database);
        if (!exists) {
            QString quoted = t.database;
            quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
            QSqlQuery q(db);
            exists = q.exec(QStringLiteral("CREATE DATABASE \"%1\"").arg(quoted)) ||
                     databaseExists(db, t.database);
            if (!exists)
                error = QStringLiteral("cannot create the database %1: %2")
                            .arg(t.database, DbErrorMessage(q.lastError()));
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(maintenanceName);
    return exists;
}

}  // namespace

bool Connection::openPostgres(const QString& url) {
    PostgresTarget t;
    if (!parseUrl(url, t, error_))
        return false;
    if (knownUnreachable(url, error_))
        return false;
    // One time limit for the whole opening, however many connects it takes.
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(kConnectTimeout);
    bool answered = false;
    if (!openDatabase(db_, name_, t, t.database, deadline, answered, error_)) {
        // The database may not be there yet: the first host to record creates it, and a host
        // that finds it created by another meanwhile connects again.
        const bool opened = answered && Clock::now() < deadline &&
                            ensureDatabase(name_, t, deadline, error_) &&
                            openDatabase(db_, name_, t, t.database, deadline, answered, error_);
        if (!opened) {
            if (!answered || Clock::now() >= deadline)
                rememberUnreachable(url, error_);
            return false;
        }
    }
    if (!Schema::EnsurePostgres(db_, error_) || !Schema::FillRecordTimes(db_, error_)) {
        db_.close();
        return false;
    }
    return true;
}

}  // namespace Repository
