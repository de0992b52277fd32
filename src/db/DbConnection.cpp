#include <pwd.h>
#include <unistd.h>

#include <QAtomicInt>
#include <QDir>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

#include "db/DbInterface.h"
#include "db/SqlDialect.h"

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

bool validDatabaseName(const QString& name) {
    return !name.isEmpty() && !name.contains('/') && !name.contains('\\') &&
           name != QLatin1String(".") && name != QLatin1String("..");
}

}  // namespace

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

void DbConnection::takeErrors(const QSqlError& e) {
    const QString driver = e.driverText().trimmed();
    const QString database = e.databaseText().trimmed();
    if (!database.isEmpty())
        errors_ << database;
    if (!driver.isEmpty() && driver != database)
        errors_ << driver;
    if (errors_.isEmpty())
        errors_ << QStringLiteral("The connection could not be opened.");
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
                           "Cannot open database \"%1\" requested by the login. The "
                           "login failed.")
                           .arg(database);
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
        takeErrors(db_.lastError());
        return false;
    }
    // A text file named .db that is no database only shows itself on the first read.
    QSqlQuery probe(db_);
    if (!probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"))) {
        takeErrors(probe.lastError());
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
        takeErrors(db_.lastError());
        return false;
    }
    return true;
}

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
        takeErrors(q.lastError());
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
