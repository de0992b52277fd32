#include "DatalinkRequest.h"

#include "datasources/DataLink.h"
#include "datasources/DataLinkCatalogue.h"
#include "datasources/WarehouseSession.h"

QString DataLinkTableName() {
    return QString::fromLatin1(DataLinkTable);
}

DatalinkRequest::DatalinkRequest(const AdminInvocation& invocation)
    : AdminInvocation(invocation),
      model(invocation.args.value(QStringLiteral("--model"))),
      name(invocation.args.value(QStringLiteral("--name"))) {}

bool ConnectWarehouse(const DatalinkRequest& r, WarehouseSession& session, const AdminIo& io) {
    QString error;
    if (session.Connect(r.server, r.login.trusted, r.login.user, r.login.password, r.database, 20,
                        &error))
        return true;
    io.error(TerminalLines(error));
    return false;
}

bool RequireDataLinkTable(WarehouseSession& session, const AdminIo& io) {
    if (TableExists(*session.Connection(), DataLinkTableName()))
        return true;
    io.error(TerminalLines(QString::fromLatin1(DataLinkTableMissingText)));
    return false;
}
