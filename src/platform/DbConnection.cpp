#include <pwd.h>
#include <unistd.h>

#include <QAtomicInt>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

#include "datasources/DbInterface.h"
#include "platform/SqlDialect.h"

namespace {

QString osUserName() {
    if (const passwd* pw = ::getpwuid(::geteuid()); pw != nullptr && pw->pw_name != nullptr)
        return QString::fromLocal8Bit(pw->pw_name);
    return qEnvironmentVariable("USER");
}

// Providers that reach a database server. The file providers (Access/Excel through Jet) have no
// counterpart here.
bool isServerProvider(const QString& provider) {
    const QString p = provider.trimmed().toLower();
    return p == QLatin1String("sqloledb") || p == QLatin1String("sqloledb.1") ||
           p == QLatin1String("msdaora") || p == QLatin1String("msdaora.1") ||
           p == QLatin1String("pendrill");
}

// An embedded database file: <directory>/<name>.db, the name compared without regard to case.
QString embeddedFile(const QString& directory, const QString& database) {
    const QDir dir(directory);
    const QString wanted = database + QStringLiteral(".db");
    for (const QString& f : dir.entryList({QStringLiteral("*.db")}, QDir::Files))
        if (f.compare(wanted, Qt::CaseInsensitive) == 0)
            return dir.filePath(f);
    return dir.filePath(wanted);
}

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

bool validDatabaseName(const QString& name) {
    return !name.isEmpty() && !name.contains('/') && !name.contains('\\') &&
           name != QLatin1String(".") && name != QLatin1String("..");
}

}  // namespace

QString OdbcQuotedValue(const QString& value) {
    const bool plain = !value.contains(';') && !value.contains('{') && !value.contains('}') &&
                       value == value.trimmed();
    if (plain)
        return value;
    return '{' + QString(value).replace('}', QStringLiteral("}}")) + '}';
}

QString CleanDbMessage(const QString& text) {
    // Lines that only point into the statement or name the error code: "LINE 1: SELECT ...",
    // "        ^", "(42P01)"; and the ODBC driver's "Error while executing the query".
    static const QRegularExpression positionOrCode(
        QStringLiteral(R"(^(LINE \d+:.*|\^|\([0-9A-Z]{5}\)|Error while executing the query)$)"));
    static const QRegularExpression driverName(QStringLiteral(R"(^Q[A-Z0-9]+: )"));
    static const QRegularExpression bracketTags(QStringLiteral(R"(^(\[[^\]]*\])+)"));
    static const QRegularExpression label(
        QStringLiteral(R"(\b(ERROR|FATAL|PANIC|WARNING|DETAIL|HINT|CONTEXT):\s+)"));
    static const QRegularExpression blanks(QStringLiteral(R"(\s+)"));
    QString joined;
    for (QString line : text.split(QRegularExpression(QStringLiteral("[\r\n]+")))) {
        line = line.trimmed();
        line.remove(driverName);
        line.remove(bracketTags);
        line.replace(label, QString());
        line = line.replace(blanks, QStringLiteral(" ")).trimmed();
        while (line.endsWith(';'))
            line.chop(1);
        if (line.isEmpty() || positionOrCode.match(line).hasMatch() ||
            line.startsWith(QLatin1String("Unable to ")))
            continue;
        if (!joined.isEmpty()) {
            const QChar last = joined.back();
            joined +=
                QStringView(u".?!:").contains(last) ? QStringLiteral(" ") : QStringLiteral("; ");
        }
        joined += line;
    }
    return joined;
}

QString DbErrorMessage(const QSqlError& error, const QString& fallback) {
    QString text = CleanDbMessage(error.databaseText());
    if (text.isEmpty())
        text = CleanDbMessage(error.driverText());
    return text.isEmpty() ? fallback : text;
}

DbConnection::DbConnection() {
    static QAtomicInt counter;
    connectionName_ = QStringLiteral("pendrill-db-%1").arg(counter.fetchAndAddRelaxed(1));
}

DbConnection::~DbConnection() {
    Close();
}

void DbConnection::SetProperty(const QString& name, const QVariant& value) {
    for (auto& p : props_) {
        if (p.first.compare(name.trimmed(), Qt::CaseInsensitive) == 0) {
            p.second = value;
            return;
        }
    }
    props_.append({name.trimmed(), value});
}

