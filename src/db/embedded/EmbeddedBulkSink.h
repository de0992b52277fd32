#pragma once

#include <QString>
#include <memory>

class BulkRowSink;
class DbConnection;

// The embedded server's table sink: one prepared statement stepped per row, straight on the
// SQLite handle, a transaction per batch. Takes over the open connection.
std::unique_ptr<BulkRowSink> OpenEmbeddedBulkSink(std::unique_ptr<DbConnection> connection,
                                                  const QString& table);
