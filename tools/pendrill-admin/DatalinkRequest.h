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
// Connects the program's data-warehouse connection to the request's database; false after
// reporting why.
bool ConnectWarehouse(const DatalinkRequest& r, const AdminIo& io);
// Whether the warehouse database has the data-link table; false after reporting that it has not.
bool RequireDataLinkTable(const AdminIo& io);
