#include <optional>

#include "DatalinkParts.h"
#include "datasources/DataLinkCatalogue.h"
#include "datasources/WarehouseConnection.h"
#include "db/DbBackend.h"
#include "db/DbInterface.h"
#include "db/ServerResolver.h"
#include "util/Errors.h"

namespace {

// Creates a database that is not there yet on a server that makes databases by a statement
// (connected to the server's default one).
bool createDatabase(const DbBackend& backend, const DatalinkRequest& r, const AdminIo& io,
                    QString* error) {
    DbConnection admin;
    DescribeConnection(admin, r, QString());
    if (!admin.Open()) {
        SetError(error, admin.ErrorText());
        return false;
    }
    bool exists = false;
    if (!backend.HasDatabase(admin, r.database, &exists)) {
        SetError(error, admin.ErrorText());
        return false;
    }
    if (exists)
        return true;
    if (!backend.CreateDatabase(admin, r.database)) {
        SetError(error, admin.ErrorText());
        return false;
    }
    io.print(QStringLiteral("created database %1").arg(r.database));
    return true;
}

}  // namespace

int DatalinkInit(const DatalinkRequest& r, const AdminIo& io) {
    QString error;
    const DbBackend* backend = ServerBackend(r.server, &error);
    if (backend == nullptr) {
        io.error(QString::fromLatin1(ConnectErrorPrefix) + r.server + '\n' + error);
        return 1;
    }
    DbConnection c;
    DescribeConnection(c, r, r.database);
    c.CreateMissingDatabase = true;
    if (!c.Open() && backend->CreatesDatabaseByStatement()) {
        if (!createDatabase(*backend, r, io, &error)) {
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
