#pragma once

#include <QString>

class DbConnection;

// Creates the database `name` on the PostgreSQL server of `maintenance` (a connection to one of
// its other databases; the server's own way of making a new database, which the embedded server
// does by opening a missing file). False with the connection's errors set.
bool CreatePostgresDatabase(DbConnection& maintenance, const QString& name);
