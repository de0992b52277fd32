// The backend of servers reached through an ODBC connection text.
#include "db/odbc/OdbcBackend.h"

#include <QSqlDriver>
#include <QSqlError>
#include <algorithm>

#include "db/Backends.h"
#include "db/BulkRowSink.h"
#include "db/DbInterface.h"
#include "db/SqlDialect.h"
#include "db/odbc/OdbcBulkSink.h"
#include "util/Errors.h"

namespace {

// The attribute names of an ODBC connection text ("Driver={x};Server=y" gives Driver, Server);
// a value in braces may hold ";" and "=", "}}" standing for "}".
QStringList odbcAttributeNames(const QString& text) {
    QStringList names;
    qsizetype i = 0;
    while (i < text.size()) {
        qsizetype eq = i;  // the first "=" or ";" from here
        while (eq < text.size() && text.at(eq) != '=' && text.at(eq) != ';')
            ++eq;
        if (eq == text.size())
            break;
        if (text.at(eq) == ';') {  // an attribute without "=": skip it
            i = eq + 1;
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

bool OdbcBackend::Open(DbConnection& c, const QString& database, bool trusted) const {
    c.SetDatabaseName(database);
    // Every value added here is quoted, so that a name holding ";" cannot add attributes of its
    // own (";Database=other", ";Port=1"); what the alias text names stays as the alias says.
    QString text = c.Server().odbc;
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
        const QString user = c.Property(QStringLiteral("User ID")).toString();
        if (!user.isEmpty())
            add("Uid", user);
        const QString password = c.Property(QStringLiteral("Password")).toString();
        if (!password.isEmpty())
            add("Pwd", password);
    }
    QSqlDatabase& db = c.Database();
    db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), c.ConnectionName());
    db.setDatabaseName(text);
    db.setConnectOptions(
        QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=%1").arg(std::max(1, c.ConnectionTimeout)));
    if (!db.open()) {
        c.TakeError(db.lastError(), QStringLiteral("The connection could not be opened."));
        return false;
    }
    c.SetDialect(db.driver()->dbmsType() == QSqlDriver::PostgreSQL ? SqlDialect::PostgreSQL()
                 : db.driver()->dbmsType() == QSqlDriver::SQLite   ? SqlDialect::Embedded()
                                                                   : SqlDialect::SqlServer());
    return true;
}

const SqlDialect& OdbcBackend::Dialect() const {
    return SqlDialect::SqlServer();
}

std::unique_ptr<BulkRowSink> OdbcBackend::OpenBulkSink(std::unique_ptr<DbConnection> c,
                                                       const QString& table) const {
    return OpenOdbcBulkSink(std::move(c), table);
}

bool OdbcBackend::OpenLocation(QSqlDatabase&, const QString&, const QString& location, bool,
                               QString* error) const {
    return Fail(error,
                QStringLiteral("%1: an ODBC server is not named by a location").arg(location));
}

bool OdbcBackend::SchemaComplete(QSqlDatabase&, int, const QString&) const {
    return false;
}

bool OdbcBackend::BeginSchemaChange(QSqlDatabase&, qint64, QString* error) const {
    return Fail(error, QStringLiteral("schemas are not kept on an ODBC server"));
}

bool OdbcBackend::MarkSchemaComplete(QSqlDatabase&, int, QString* error) const {
    return Fail(error, QStringLiteral("schemas are not kept on an ODBC server"));
}

const DbBackend& OdbcServerBackend() {
    static const OdbcBackend backend;
    return backend;
}
