#pragma once

#include <QString>
#include <QStringList>

class ChoiceList;
class DbConnection;
class WarehouseSession;

// Loading the data links of an ETL model into a WarehouseSession, the check for the catalogue
// table, and the rules that give a package's ETL model.

// Replaces the session's loaded data links by those of the package's model, read over the
// session's connection, and fills `list` with the names of those whose model equals the
// package's model exactly, in collection order. Rows left out are named in `skipped` (see
// DataLinks::Load). False with the new collection left empty and `*error` exactly
// DataLinkTableMissingText when the connection is missing or its database has no dwm_data_link
// table; false with the database's text when reading the rows fails.
bool LoadDataLinkList(WarehouseSession& session, const QString& packageName, ChoiceList& list,
                      QStringList* skipped = nullptr, QString* error = nullptr);

// Whether the connection's database has a table of this name (letter case aside).
bool TableExists(DbConnection& connection, const QString& tableName);

// Creates an empty dwm_data_link table on the connection, with the server's types: text columns,
// integers for Type, transfer_data, poll_interval and poll_duration (wide enough for values a
// record cannot hold), a boolean for ds_trusted_login. False with the connection's errors set.
bool CreateDataLinkTable(DbConnection& connection);

// The part of a package name before its step suffix ("_CleanUpAll", "_CleanUpIntermediate",
// "_Init", "_Transformations", "_LoadDummies", "_LoadDW", "_Overall", "_ProcessTransformations",
// "_Upload", "_AlterTableDW", searched in that order without regard to letter case); empty when
// the name holds none.
QString GetEtlModelName(const QString& packageName);

// Whether the package uses its model's data sources: its name holds "_Overall",
// "_ProcessTransformations", "_Upload" or "_Transformations" (letter case aside).
bool IsEtlModelPackage(const QString& packageName);

// The message of a data-warehouse database without the catalogue table.
inline constexpr const char* DataLinkTableMissingText =
    "dwm_data_link table not found in specified data warehouse database.\r\n"
    "Select a different database";
inline constexpr const char* DataLinkTableMissingTitle = "Checking data warehouse database";
