#pragma once

#include <QString>

#include "AdminCommand.h"

class DbConnection;

// What every command that reaches a database server shares: the check of its connection options,
// the description of its connection, and the text of a failure.

// Fills the server, database and login of `invocation` from its options. False with `error` (one
// line) for a contradictory login, a missing required option ("COMMAND needs OPTION (see
// --help)", `label` naming the command) or a name that is empty or holds control characters.
bool TakeConnectionOptions(const AdminCommand& command, const QString& label,
                           AdminInvocation* invocation, QString* error);

// Describes `connection` to `database` on the invocation's server with its login (time-out 20 s).
void DescribeConnection(DbConnection& connection, const AdminInvocation& invocation,
                        const QString& database);

// The text with every CR LF turned into LF, as the messages of a terminal have them.
QString TerminalLines(const QString& text);

// A connection text (an ODBC alias, a data link's connect string) with the value of its PWD= or
// Password= part shown as ********: a listing shows that a password is there, not what it is.
QString MaskedConnectionText(const QString& text);