QVariant DbConnection::Property(const QString& name) const {
    for (const auto& p : props_)
        if (p.first.compare(name.trimmed(), Qt::CaseInsensitive) == 0)
            return p.second;
    return QVariant();
}

QString DbConnection::ConnectionString() const {
    QStringList parts;
    if (!Provider.isEmpty())
        parts << QStringLiteral("Provider=") + Provider;
    for (const auto& p : props_) {
        QString v = p.second.typeId() == QMetaType::Bool
                        ? (p.second.toBool() ? QStringLiteral("True") : QStringLiteral("False"))
                        : p.second.toString();
        if (v.contains(';') || v.contains('"'))
            v = '"' + v.replace('"', QStringLiteral("\"\"")) + '"';
        parts << p.first + '=' + v;
    }
    return parts.join(';');
}

void DbConnection::SetConnectionString(const QString& text) {
    props_.clear();
    Provider.clear();
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype eq = text.indexOf('=', i);
        if (eq < 0)
            break;
        const QString name = text.mid(i, eq - i).trimmed();
        QString value;
        qsizetype j = eq + 1;
        while (j < text.size() && text.at(j) == ' ')
            ++j;
        if (j < text.size() && text.at(j) == '"') {
            ++j;
            while (j < text.size()) {
                if (text.at(j) == '"') {
                    if (j + 1 < text.size() && text.at(j + 1) == '"') {
                        value += '"';
                        j += 2;
                        continue;
                    }
                    ++j;
                    break;
                }
                value += text.at(j++);
            }
            const qsizetype semi = text.indexOf(';', j);
            i = semi < 0 ? text.size() : semi + 1;
        } else {
            const qsizetype semi = text.indexOf(';', j);
            value = text.mid(j, (semi < 0 ? text.size() : semi) - j).trimmed();
            i = semi < 0 ? text.size() : semi + 1;
        }
        if (name.isEmpty())
            continue;
        if (name.compare(QLatin1String("Provider"), Qt::CaseInsensitive) == 0)
            Provider = value;
        else
            SetProperty(name, value);
    }
}

void DbConnection::SetError(const QString& text) {
    errors_ << text;
}

void DbConnection::takeErrors(const QSqlError& e, const QString& fallback) {
    errors_ << DbErrorMessage(e, fallback);
}

QString DbConnection::DatabaseName() const {
    return database_;
}

const SqlDialect& DbConnection::Dialect() const {
    return dialect_ != nullptr ? *dialect_ : SqlDialect::Embedded();
}

int DbConnection::State() const {
    return db_.isValid() && db_.isOpen() ? 1 : 0;
}

void DbConnection::Close() {
    if (db_.isValid()) {
        db_.close();
        db_ = QSqlDatabase();
    }
    if (QSqlDatabase::contains(connectionName_))
        QSqlDatabase::removeDatabase(connectionName_);
}

bool DbConnection::Open() {
    Close();
    errors_.clear();
    if (!isServerProvider(Provider)) {
        errors_ << (Provider.trimmed().isEmpty()
                        ? QStringLiteral("No provider is set for this connection.")
                        : QStringLiteral("Provider '%1' is not available on this platform: only "
                                         "database servers can be reached, not files.")
                              .arg(Provider));
        return false;
    }
    QString error;
    const std::optional<ServerLocation> loc =
        ResolveServer(Property(QStringLiteral("Data Source")).toString(), &error);
    if (!loc) {
        errors_ << error;
        return false;
    }
    server_ = *loc;
    const QString database = Property(QStringLiteral("Initial Catalog")).toString().trimmed();
    const bool trusted = Property(QStringLiteral("Integrated Security"))
                             .toString()
                             .compare("SSPI", Qt::CaseInsensitive) == 0;
    switch (server_.kind) {
        case ServerLocation::Kind::Embedded:
            return openEmbedded(database);
        case ServerLocation::Kind::PostgreSQL:
            return openPostgres(database, trusted);
        case ServerLocation::Kind::Odbc:
            return openOdbc(database, trusted);
    }
    return false;
}

