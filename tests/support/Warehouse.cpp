#include "support/Warehouse.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <array>

#include "config/SettingsStore.h"
#include "db/ServerResolver.h"
#include "support/TestPostgres.h"

std::string BackendName(const ::testing::TestParamInfo<Backend>& info) {
    return std::array{"Embedded", "PostgreSQL", "Odbc"}[static_cast<int>(info.param)];
}

namespace {

// Creates `database` on the embedded server `server` if it is missing.
bool CreateEmbedded(const QString& server, const QString& database, QString* error) {
    DbConnection c;
    c.Provider = "sqloledb";
    c.SetProperty("Data Source", server);
    c.SetProperty("Initial Catalog", database);
    c.CreateMissingDatabase = true;
    if (!c.Open() && error != nullptr)
        *error = c.ErrorText();
    return c.State() == 1;
}

}  // namespace

std::unique_ptr<Warehouse> Warehouse::Create(Backend backend, testsupport::IsolatedHome& home,
                                             QString* skip, QString* error) {
    static int counter = 0;
    auto w = std::make_unique<Warehouse>();
    w->backend = backend;
    // Unique on the PostgreSQL server that the test programs of a run share.
    w->database = QStringLiteral("dw_%1_%2").arg(QCoreApplication::applicationPid()).arg(++counter);
    const QString key = QString::fromLatin1(ServerAliasKey);
    if (backend == Backend::Embedded) {
        WriteRegistryValue(key, w->server, "sqlite:" + home.file("servers/wh"));
        if (!CreateEmbedded(w->server, w->database, error))
            return nullptr;
    } else {
        if (!testsupport::TestPostgres::available(skip))
            return nullptr;
        testsupport::TestPostgres* pg = testsupport::TestPostgres::shared(error);
        if (pg == nullptr || !pg->createDatabase(w->database, error))
            return nullptr;
        w->trusted = false;
        w->user = pg->superuser();
        w->password = pg->password();
        if (backend == Backend::PostgreSQL) {
            WriteRegistryValue(
                key, w->server,
                QStringLiteral("postgresql://%1:%2").arg(pg->host()).arg(pg->port()));
        } else {
            // The login is left out of the alias: it comes from the connection, as it would for
            // SQL Server through FreeTDS.
            w->odbcBase_ = pg->odbcConnectionText("%DB%").remove(
                QRegularExpression(QStringLiteral("(Uid|Pwd)=[^;]*;")));
            w->UseDatabase(w->database);
        }
    }
    std::unique_ptr<DbConnection> c = w->Open();
    if (c->State() != 1) {
        *error = c->ErrorText();
        return nullptr;
    }
    return w;
}

void Warehouse::UseDatabase(const QString& otherDatabase) {
    if (backend == Backend::Odbc)
        WriteRegistryValue(QString::fromLatin1(ServerAliasKey), server,
                           "odbc:" + QString(odbcBase_).replace("%DB%", otherDatabase));
}

std::unique_ptr<DbConnection> Warehouse::Open(const QString& otherDatabase) const {
    auto c = std::make_unique<DbConnection>();
    c->Provider = "sqloledb";
    c->SetProperty("Data Source", server);
    c->SetProperty("Initial Catalog", otherDatabase.isEmpty() ? database : otherDatabase);
    if (trusted) {
        c->SetProperty("Integrated Security", "SSPI");
    } else {
        c->SetProperty("User ID", user);
        c->SetProperty("Password", password);
    }
    c->Open();
    return c;
}

bool Warehouse::Exec(const QString& sql, const QVariantList& params) const {
    std::unique_ptr<DbConnection> c = Open();
    const bool ok = c->State() == 1 && c->Execute(sql, params);
    EXPECT_TRUE(ok) << sql.toStdString() << ": " << c->ErrorText().toStdString();
    return ok;
}

bool Warehouse::InsertRow(const QVariantMap& columns) const {
    const QStringList marks(columns.size(), QStringLiteral("?"));
    return Exec(QStringLiteral("INSERT INTO dwm_data_link (%1) VALUES (%2)")
                    .arg(columns.keys().join(", "), marks.join(", ")),
                columns.values());
}

bool Warehouse::CreateDatabase(const QString& name) const {
    QString error;
    if (backend == Backend::Embedded)
        return CreateEmbedded(server, name, &error);
    testsupport::TestPostgres* pg = testsupport::TestPostgres::shared(&error);
    return pg != nullptr && pg->createDatabase(name, &error);
}

QStringList QueryRows(DbConnection& c, const QString& sql) {
    DbRecordset rs;
    EXPECT_TRUE(rs.Open(sql, c)) << rs.LastError().toStdString();
    QStringList rows;
    for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) {
        QStringList fields;
        for (int i = 0; i < rs.FieldCount(); ++i)
            fields << (rs.Field(i).isNull() ? QStringLiteral("~") : rs.Field(i).toString());
        rows << fields.join('|');
    }
    return rows;
}
