#include <optional>

#include "DatalinkCommand.h"
#include "datasources/DataLinkCatalogue.h"
#include "datasources/WarehouseConnection.h"
#include "db/DbInterface.h"
#include "db/ServerResolver.h"
#include "db/postgres/PostgresDatabase.h"

namespace {

// Creates a PostgreSQL database that is not there yet (connected to the server's default one).
bool createPostgresDatabase(const DatalinkRequest& r, QString& error, const AdminIo& io) {
    DbConnection admin;
    DescribeConnection(admin, r, QString());
    if (!admin.Open()) {
        error = admin.ErrorText();
        return false;
    }
    DbRecordset rs;
    if (!rs.Open(QStringLiteral("SELECT 1 FROM pg_database WHERE datname = ?"), admin,
                 {r.database})) {
        error = rs.LastError();
        return false;
    }
    if (!rs.IsEOF())
        return true;
    if (!CreatePostgresDatabase(admin, r.database)) {
        error = admin.ErrorText();
        return false;
    }
    io.print(QStringLiteral("created database %1").arg(r.database));
    return true;
}

}  // namespace

int DatalinkInit(const DatalinkRequest& r, const AdminIo& io) {
    QString error;
    const std::optional<ServerLocation> location = ResolveServer(r.server, &error);
    if (!location) {
        io.error(QString::fromLatin1(ConnectErrorPrefix) + r.server + '\n' + error);
        return 1;
    }
    DbConnection c;
    DescribeConnection(c, r, r.database);
    c.CreateMissingDatabase = true;
    if (!c.Open() && location->kind == ServerLocation::Kind::PostgreSQL) {
        if (!createPostgresDatabase(r, error, io)) {
            io.error(QString::fromLatin1(ConnectErrorPrefix) + r.server + '\n' +
                     TerminalLines(error));
            return 1;
        }
        c.Open();
    }
    if (c.State() != 1) {
        io.error(QString::fromLatin1(ConnectErrorPrefix) + r.server + '\n' + c.Errors().join('\n'));
        return 1;
    }
    if (TableExists(c, DataLinkTableName())) {
        io.print(QStringLiteral("%1 already exists in %2").arg(DataLinkTableName(), r.database));
        return 0;
    }
    if (!CreateDataLinkTable(c)) {
        io.error(c.ErrorText());
        return 1;
    }
    io.print(QStringLiteral("created table %1 in %2").arg(DataLinkTableName(), r.database));
    return 0;
}
