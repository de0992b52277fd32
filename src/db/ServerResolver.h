#pragma once

#include <QString>
#include <optional>

// Turns a server name (the "Data Source" of a connection) into where the server really is:
//  1. an alias in the settings store, key ServerAliasKey, value name = server name (any letter
//     case): "sqlite:<directory>", "postgresql://[user@]host[:port]" or "odbc:<connection text>";
//  2. otherwise "(local)", "." and "localhost" are the embedded local server in
//     $XDG_DATA_HOME/pendrill/servers/local/;
//  3. any other name is not found.
struct ServerLocation {
    enum class Kind { Embedded, PostgreSQL, Odbc };
    Kind kind = Kind::Embedded;
    QString name;       // the server name as asked for
    QString directory;  // Embedded: the directory holding <database>.db files
    QString host;       // PostgreSQL: host name, address, or socket directory
    int port = 5432;    // PostgreSQL
    QString user;       // PostgreSQL: login named in the alias, if any
    QString odbc;       // Odbc: the connection text
};

inline constexpr const char* ServerAliasKey = "Software\\Tessaly\\Pendrill\\Servers";

// Nothing, with `error` set, when the name is not a server this machine knows, or its alias
// text cannot be understood.
std::optional<ServerLocation> ResolveServer(const QString& serverName, QString* error = nullptr);

// Parses an alias text (what the settings store holds for a server).
std::optional<ServerLocation> ParseServerAlias(const QString& name, const QString& aliasText,
                                               QString* error = nullptr);

class DbBackend;

// The backend of a resolved server's kind.
const DbBackend& BackendOf(const ServerLocation& server);
// The backend of a server name (ResolveServer). Null, with `error` set, when ResolveServer finds
// no server.
const DbBackend* ServerBackend(const QString& serverName, QString* error = nullptr);

// $XDG_DATA_HOME/pendrill/servers/local
QString LocalServerDirectory();
