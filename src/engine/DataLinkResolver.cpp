#include "engine/DataLinkResolver.h"

#include "datasources/DataLinkCatalogue.h"
#include "datasources/DataLinks.h"
#include "db/DbConnection.h"
#include "engine/tasks/TaskConnections.h"
#include "util/RunLog.h"

bool ResolveDataLinkFromWarehouse(const QString& dataLink,
                                  const PackageServices::Warehouse& warehouse, const RunLog& log,
                                  ResolvedConnection* connection, QString* error) {
    const QString model = GetEtlModelName(warehouse.packageName);
    if (model.isEmpty()) {
        *error = QStringLiteral(
                     "Data link '%1': the name of package '%2' gives no ETL model (it has no "
                     "step suffix such as _LoadDW)")
                     .arg(dataLink, warehouse.packageName);
        return false;
    }
    ResolvedConnection where;
    where.name = QStringLiteral("data warehouse");
    where.server = warehouse.server;
    where.database = warehouse.database;
    where.user = warehouse.user;
    where.password = warehouse.password;
    where.trusted = warehouse.trusted;
    DbConnection dw;
    QString why;
    if (!OpenResolvedConnection(where, dw, &why)) {
        *error = QStringLiteral("Data link '%1': cannot connect to the data warehouse %2 on %3: %4")
                     .arg(dataLink, warehouse.database, warehouse.server, why);
        return false;
    }
    DataLinks sources;
    QStringList skipped;
    const bool loaded = sources.Load(dw, model, &skipped, &why);
    for (const QString& note : skipped)
        log.Info(note);
    if (!loaded) {
        *error = QStringLiteral("Data link '%1': cannot read %2 of model '%3': %4")
                     .arg(dataLink, QString::fromLatin1(DataLinkTable), model, why);
        return false;
    }
    // The server may also return rows of "SALES" for "Sales": the model's own row counts.
    const DataLink* ds = nullptr;
    for (const DataLink& candidate : sources.All()) {
        if (candidate.modelName == model && candidate.name == dataLink) {
            ds = &candidate;
            break;
        }
    }
    if (ds == nullptr) {
        *error = QStringLiteral("Data link '%1' of model '%2' is not in %3 of %4 on %5")
                     .arg(dataLink, model, QString::fromLatin1(DataLinkTable), warehouse.database,
                          warehouse.server);
        return false;
    }
    switch (ds->etlType) {
        case DataLink::FlatFiles:
        case DataLink::FlatFiles2:
            if (ds->directory.trimmed().isEmpty()) {
                *error = QStringLiteral("Flat-file data link '%1' of model '%2' has no directory")
                             .arg(dataLink, model);
                return false;
            }
            connection->directory = ds->directory;
            return true;
        case DataLink::SqlServer:
        case DataLink::Oracle:
        case DataLink::OracleTested:
            connection->server = ds->server;
            connection->database = ds->database;
            connection->trusted = ds->trustedLogin;
            if (!connection->trusted) {
                connection->user = ds->user;
                connection->password = ds->password;
            }
            return true;
        default:
            *error = QStringLiteral(
                         "Data link '%1' of model '%2' is of type %3, which a package "
                         "cannot connect to")
                         .arg(dataLink, model)
                         .arg(ds->etlType);
            return false;
    }
}
