#pragma once

#include <QStringList>

// The subcommands of pendrill-admin. Each gets the arguments after its name and returns the exit
// status (0 success, 1 failure, 2 wrong usage); errors go to standard error.
int HistoryCommand(const QStringList& args);
int ConfigCommand(const QStringList& args);

// Prints "pendrill-admin: <text>" on standard error.
void AdminError(const QString& text);
