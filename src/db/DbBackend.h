#pragma once

#include <QString>
#include <memory>

class BulkRowSink;
class DbConnection;
namespace StopCutter {
class Registration;
}
class QSqlDatabase;
class SqlDialect;

// What one kind of database server does for the rest of the program: each folder under src/db/
// (embedded/, postgres/, odbc/) implements it once. ServerResolver picks the backend of a server
// name (BackendOf, ServerBackend); the layers above program against this interface and never
// name a kind.
class DbBackend {
  public:
    virtual ~DbBackend() = default;

    // --- connections described by a server name (DbConnection) ---

    // Opens `connection` on `database` of its resolved server (`trusted`: the operating-system
    // account, else the connection's "User ID" and "Password"). False with the connection's
    // errors set.
    virtual bool Open(DbConnection& connection, const QString& database, bool trusted) const = 0;
    // How a stop signal ends a statement of the connection `db` opened (StopCutter): held by the
    // connection until it is closed. Null where nothing can be done (the default).
    virtual std::unique_ptr<StopCutter::Registration> StopCut(QSqlDatabase& db) const;
    // The dialect of the kind. An open ODBC connection speaks the dialect of the server it found
    // (DbConnection::Dialect).
    virtual const SqlDialect& Dialect() const = 0;
    // The bulk sink that loads `table` over `connection` (taken over). Never null; an unknown
    // table or column shows at Begin.
    virtual std::unique_ptr<BulkRowSink> OpenBulkSink(std::unique_ptr<DbConnection> connection,
                                                      const QString& table) const = 0;

    // Whether a missing database is made by a statement on another database of the server
    // (CreateDatabase), rather than by opening it (the embedded server, with
    // CreateMissingDatabase) or not at all.
    virtual bool CreatesDatabaseByStatement() const { return false; }
    // Whether the server of `maintenance` (a connection to one of its databases) holds the
    // database `name`. False with the connection's errors set when it cannot tell.
    virtual bool HasDatabase(DbConnection& maintenance, const QString& name, bool* exists) const;
    // Creates the database `name` on the server of `maintenance`. False with the connection's
    // errors set (always, where CreatesDatabaseByStatement is false).
    virtual bool CreateDatabase(DbConnection& maintenance, const QString& name) const;

    // Whether the server `db` is set up for answers within `timeoutSeconds`, before the driver's
    // own blocking connect is tried; a stop request ends the wait. False with `why` set when the
    // time-out or a stop request ended the attempt; true when the server answered, whether it
    // took the login or not. True at once for kinds whose connects do not hang.
    virtual bool ServerAnswers(const QSqlDatabase& db, int timeoutSeconds, QString* why) const;

    // --- databases named by a location text (a file, or a server URL) ---

    // Opens the database at `location` as `db` (added under `connectionName`), creating it when
    // missing (a file's directory too when `createDirectory`). False with `error` set; `db` is
    // then no open connection.
    virtual bool OpenLocation(QSqlDatabase& db, const QString& connectionName,
                              const QString& location, bool createDirectory,
                              QString* error) const = 0;

    // --- schemas a program keeps in its own database ---

    // Whether the schema of `version`, whose last created object is the index `lastIndex`, is
    // complete in `db` (the embedded server keeps the version in the database file; a server
    // looks for the index, which is created last).
    virtual bool SchemaComplete(QSqlDatabase& db, int version, const QString& lastIndex) const = 0;
    // Begins the transaction in which a schema is created or upgraded, taking a lock (keyed by
    // `lockKey` where the server has named locks) so that programs opening the database at the
    // same moment take turns. False with `error` set.
    virtual bool BeginSchemaChange(QSqlDatabase& db, qint64 lockKey, QString* error) const = 0;
    // Records, inside the schema transaction, that the schema of `version` is complete.
    virtual bool MarkSchemaComplete(QSqlDatabase& db, int version, QString* error) const = 0;
};

// The backend of a location text: a PostgreSQL URL, else a database file of the embedded server.
const DbBackend& BackendOfLocation(const QString& location);
// True when a location text names a database on a server (postgresql:// or postgres://) rather
// than a file.
bool IsServerDatabaseUrl(const QString& location);
// The location as it may be shown: a URL's password is left out.
QString DisplayDatabaseLocation(const QString& location);
