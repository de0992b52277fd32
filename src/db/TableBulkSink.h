#pragma once

#include <QString>
#include <memory>

#include "db/BulkRowSink.h"

class DbConnection;

// The sink that stores bulk-insert rows into a table over an open connection of its own (which it
// takes over), through the fastest road the server kind offers (prepared native inserts on the
// embedded server, COPY on PostgreSQL, batched parameter inserts over ODBC). An unknown table
// or column shows at Begin.
std::unique_ptr<BulkRowSink> OpenTableBulkSink(std::unique_ptr<DbConnection> connection,
                                               const QString& table);
