#pragma once

#include <QString>
#include <QStringList>

#include "ServerRequest.h"

// The parts of "pendrill-admin datalink": init (DatalinkInit.cpp), add and set
// (DatalinkEdit.cpp), list (DatalinkList.cpp); the command itself is DatalinkCommand.cpp.

// A command line of datalink or remote: the connection, --model and --name.
struct DatalinkRequest : AdminInvocation {
    explicit DatalinkRequest(const AdminInvocation& invocation);
    QString model;
    QString name;
};

int DatalinkInit(const DatalinkRequest& r, const AdminIo& io);
int DatalinkAdd(const DatalinkRequest& r, const AdminIo& io);
int DatalinkSet(const DatalinkRequest& r, const AdminIo& io);
int DatalinkList(const DatalinkRequest& r, const AdminIo& io);

// The options that give the fields of a data link (--type, --ds-server, ...).
std::vector<AdminOption> DatalinkFieldOptions();

// "dwm_data_link".
QString DataLinkTableName();
// Connects the program's data-warehouse connection to the request's database; false after
// reporting why.
bool ConnectWarehouse(const DatalinkRequest& r, const AdminIo& io);
// Whether the warehouse database has the data-link table; false after reporting that it has not.
bool RequireDataLinkTable(const AdminIo& io);
