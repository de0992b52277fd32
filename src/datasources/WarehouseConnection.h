#pragma once

#include <QString>
#include <memory>

class DbConnection;

// Connections to the servers of data sources, and the provider codes and failure prefix
// they share with the data-warehouse connection (WarehouseSession.h).

// Provider codes of the connections made here.
inline constexpr const char* DWProvider = "sqloledb";
inline constexpr const char* SqlServerProvider = "SQLOLEDB.1";
inline constexpr const char* FileProvider = "Microsoft.Jet.OLEDB.4.0";
inline constexpr const char* OracleProvider = "MSDAORA.1";

// The prefix of every connection failure text: "Error while connecting to : <server>".
inline constexpr const char* ConnectErrorPrefix = "Error while connecting to : ";

// Opens a new connection for a data source of type `typeCode` (1 SQL Server; 4, 5 Access and
// Excel files; 6, 7 Oracle; other codes name no provider). The database is only used when it is
// not blank. Windows authentication counts only for type 1. On success `connection` holds the
// open connection; on failure it holds none and every error of the attempt is appended to
// `*error` as CR LF and its description. File providers cannot be served on this platform and
// fail with a text that says so.
bool OpenDataSourceConnection(int typeCode, const QString& server, bool trustedLogin,
                              const QString& user, const QString& password,
                              std::unique_ptr<DbConnection>& connection, const QString& database,
                              int timeout, QString* error = nullptr);
