#pragma once

#include <QStringList>
#include <vector>

#include "AdminCommand.h"

// The command groups of pendrill-admin, each defined in its own file.
AdminGroup ConfigGroup();    // config show|get|set: a run configuration file
AdminGroup HistoryGroup();   // history [prune]: the job-history records
AdminGroup ServerGroup();    // server add|list|remove|databases: the server aliases
AdminGroup DatalinkGroup();  // datalink init|add|set|list: the data-link catalogue of a warehouse
AdminGroup PackageGroup();   // package import|export|delete|list-versions|list|run
AdminGroup RemoteGroup();    // remote status|fetch|check: the remote data of a model's data links
AdminGroup SettingsGroup();  // settings list|get|set|test: the settings store by name

// Every group, in the order the usage names them.
const std::vector<AdminGroup>& AdminGroups();

// Runs the command line `args` (without the program's name) and returns the exit status: 0
// success, 1 failure, 2 wrong usage (an unknown command or option, a missing value or argument,
// a refused value), 5 remote data not obtained (remote).
int RunAdmin(const QStringList& args, const AdminIo& io);
