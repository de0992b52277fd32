#pragma once

#include <QString>

#include "ServerRequest.h"

// A command line of datalink or remote: the connection, --model and --name.
struct DatalinkRequest : AdminInvocation {
    explicit DatalinkRequest(const AdminInvocation& invocation);
    QString model;
    QString name;
};

// "dwm_data_link".
QString DataLinkTableName();
class WarehouseSession;

// Connects the command's warehouse session to the request's database; false after reporting why.
bool ConnectWarehouse(const DatalinkRequest& r, WarehouseSession& session, const AdminIo& io);
// Whether the connected session's database has the data-link table; false after reporting that
// it has not.
bool RequireDataLinkTable(WarehouseSession& session, const AdminIo& io);
