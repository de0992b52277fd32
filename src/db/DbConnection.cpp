#include <QAtomicInt>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>

#include "db/DbBackend.h"
#include "db/DbInterface.h"
#include "db/SqlDialect.h"
#include "util/StopCutter.h"

namespace {

// Providers that reach a database server. The file providers (Access/Excel through Jet) have no
// counterpart here.
bool isServerProvider(const QString& provider) {
    const QString p = provider.trimmed().toLower();
    return p == QLatin1String("sqloledb") || p == QLatin1String("sqloledb.1") ||
           p == QLatin1String("msdaora") || p == QLatin1String("msdaora.1") ||
           p == QLatin1String("pendrill");
}

}  // namespace

DbConnection::DbConnection() {
    static QAtomicInt counter;
    connectionName_ = QStringLiteral("pendrill-db-%1").arg(counter.fetchAndAddRelaxed(1));
}

DbConnection::~DbConnection() {
    Close();
}

void DbConnection::Describe(const QString& server, const QString& database, bool trusted,
                            const QString& user, const QString& password) {
    Provider = QStringLiteral("sqloledb");
    SetProperty(QStringLiteral("Data Source"), server);
    SetProperty(QStringLiteral("Initial Catalog"), database);
    if (trusted) {
        SetProperty(QStringLiteral("Integrated Security"), QStringLiteral("SSPI"));
    } else {
        SetProperty(QStringLiteral("User ID"), user);
        SetProperty(QStringLiteral("Password"), password);
    }
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

QString DbConnection::DatabaseName() const {
    return database_;
}

const SqlDialect& DbConnection::Dialect() const {
    return dialect_ != nullptr ? *dialect_ : SqlDialect::Embedded();
}

const DbBackend& DbConnection::Backend() const {
    return backend_ != nullptr ? *backend_ : BackendOf(ServerLocation());
}

int DbConnection::State() const {
    return db_.isValid() && db_.isOpen() ? 1 : 0;
}

void DbConnection::Close() {
    stopCut_.reset();  // before the socket goes
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
    backend_ = &BackendOf(server_);
    if (!backend_->Open(*this, database, trusted))
        return false;
    stopCut_ = backend_->StopCut(db_);
    return true;
}

bool DbConnection::Execute(const QString& sql, const QVariantList& params, int* rowsAffected) {
    errors_.clear();
    if (State() != 1) {
        errors_ << QStringLiteral("The connection is not open.");
        return false;
    }
    QSqlQuery q(db_);
    if (!RunQuery(q, sql, params)) {
        TakeError(q.lastError(), QStringLiteral("The statement failed without a reason."));
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