bool DbConnection::openEmbedded(const QString& database) {
    dialect_ = &SqlDialect::Embedded();
    database_ = database;
    QString file = QStringLiteral(":memory:");
    if (!database.isEmpty()) {
        if (!validDatabaseName(database)) {
            errors_ << QStringLiteral("Invalid database name '%1'.").arg(database);
            return false;
        }
        const bool create = CreateMissingDatabase ||
                            database.compare(QLatin1String("msdb"), Qt::CaseInsensitive) == 0;
        if (create)
            QDir().mkpath(server_.directory);
        file = embeddedFile(server_.directory, database);
        if (!QFileInfo::exists(file) && !create) {
            errors_ << QStringLiteral(
                           "Cannot open database \"%1\": server %2 has no such database (no "
                           "file %1.db in %3).")
                           .arg(database, server_.name,
                                QDir::toNativeSeparators(server_.directory));
            return false;
        }
        if (QFileInfo::exists(file))
            database_ = QFileInfo(file).completeBaseName();
    } else if (!QFileInfo(server_.directory).isDir()) {
        QDir().mkpath(server_.directory);
    }
    db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName_);
    db_.setDatabaseName(file);
    db_.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(ConnectionTimeout * 1000));
    if (!db_.open()) {
        errors_ << QStringLiteral("Cannot open database \"%1\" (%2): %3")
                       .arg(database, file,
                            DbErrorMessage(db_.lastError(), QStringLiteral("unknown reason")));
        return false;
    }
    // A text file named .db that is no database only shows itself on the first read.
    QSqlQuery probe(db_);
    if (!probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"))) {
        errors_ << QStringLiteral("Cannot open database \"%1\" (%2): %3")
                       .arg(database, file,
                            DbErrorMessage(probe.lastError(), QStringLiteral("unknown reason")));
        db_.close();
        return false;
    }
    // Write-ahead logging: readers in other processes are not blocked by a load, and a commit
    // costs no sync of the whole database.
    probe.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    probe.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    return true;
}

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

bool DbConnection::RunQuery(QSqlQuery& q, const QString& sql, const QVariantList& params) {
    if (params.isEmpty())
        return q.exec(sql);
    if (!q.prepare(sql))
        return false;
    for (const QVariant& p : params)
        q.addBindValue(p);
    return q.exec();
}

bool DbConnection::Execute(const QString& sql, const QVariantList& params, int* rowsAffected) {
    errors_.clear();
    if (State() != 1) {
        errors_ << QStringLiteral("The connection is not open.");
        return false;
    }
    QSqlQuery q(db_);
    if (!RunQuery(q, sql, params)) {
        takeErrors(q.lastError(), QStringLiteral("The statement failed without a reason."));
        return false;
    }
    if (rowsAffected != nullptr)
        *rowsAffected = q.numRowsAffected();
    return true;
}

std::unique_ptr<DbRecordset> DbConnection::OpenSchema(int schema,
                                                      const QVariantList& restrictions) {
    errors_.clear();
    if (State() != 1) {
        errors_ << QStringLiteral("The connection is not open.");
        return nullptr;
    }
    if (schema == 4) {
        QVector<QVariantList> rows;
        if (!Dialect().Columns(*this, restrictions.value(2).toString(), rows))
            return nullptr;
        return DbRecordset::FromRows({"TABLE_CATALOG", "TABLE_SCHEMA", "TABLE_NAME", "COLUMN_NAME",
                                      "ORDINAL_POSITION", "DATA_TYPE"},
                                     rows);
    }
    if (schema == 17) {
        QStringList names;
        if (!Dialect().Schemata(*this, names))
            return nullptr;
        QVector<QVariantList> rows;
        for (const QString& n : names)
            rows << QVariantList{database_, n, QVariant()};
        return DbRecordset::FromRows({"CATALOG_NAME", "SCHEMA_NAME", "SCHEMA_OWNER"}, rows);
    }
    errors_ << QStringLiteral("Schema %1 is not supported.").arg(schema);
    return nullptr;
}

bool DbConnection::ListDatabases(QStringList& names) {
    errors_.clear();
    if (State() != 1) {
        errors_ << QStringLiteral("The connection is not open.");
        return false;
    }
    return Dialect().ListDatabases(*this, names);
}
