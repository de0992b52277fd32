#pragma once

#include "db/DbBackend.h"

// Any server reached through an ODBC connection text: its dialect is the one of the database
// system the driver names (SQL Server's when it names none known), bulk loads are batched
// parameter inserts, and no database is created or named by a location.
class OdbcBackend final : public DbBackend {
  public:
    bool Open(DbConnection& connection, const QString& database, bool trusted) const override;
    const SqlDialect& Dialect() const override;
    std::unique_ptr<BulkRowSink> OpenBulkSink(std::unique_ptr<DbConnection> connection,
                                              const QString& table) const override;
    bool OpenLocation(QSqlDatabase& db, const QString& connectionName, const QString& location,
                      bool createDirectory, QString* error) const override;
    bool SchemaComplete(QSqlDatabase& db, int version, const QString& lastIndex) const override;
    bool BeginSchemaChange(QSqlDatabase& db, qint64 lockKey, QString* error) const override;
    bool MarkSchemaComplete(QSqlDatabase& db, int version, QString* error) const override;
};
