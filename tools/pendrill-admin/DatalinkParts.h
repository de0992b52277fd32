#pragma once

#include <QString>
#include <QStringList>

#include "DatalinkRequest.h"

// The parts of "pendrill-admin datalink": init (DatalinkInit.cpp), add and set
// (DatalinkEdit.cpp), list (DatalinkList.cpp); the command itself is DatalinkCommand.cpp.

int DatalinkInit(const DatalinkRequest& r, const AdminIo& io);
int DatalinkAdd(const DatalinkRequest& r, const AdminIo& io);
int DatalinkSet(const DatalinkRequest& r, const AdminIo& io);
int DatalinkList(const DatalinkRequest& r, const AdminIo& io);

// The options that give the fields of a data link (--type, --ds-server, ...).
std::vector<AdminOption> DatalinkFieldOptions();
