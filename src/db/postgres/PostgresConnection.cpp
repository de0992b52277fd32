// Opening a connection to a PostgreSQL server.
#include <libpq-fe.h>
#include <poll.h>
#include <pwd.h>
#include <unistd.h>

#include <QSqlError>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <vector>

#include "db/DbInterface.h"
#include "db/SqlDialect.h"
#include "db/postgres/PgResult.h"
#include "db/postgres/PostgresBackend.h"
#include "util/Errors.h"
#include "util/StopFlags.h"

namespace {

QString osUserName() {
    if (const passwd* pw = ::getpwuid(::geteuid()); pw != nullptr && pw->pw_name != nullptr)
        return QString::fromLocal8Bit(pw->pw_name);
    return qEnvironmentVariable("USER");
}

using Clock = std::chrono::steady_clock;

// Waits up to 100 ms for the socket of a connection being set up: 1 ready, 0 not yet, -1 error.
int waitForSocket(int fd, PostgresPollingStatusType wanted) {
    if (fd < 0)
        return -1;
    pollfd p{fd, static_cast<short>(wanted == PGRES_POLLING_READING ? POLLIN : POLLOUT), 0};
    const int n = ::poll(&p, 1, 100);
    if (n < 0)
        return errno == EINTR ? 0 : -1;
    return n > 0 ? 1 : 0;
}

}  // namespace

// Sets up a connection with libpq's non-blocking calls, looking at the stop flags every 100 ms:
// a server that does not answer (packets dropped, a server that accepts and then says nothing)
// keeps the program no longer than the time-out, and SIGTERM or SIGINT ends the wait at once.
// False with `why` when the time-out or a signal ended the attempt; true when the server
// answered, whether it took the login or not (the driver's connection then says what it said).
bool PostgresBackend::ServerAnswers(const QSqlDatabase& db, int timeoutSeconds,
                                    QString* why) const {
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
    const PgConnection c(PQconnectStartParams(keys.data(), values.data(), 0));
    if (c == nullptr || PQstatus(c.get()) == CONNECTION_BAD)
        return true;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
    PostgresPollingStatusType status = PGRES_POLLING_WRITING;
    bool answered = true;
    while (status != PGRES_POLLING_OK && status != PGRES_POLLING_FAILED) {
        if (StopFlags::TerminationSignalled) {
            SetError(why, QStringLiteral("The connection attempt was ended by a stop request."));
            answered = false;
            break;
        }
        if (Clock::now() >= deadline) {
            SetError(why, QStringLiteral("Could not connect to the server: timeout expired."));
            answered = false;
            break;
        }
        const int ready = waitForSocket(PQsocket(c.get()), status);
        if (ready < 0)
            break;
        if (ready > 0)
            status = PQconnectPoll(c.get());
    }
    return answered;
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
    db.setConnectOptions(QStringLiteral("connect_timeout=%1").arg(timeout));
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

QString PostgresOsUserName() {
    return osUserName();
}
