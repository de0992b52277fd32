#pragma once

#include <QStringList>

// The subcommands of pendrill-admin. Each gets the arguments after its name and returns the exit
// status (0 success, 1 failure, 2 wrong usage); errors go to standard error.
int HistoryCommand(const QStringList& args);
int ConfigCommand(const QStringList& args);
// server add|list|remove|databases: the server aliases of the settings store.
int ServerCommand(const QStringList& args);
// datalink init|add|set|list: the data-link catalogue of a data-warehouse database.
int DatalinkCommand(const QStringList& args);
// package import|export|delete|list-versions|run (and list, handed to PackageListCommand): the
// package store of a server and package runs.
int PackageCommand(const QStringList& args);
// remote status|fetch|check: the remote data of a model's data links (exit 5: not obtained).
int RemoteCommand(const QStringList& args);
// package list: the arguments after "package list".
int PackageListCommand(const QStringList& args);

// Prints "pendrill-admin: <text>" on standard error.
void AdminError(const QString& text);

// True, after printing `usage` on standard output, when the arguments of a subcommand ask for
// it: "help" or "--help" as the verb, or "--help" anywhere.
bool UsageAsked(const QStringList& args, const char* usage);
