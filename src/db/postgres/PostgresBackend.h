#pragma once

#include "db/DbBackend.h"

// A PostgreSQL server: connections through the Qt driver after libpq's non-blocking connect has
// shown that the server answers, COPY for bulk loads, databases made by CREATE DATABASE; a
// location is a URL postgresql://[user[:password]@]host[:port]/database.
class PostgresBackend final : public DbBackend {
  public:
    bool Open(DbConnection& connection, const QString& database, bool trusted) const override;
    std::unique_ptr<StopCutter::Registration> StopCut(QSqlDatabase& db) const override;
    const SqlDialect& Dialect() const override;
    std::unique_ptr<BulkRowSink> OpenBulkSink(std::unique_ptr<DbConnection> connection,
                                              const QString& table) const override;
    bool CreatesDatabaseByStatement() const override { return true; }
    bool HasDatabase(DbConnection& maintenance, const QString& name, bool* exists) const override;
    bool CreateDatabase(DbConnection& maintenance, const QString& name) const override;
    bool ServerAnswers(const QSqlDatabase& db, int timeoutSeconds, QString* why) const override;
    bool OpenLocation(QSqlDatabase& db, const QString& connectionName, const QString& location,
                      bool createDirectory, QString* error) const override;
    bool SchemaComplete(QSqlDatabase& db, int version, const QString& lastIndex) const override;
    bool BeginSchemaChange(QSqlDatabase& db, qint64 lockKey, QString* error) const override;
    bool MarkSchemaComplete(QSqlDatabase& db, int version, QString* error) const override;
};

// The driver's connection options: the time-out of the connect, and TCP keepalives, so that a
// server that can no longer be reached in the middle of a statement (a host gone, a network cut)
// is noticed within about two minutes instead of hours: probes after 60 s without traffic, 6 of
// them 10 s apart.
QString PostgresConnectOptions(int connectTimeoutSeconds);

// The name of the operating-system account this program runs as: the login when none is given.
QString PostgresOsUserName();
