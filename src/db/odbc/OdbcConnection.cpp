// Opening a connection through an ODBC connection text.
#include <QSqlDriver>
#include <QSqlError>
#include <algorithm>

#include "db/DbInterface.h"
#include "db/SqlDialect.h"

bool DbConnection::openOdbc(const QString& database, bool trusted) {
    database_ = database;
    QString text = server_.odbc;
    auto has = [&](const char* key) {
        return text.contains(QLatin1String(key) + QLatin1Char('='), Qt::CaseInsensitive);
    };
    auto add = [&](const QString& part) {
        if (!text.endsWith(';'))
            text += ';';
        text += part;
    };
    if (!database.isEmpty() && !has("Database"))
        add(QStringLiteral("Database=") + database);
    if (trusted) {
        if (!has("Trusted_Connection"))
            add(QStringLiteral("Trusted_Connection=yes"));
    } else {
        const QString user = Property(QStringLiteral("User ID")).toString();
        if (!user.isEmpty() && !has("Uid"))
            add(QStringLiteral("Uid=") + user);
        const QString password = Property(QStringLiteral("Password")).toString();
        if (!password.isEmpty() && !has("Pwd"))
            add(QStringLiteral("Pwd={") + QString(password).replace('}', QStringLiteral("}}")) +
                '}');
    }
    db_ = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), connectionName_);
    db_.setDatabaseName(text);
    db_.setConnectOptions(
        QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=%1").arg(std::max(1, ConnectionTimeout)));
    if (!db_.open()) {
        takeErrors(db_.lastError());
        return false;
    }
    dialect_ = db_.driver()->dbmsType() == QSqlDriver::PostgreSQL ? &SqlDialect::PostgreSQL()
               : db_.driver()->dbmsType() == QSqlDriver::SQLite   ? &SqlDialect::Embedded()
                                                                  : &SqlDialect::SqlServer();
    return true;
}
