#pragma once

// The database access layer: DbConnection and DbRecordset are declared in db/DbInterface.h (the
// interface the data-source code programs against) and implemented here in src/db
// (DbConnection.cpp, DbRecordset.cpp, ServerResolver.*, SqlDialect.*; what is particular to one
// kind of server in embedded/, postgres/ and odbc/).
//
// Typical use:
//   DbConnection c;
//   c.Describe(server, database, trusted, user, password);   // or, property by property:
//   c.Provider = "sqloledb";                  // SQLOLEDB.1, MSDAORA.1 also served
//   c.ConnectionTimeout = 20;
//   c.SetProperty("Data Source", server);     // resolved by ResolveServer
//   c.SetProperty("Initial Catalog", database);
//   c.SetProperty("User ID", user); c.SetProperty("Password", password);
//   // or c.SetProperty("Integrated Security", "SSPI") for the operating-system account
//   if (!c.Open()) report(c.ErrorText());
//   c.Execute("INSERT INTO t VALUES (?, ?)", {a, b}, &rows);
//   DbRecordset rs; rs.Open("SELECT * FROM t WHERE k = ?", c, {k});
//   c.Database() is the QSqlDatabase (QSQLITE, QPSQL or QODBC); c.Dialect() the SqlDialect;
//   c.Server().kind tells Embedded / PostgreSQL / Odbc (for PostgreSQL, the native PGconn* is
//   c.Database().driver()->handle()).
#include "db/DbInterface.h"
#include "db/SqlDialect.h"
