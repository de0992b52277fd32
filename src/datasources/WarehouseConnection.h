#pragma once

#include <QString>
#include <memory>

class DbConnection;

// Connections to the data-warehouse database and to the servers of data sources.

// Provider codes of the connections made here.
inline constexpr const char* DWProvider = "sqloledb";
inline constexpr const char* SqlServerProvider = "SQLOLEDB.1";
inline constexpr const char* FileProvider = "Microsoft.Jet.OLEDB.4.0";
inline constexpr const char* OracleProvider = "MSDAORA.1";

// The prefix of every connection failure text: "Error while connecting to : <server>".
inline constexpr const char* ConnectErrorPrefix = "Error while connecting to : ";

// Opens the program-wide data-warehouse connection (made on the first call, closed and opened
// again by every later one) on `database` of `server`: with `trustedLogin` the operating-system
// account, otherwise `user` and `password`. On failure `*error` is ConnectErrorPrefix and the
// server, followed by one line (CR LF) per error of the connection.
bool ConnectToDWServer(const QString& server, bool trustedLogin, const QString& user,
                       const QString& password, const QString& database, int timeout,
                       QString* error = nullptr);

// The data-warehouse connection; nullptr before the first ConnectToDWServer. It may be closed.
DbConnection* GetDWConnection();

// Closes and drops the data-warehouse connection (done by itself when the application object
// goes away).
void ReleaseDWConnection();

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
