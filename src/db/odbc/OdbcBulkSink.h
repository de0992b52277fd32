#pragma once

#include <QString>
#include <memory>

class BulkRowSink;
class DbConnection;

// The sink of any other server (ODBC): prepared inserts with bound values, a transaction per
// batch. Takes over the open connection.
std::unique_ptr<BulkRowSink> OpenOdbcBulkSink(std::unique_ptr<DbConnection> connection,
                                              const QString& table);
