#pragma once

#include <QSqlDatabase>
#include <QString>

class DbConnection;

// Creates the database `name` on the PostgreSQL server of `maintenance` (a connection to one of
// its other databases; the server's own way of making a new database, which the embedded server
// does by opening a missing file). False with the connection's errors set.
bool CreatePostgresDatabase(DbConnection& maintenance, const QString& name);

// Sets up a connection to the server `db` names with libpq's non-blocking calls, looking at the
// stop flags every 100 ms: a server that does not answer keeps the program no longer than
// `timeoutSeconds`, and SIGTERM or SIGINT ends the wait at once. False with `why` when the
// time-out or a signal ended the attempt; true when the server answered, whether it took the
// login or not (the driver's own connection, opened next, then says what it said).
bool PostgresServerAnswers(const QSqlDatabase& db, int timeoutSeconds, QString& why);
