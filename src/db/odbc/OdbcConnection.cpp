// Opening a connection through an ODBC connection text.
#include <QSqlDriver>
#include <QSqlError>
#include <algorithm>

#include "db/DbInterface.h"
#include "db/SqlDialect.h"

namespace {

// The attribute names of an ODBC connection text ("Driver={x};Server=y" gives Driver, Server);
// a value in braces may hold ";" and "=", "}}" standing for "}".
QStringList odbcAttributeNames(const QString& text) {
    QStringList names;
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype eq = text.indexOf('=', i);
        const qsizetype semi = text.indexOf(';', i);
        if (eq < 0)
            break;
        if (semi >= 0 && semi < eq) {  // an attribute without "=": skip it
            i = semi + 1;
            continue;
        }
        names << text.mid(i, eq - i).trimmed();
        qsizetype j = eq + 1;
        while (j < text.size() && text.at(j) == ' ')
            ++j;
        if (j < text.size() && text.at(j) == '{') {
            for (++j; j < text.size(); ++j) {
                if (text.at(j) != '}')
                    continue;
                if (j + 1 < text.size() && text.at(j + 1) == '}') {
                    ++j;
                    continue;
                }
                break;
            }
        }
        const qsizetype end = text.indexOf(';', j);
        i = end < 0 ? text.size() : end + 1;
    }
    return names;
}

}  // namespace

bool DbConnection::openOdbc(const QString& database, bool trusted) {
    database_ = database;
    // Every value added here is quoted, so that a name holding ";" cannot add attributes of its
    // own (";Database=other", ";Port=1"); what the alias text names stays as the alias says.
    QString text = server_.odbc;
    const QStringList given = odbcAttributeNames(text);
    auto add = [&](const char* key, const QString& value) {
        if (given.contains(QLatin1String(key), Qt::CaseInsensitive))
            return;
        if (!text.isEmpty() && !text.endsWith(';'))
            text += ';';
        text += QLatin1String(key) + QLatin1Char('=') + OdbcQuotedValue(value);
    };
    if (!database.isEmpty())
        add("Database", database);
    if (trusted) {
        add("Trusted_Connection", QStringLiteral("yes"));
    } else {
        const QString user = Property(QStringLiteral("User ID")).toString();
        if (!user.isEmpty())
            add("Uid", user);
        const QString password = Property(QStringLiteral("Password")).toString();
        if (!password.isEmpty())
            add("Pwd", password);
    }
    db_ = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), connectionName_);
    db_.setDatabaseName(text);
    db_.setConnectOptions(
        QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=%1").arg(std::max(1, ConnectionTimeout)));
    if (!db_.open()) {
        takeErrors(db_.lastError(), QStringLiteral("The connection could not be opened."));
        return false;
    }
    dialect_ = db_.driver()->dbmsType() == QSqlDriver::PostgreSQL ? &SqlDialect::PostgreSQL()
               : db_.driver()->dbmsType() == QSqlDriver::SQLite   ? &SqlDialect::Embedded()
                                                                  : &SqlDialect::SqlServer();
    return true;
}
