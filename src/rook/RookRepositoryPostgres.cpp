// Opening a job-history repository held in a PostgreSQL database, shared by many runner hosts.
#include <pwd.h>
#include <unistd.h>

#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>

#include "db/DbInterface.h"
#include "db/postgres/PostgresDatabase.h"
#include "rook/RookRepository.h"
#include "rook/RookSchema.h"

namespace RookRepository {

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

// Opens `db` (added under `name`) on `database`. Without a password in the URL, libpq takes one
// from PGPASSWORD or the password file (~/.pgpass, PGPASSFILE) as for any PostgreSQL client.
bool openDatabase(QSqlDatabase& db, const QString& name, const PostgresTarget& t,
                  const QString& database, QString& error) {
    db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
    db.setHostName(t.host);
    db.setPort(t.port);
    db.setUserName(t.user);
    if (!t.password.isEmpty())
        db.setPassword(t.password);
    db.setDatabaseName(database);
    db.setConnectOptions(QStringLiteral("connect_timeout=%1").arg(kConnectTimeout));
    QString why;
    if (PostgresServerAnswers(db, kConnectTimeout, why) && db.open())
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

// Creates the repository's database through the server's maintenance database "postgres". True
// when the database exists afterwards (another host may have created it at the same moment);
// false when it existed already (so the first error stands) or cannot be created.
bool createDatabase(const QString& name, const PostgresTarget& t, QString& error) {
    const QString maintenanceName = name + QStringLiteral("-create");
    bool created = false;
    {
        QSqlDatabase db;
        QString why;
        if (!openDatabase(db, maintenanceName, t, QStringLiteral("postgres"), why))
            return false;
        if (!databaseExists(db, t.database)) {
            QString quoted = t.database;
            quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
            QSqlQuery q(db);
            if (q.exec(QStringLiteral("CREATE DATABASE \"%1\"").arg(quoted)) ||
                databaseExists(db, t.database))
                created = true;
            else
                error = QStringLiteral("cannot create the database %1: %2")
                            .arg(t.database, DbErrorMessage(q.lastError()));
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(maintenanceName);
    return created;
}

}  // namespace

bool Connection::openPostgres(const QString& url) {
    PostgresTarget t;
    if (!parseUrl(url, t, error_))
        return false;
    if (!openDatabase(db_, name_, t, t.database, error_)) {
        // The database may not be there yet: the first host to record creates it.
        if (!createDatabase(name_, t, error_) || !openDatabase(db_, name_, t, t.database, error_))
            return false;
    }
    if (!RookSchema::EnsurePostgres(db_, error_)) {
        db_.close();
        return false;
    }
    return true;
}

}  // namespace RookRepository
