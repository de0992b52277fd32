#pragma once

#include <QString>

class DbConnection;
struct ResolvedConnection;

// Opens `connection` on the database a resolved package connection names: provider "sqloledb",
// "Data Source" and "Initial Catalog" from server and database, and either "Integrated Security"
// = "SSPI" (trusted) or "User ID" / "Password". False with `error` set (the connection's error
// texts, or why the connection cannot name a database) when it could not be opened.
bool OpenResolvedConnection(const ResolvedConnection& resolved, DbConnection& connection,
                            QString* error);
