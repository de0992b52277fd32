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

// Gives a store on an embedded or PostgreSQL server its indexes on lower(name) and versionid
// when they are missing, so that finding the versions of a package and loading one of them
// reads no other version's row. Best effort: a store that cannot take them (read-only, another
// kind of server) works without them.
void IndexPackageStore(DbConnection& msdb);
