#pragma once

#include <QString>
#include <memory>

class DataLink;
class DataLinks;
class DbConnection;
class ChoiceList;

// The program-wide collection of the data sources of the chosen ETL model, the check for the
// catalogue table, and the rules that give a package's ETL model.

// The loaded collection, or nullptr when none is loaded.
DataLinks* LoadedDataSources();
// Puts a collection in place of the loaded one (nullptr drops it).
void SetLoadedDataSources(std::unique_ptr<DataLinks> collection);

// Replaces the loaded collection by the data sources of the package's model, read over the
// data-warehouse connection, and fills `list` with the names of those whose model equals the
// package's model exactly, in collection order. When the data-warehouse database has no
// dwm_data_link table this is reported to the operator (critical, "Checking data warehouse
// database") and the result is false with the new collection left empty. When reading the rows
// fails, the result is false and `error` holds the database's text (not reported here).
bool LoadDataLinkList(const QString& packageName, ChoiceList& list, QString* error = nullptr);

// Whether the connection's database has a table of this name (letter case aside).
bool TableExists(DbConnection& connection, const QString& tableName);

// Creates an empty dwm_data_link table on the connection, with the server's types: text columns,
// integers for Type, transfer_data, poll_interval and poll_duration (wide enough for values a
// record cannot hold), a boolean for ds_trusted_login. False with the connection's errors set.
bool CreateDataLinkTable(DbConnection& connection);

// The loaded data source of that name (letter case counts), or nullptr.
DataLink* FindDataSource(const QString& name);

// Saves every loaded data source to its catalogue row, in order, stopping at the first that
// fails (false, with `error`). True when nothing is loaded.
bool SaveAllDataSources(QString* error = nullptr);

// Drops the loaded collection.
void ReleaseDataSources();

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
