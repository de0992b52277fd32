#pragma once

#include <QString>
#include <memory>

class BulkRowSink;
class DbConnection;

// PostgreSQL's table sink: each batch goes to the server as one COPY in its own transaction; a
// batch the server refuses is loaded again row by row behind savepoints, so that only the refused
// rows are left out. Takes over the open connection.
std::unique_ptr<BulkRowSink> OpenPostgresCopySink(std::unique_ptr<DbConnection> connection,
                                                  const QString& table);
