#pragma once

#include <QString>
#include <memory>

#include "platform/BulkRowSink.h"

struct ResolvedConnection;

// The sink that stores bulk-insert rows into a table of a database connection: it opens its own
// connection to the server and loads through the fastest road the server kind offers (prepared
// native inserts on the embedded server, COPY on PostgreSQL, batched parameter inserts over
// ODBC). Nothing, with `error` set, when the connection cannot be opened or the table is unknown.
std::unique_ptr<BulkRowSink> OpenTableBulkSink(const ResolvedConnection& connection,
                                               const QString& table, QString* error);
