// PostgreSQL databases: made by CREATE DATABASE on the server's maintenance database, and opened
// by a URL (a database many hosts share, created by the first that needs it).
#include <QHash>
#include <QMutex>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <algorithm>
#include <chrono>

#include "db/Backends.h"
#include "db/BulkRowSink.h"
#include "db/DbInterface.h"
#include "db/SqlDialect.h"
#include "db/postgres/PostgresBackend.h"
#include "db/postgres/PostgresCopySink.h"
#include "util/Errors.h"

namespace {

// Seconds a host may take to answer before a database named by a URL counts as not reachable.
constexpr int kConnectTimeout = 10;

struct PostgresTarget {
    QString host, user, password, database;
    int port = 5432;
};

bool parseUrl(const QString& text, PostgresTarget& t, QString* error) {
    const QUrl url(text, QUrl::StrictMode);
    QString database = url.path(QUrl::FullyDecoded);
    if (database.startsWith(QLatin1Char('/')))
        database.remove(0, 1);
    if (!url.isValid() || database.isEmpty() || database.contains(QLatin1Char('/')))
        return Fail(error, QStringLiteral("not a PostgreSQL URL of the form "
                                          "postgresql://user@host:port/database"));
    t.host = url.host(QUrl::FullyDecoded);
    t.port = url.port(5432);
    t.user = url.userName(QUrl::FullyDecoded);
    if (t.user.isEmpty())
        t.user = PostgresOsUserName();
    t.password = url.password(QUrl::FullyDecoded);
    t.database = database;
    return true;
}

using Clock = std::chrono::steady_clock;

// A location that did not answer in time is not tried again by the same process for a while: a
// run that finds its job history unreachable still closes its record, and that attempt must not
// make it wait a second time.
constexpr auto kUnreachableMemory = std::chrono::seconds(60);

struct Unreachable {
    Clock::time_point until;
    QString reason;
};

QMutex unreachableLock;
QHash<QString, Unreachable> unreachable;

bool knownUnreachable(const QString& url, QString* error) {
    const QMutexLocker locker(&unreachableLock);
    const auto it = unreachable.constFind(url);
    if (it == unreachable.cend() || Clock::now() >= it->until)
        return false;
    SetError(error, it->reason);
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
                  QString* error) {
    db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
    db.setHostName(t.host);
    db.setPort(t.port);
    db.setUserName(t.user);
    if (!t.password.isEmpty())
        db.setPassword(t.password);
    db.setDatabaseName(database);
    const int timeout = secondsLeft(deadline);
    db.setConnectOptions(PostgresConnectOptions(timeout));
    QString why;
    answered = PostgresServerBackend().ServerAnswers(db, timeout, &why);
    if (answered && db.open())
        return true;
    SetError(error, !why.isEmpty() ? why
                                   : DbErrorMessage(db.lastError(),
                                                    QStringLiteral("the server gave no reason")));
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(name);
    return false;
}

const QString kDatabaseExists = QStringLiteral("SELECT 1 FROM pg_database WHERE datname = ?");

bool databaseExists(QSqlDatabase& db, const QString& database) {
    QSqlQuery q(db);
    q.prepare(kDatabaseExists);
    q.addBindValue(database);
    return q.exec() && q.next();
}

QString createDatabaseSql(const QString& name) {
    return QStringLiteral("CREATE DATABASE ") + SqlDialect::PostgreSQL().QuoteIdentifier(name);
}

// Makes sure the database of `t` exists, creating it through the server's maintenance database
// "postgres". True when it exists afterwards, whoever created it: many hosts may find it missing
// at the same moment, and all but one then lose the race to create it. False with `error` when
// it neither exists nor can be created.
bool ensureDatabase(const QString& name, const PostgresTarget& t, Clock::time_point deadline,
                    QString* error) {
    const QString maintenanceName = name + QStringLiteral("-create");
    bool exists = false;
    {
        QSqlDatabase db;
        bool answered = false;
        QString why;
        if (!openDatabase(db, maintenanceName, t, QStringLiteral("postgres"), deadline, answered,
                          &why))
            return false;
        exists = databaseExists(db, t.database);
        if (!exists) {
            QSqlQuery q(db);
            exists = q.exec(createDatabaseSql(t.database)) || databaseExists(db, t.database);
            if (!exists)
                SetError(error, QStringLiteral("cannot create the database %1: %2")
                                    .arg(t.database, DbErrorMessage(q.lastError())));
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(maintenanceName);
    return exists;
}

QString reason(const QSqlError& e) {
    return DbErrorMessage(e, QStringLiteral("the database gave no reason"));
}

}  // namespace

const SqlDialect& PostgresBackend::Dialect() const {
    return SqlDialect::PostgreSQL();
}

std::unique_ptr<BulkRowSink> PostgresBackend::OpenBulkSink(std::unique_ptr<DbConnection> c,
                                                           const QString& table) const {
    return OpenPostgresCopySink(std::move(c), table);
}

bool PostgresBackend::HasDatabase(DbConnection& maintenance, const QString& name,
                                  bool* exists) const {
    DbRecordset rs;
    if (!rs.Open(kDatabaseExists, maintenance, {name})) {
        maintenance.SetError(rs.LastError());
        return false;
    }
    *exists = !rs.IsEOF();
    return true;
}

bool PostgresBackend::CreateDatabase(DbConnection& maintenance, const QString& name) const {
    return maintenance.Execute(createDatabaseSql(name));
}

bool PostgresBackend::OpenLocation(QSqlDatabase& db, const QString& connectionName,
                                   const QString& url, bool, QString* error) const {
    PostgresTarget t;
    if (!parseUrl(url, t, error))
        return false;
    if (knownUnreachable(url, error))
        return false;
    // One time limit for the whole opening, however many connects it takes.
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(kConnectTimeout);
    bool answered = false;
    QString why;
    if (!openDatabase(db, connectionName, t, t.database, deadline, answered, &why)) {
        // The database may not be there yet: the first host to use it creates it, and a host
        // that finds it created by another meanwhile connects again.
        const bool opened =
            answered && Clock::now() < deadline &&
            ensureDatabase(connectionName, t, deadline, &why) &&
            openDatabase(db, connectionName, t, t.database, deadline, answered, &why);
        if (!opened) {
            if (!answered || Clock::now() >= deadline)
                rememberUnreachable(url, why);
            return Fail(error, why);
        }
    }
    return true;
}

bool PostgresBackend::SchemaComplete(QSqlDatabase& db, int, const QString& lastIndex) const {
    QSqlQuery q(db);
    QString name = lastIndex;
    name.replace(QLatin1Char('\''), QLatin1String("''"));
    return q.exec(QStringLiteral("SELECT to_regclass('%1') IS NOT NULL").arg(name)) && q.next() &&
           q.value(0).toBool();
}

bool PostgresBackend::BeginSchemaChange(QSqlDatabase& db, qint64 lockKey, QString* error) const {
    // CREATE ... IF NOT EXISTS is not safe against a second host doing the same at the same
    // moment; the advisory lock makes them take turns, and the transaction makes it all or none.
    // The server's notices ("already exists, skipping") would end up on standard error.
    QSqlQuery q(db);
    for (const QString& sql :
         {QStringLiteral("BEGIN"), QStringLiteral("SET LOCAL client_min_messages = warning"),
          QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(lockKey)}) {
        if (!q.exec(sql)) {
            const QString why = reason(q.lastError());
            if (sql != QLatin1String("BEGIN"))
                q.exec(QStringLiteral("ROLLBACK"));
            return Fail(error, why);
        }
    }
    return true;
}

bool PostgresBackend::MarkSchemaComplete(QSqlDatabase&, int, QString*) const {
    return true;  // the last index created is the mark (SchemaComplete)
}

const DbBackend& PostgresServerBackend() {
    static const PostgresBackend backend;
    return backend;
}
