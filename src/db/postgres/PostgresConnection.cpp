// Opening a connection to a PostgreSQL server.
#include <pwd.h>
#include <unistd.h>

#include <QSqlError>
#include <algorithm>

#include "db/DbInterface.h"
#include "db/SqlDialect.h"

namespace {

QString osUserName() {
    if (const passwd* pw = ::getpwuid(::geteuid()); pw != nullptr && pw->pw_name != nullptr)
        return QString::fromLocal8Bit(pw->pw_name);
    return qEnvironmentVariable("USER");
}

}  // namespace

bool DbConnection::openPostgres(const QString& database, bool trusted) {
    dialect_ = &SqlDialect::PostgreSQL();
    database_ = database.isEmpty() ? QStringLiteral("postgres") : database;
    db_ = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connectionName_);
    db_.setHostName(server_.host);
    db_.setPort(server_.port);
    db_.setDatabaseName(database_);
    if (trusted) {
        db_.setUserName(server_.user.isEmpty() ? osUserName() : server_.user);
    } else {
        QString user = Property(QStringLiteral("User ID")).toString();
        if (user.isEmpty())
            user = server_.user;
        db_.setUserName(user);
        db_.setPassword(Property(QStringLiteral("Password")).toString());
    }
    db_.setConnectOptions(QStringLiteral("connect_timeout=%1").arg(std::max(1, ConnectionTimeout)));
    if (!db_.open()) {
        takeErrors(db_.lastError(), QStringLiteral("The connection could not be opened."));
        return false;
    }
    return true;
}
