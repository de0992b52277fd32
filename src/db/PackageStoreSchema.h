#pragma once

#include <QString>

class DbConnection;

// The package store of a server: the table sysdtspackages in its database "msdb", one row per
// stored version of a package:
//   name         text      package name
//   id           text      package identifier ({GUID}), the same for every version
//   versionid    text      version identifier ({GUID}), one per stored version
//   description  text
//   createdate   text/timestamp  when the version was stored (ISO 8601); the newest is loaded
//   owner        text      who stored it
//   packagedata  text      the package document (XML)
inline constexpr const char* PackageStoreDatabase = "msdb";
inline constexpr const char* PackageStoreTable = "sysdtspackages";

// Creates the table on a connection to "msdb" when it is missing. False with the connection's
// errors set when that fails.
bool EnsurePackageStore(DbConnection& msdb);
