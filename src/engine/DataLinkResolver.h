#pragma once

#include <QString>

#include "engine/PackageEngine.h"

class RunLog;

// A data-link connection of a package, read at execution time from dwm_data_link in the
// warehouse: the row of the package's ETL model (GetEtlModelName of the package name) whose
// source_name is `dataLink` (letter case counts). A flat-file data link (type 3 or 8) gives its
// directory; a database data link (type 1, 6 or 7) gives server, database and login. False with
// `error` set when the warehouse cannot be read, there is no such row, or its type is one a
// package cannot use. Rows of the model left out of the catalogue's load (their Type is not a
// number) are named in `log`, the run log of the run executing the package.
bool ResolveDataLinkFromWarehouse(const QString& dataLink,
                                  const PackageServices::Warehouse& warehouse, const RunLog& log,
                                  ResolvedConnection* connection, QString* error);
