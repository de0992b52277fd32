#pragma once

#include "db/DbBackend.h"

// The embedded server: a directory of SQLite files, one per database (a missing one is made by
// opening it), write-ahead logging; a location is the path of one such file.
class EmbeddedBackend final : public DbBackend {
  public:
    bool Open(DbConnection& connection, const QString& database, bool trusted) const override;
    std::unique_ptr<StopCutter::Registration> StopCut(QSqlDatabase& db) const override;
    const SqlDialect& Dialect() const override;
    std::unique_ptr<BulkRowSink> OpenBulkSink(std::unique_ptr<DbConnection> connection,
                                              const QString& table) const override;
    bool OpenLocation(QSqlDatabase& db, const QString& connectionName, const QString& location,
                      bool createDirectory, QString* error) const override;
    bool SchemaComplete(QSqlDatabase& db, int version, const QString& lastIndex) const override;
    bool BeginSchemaChange(QSqlDatabase& db, qint64 lockKey, QString* error) const override;
    bool MarkSchemaComplete(QSqlDatabase& db, int version, QString* error) const override;
};
