#pragma once

#include <QString>
#include <QStringList>

#include "ServerRequest.h"

// The parts of "pendrill-admin datalink": init (DatalinkInit.cpp), add and set
// (DatalinkEdit.cpp), list (DatalinkList.cpp); the command itself is DatalinkCommand.cpp.

struct DatalinkRequest : ServerRequest {
    QString model;
    QString name;
};

int DatalinkInit(const DatalinkRequest& r);
int DatalinkAdd(const DatalinkRequest& r);
int DatalinkSet(const DatalinkRequest& r);
int DatalinkList(const DatalinkRequest& r);

// The options that give the fields of a data link (--type, --ds-server, ...).
QStringList DatalinkFieldOptions();

// "dwm_data_link".
QString DataLinkTableName();
// Connects the program's data-warehouse connection to the request's database; false after
// reporting why.
bool ConnectWarehouse(const DatalinkRequest& r);
// Whether the warehouse database has the data-link table; false after reporting that it has not.
bool RequireDataLinkTable();
