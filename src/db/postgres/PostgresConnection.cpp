// Opening a connection to a PostgreSQL server.
#include <libpq-fe.h>
#include <pwd.h>
#include <unistd.h>

#include <QHash>
#include <QMutex>
#include <QSqlError>
#include <algorithm>
#include <chrono>
#include <vector>

#include "db/BulkSinkBase.h"
#include "db/DbInterface.h"
#include "db/SqlDialect.h"
#include "db/postgres/PendingConnection.h"
#include "db/postgres/PgStopCut.h"
#include "db/postgres/PostgresBackend.h"

namespace {

QString osUserName() {
    if (const passwd* pw = ::getpwuid(::geteuid()); pw != nullptr && pw->pw_name != nullptr)
        return QString::fromLocal8Bit(pw->pw_name);
    return qEnvironmentVariable("USER");
}

using Clock = std::chrono::steady_clock;

// A server that has just taken a connection is not tried again before the next one: a run opens
// several connections to the same server within a second (the package store, the destination,
// the job history), and each trial costs the server a process. For longer than this, the server
// is tried again first.
constexpr auto kAnsweredMemory = std::chrono::seconds(10);

QMutex answeredLock;
QHash<QString, Clock::time_point> answeredAt;

QString serverKey(const QSqlDatabase& db) {
    return db.hostName() + QLatin1Char(':') + QString::number(db.port());
}

bool answeredLately(const QString& server) {
    const QMutexLocker locker(&answeredLock);
    const auto it = answeredAt.constFind(server);
    return it != answeredAt.cend() && Clock::now() - *it < kAnsweredMemory;
}

void rememberAnswered(const QString& server) {
    const QMutexLocker locker(&answeredLock);
    answeredAt.insert(server, Clock::now());
}

}  // namespace

// Sets up a trial connection with libpq's non-blocking calls, looking at the stop flags every
// 100 ms: a server that does not answer (packets dropped, a server that accepts and then says
// nothing) keeps the program no longer than the time-out, and SIGTERM or SIGINT ends the wait at
// once. False with `why` when the time-out or a signal ended the attempt; true when the server
// answered, whether it took the login or not (the driver's connection then says what it said).
bool PostgresBackend::ServerAnswers(const QSqlDatabase& db, int timeoutSeconds,
                                    QString* why) const {
    const QString server = serverKey(db);
    if (answeredLately(server))
        return true;
    std::vector<QByteArray> texts;
    std::vector<const char*> keys, values;
    auto add = [&](const char* key, const QString& value) {
        if (value.isEmpty())
            return;
        texts.push_back(value.toUtf8());
        keys.push_back(key);
        values.push_back(texts.back().constData());
    };
    texts.reserve(5);
    add("host", db.hostName());
    add("port", db.port() > 0 ? QString::number(db.port()) : QString());
    add("dbname", db.databaseName());
    add("user", db.userName());
    add("password", db.password());
    keys.push_back(nullptr);
    values.push_back(nullptr);
    PendingConnection trial;
    if (!trial.Start(keys.data(), values.data()) || trial.Ended())
        return true;
    if (!trial.Finish(Clock::now() + std::chrono::seconds(timeoutSeconds), why))
        return false;
    if (trial.Connected())
        rememberAnswered(server);
    return true;
}

bool PostgresBackend::Open(DbConnection& c, const QString& database, bool trusted) const {
    const ServerLocation& server = c.Server();
    c.SetDialect(SqlDialect::PostgreSQL());
    const QString name = database.isEmpty() ? QStringLiteral("postgres") : database;
    c.SetDatabaseName(name);
    QSqlDatabase& db = c.Database();
    db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), c.ConnectionName());
    db.setHostName(server.host);
    db.setPort(server.port);
    db.setDatabaseName(name);
    if (trusted) {
        db.setUserName(server.user.isEmpty() ? osUserName() : server.user);
    } else {
        QString user = c.Property(QStringLiteral("User ID")).toString();
        if (user.isEmpty())
            user = server.user;
        db.setUserName(user);
        db.setPassword(c.Property(QStringLiteral("Password")).toString());
    }
    const int timeout = std::max(1, c.ConnectionTimeout);
    db.setConnectOptions(PostgresConnectOptions(timeout));
    // The driver's own connect blocks until the server answers; it is called once the server has
    // shown that it does.
    QString why;
    if (!ServerAnswers(db, timeout, &why)) {
        c.SetError(why);
        return false;
    }
    if (!db.open()) {
        c.TakeError(db.lastError(), QStringLiteral("The connection could not be opened."));
        return false;
    }
    return true;
}

std::unique_ptr<StopCutter::Registration> PostgresBackend::StopCut(QSqlDatabase& db) const {
    return CutOnStop(NativeHandle<PGconn>(db, {"PGconn*", "pg_conn*"}));
}

QString PostgresConnectOptions(int connectTimeoutSeconds) {
    return QStringLiteral(
               "connect_timeout=%1;keepalives=1;keepalives_idle=60;keepalives_interval=10;"
               "keepalives_count=6")
        .arg(connectTimeoutSeconds);
}

QString PostgresOsUserName() {
    return osUserName();
}
