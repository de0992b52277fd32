#pragma once

#include <QString>
#include <QStringList>

#include "AdminOptions.h"

class DbConnection;

// What every subcommand that reaches a database server shares: --server, --database and LOGIN
// beside its own options, the check of the options it needs, the description of its connection,
// and how a failure is reported.
struct ServerRequest {
    QString server;
    QString database;
    AdminLogin login;
    AdminOptions options;
};

struct ServerOptions {
    QString command;          // "datalink init", "package run", ...: names the command in messages
    bool takesServer = true;  // --server S
    bool takesDatabase = false;  // --database D
    QStringList values;          // its own value options
    QStringList flags;           // its own flags
    QStringList repeatable;      // value options that may be given more than once
    QStringList required;        // options it cannot go without, checked in this order
    QStringList mayBeEmpty;      // name options that only read, where an empty name is one too
};

// Parses `args` from position `first`. False after reporting the wrong usage (a wrong option, a
// contradictory login, or "COMMAND needs OPTION (see --help)"); the exit status is then 2.
bool ParseServerRequest(const QStringList& args, qsizetype first, const ServerOptions& spec,
                        ServerRequest& request);

// Describes `connection` to `database` on the request's server with its login (time-out 20 s).
void DescribeConnection(DbConnection& connection, const ServerRequest& request,
                        const QString& database);

// The text with every CR LF turned into LF, as the messages of a terminal have them.
QString TerminalLines(const QString& text);
