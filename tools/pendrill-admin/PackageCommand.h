#pragma once

#include <QString>
#include <QStringList>

#include "ServerRequest.h"

// The parts of "pendrill-admin package": the store verbs (PackageCommand.cpp), run
// (PackageRunCommand.cpp) and list (PackageListCommand.cpp).

// A command line "VERB NAME --server S [LOGIN] [more options]".
struct PackageRequest : AdminInvocation {
    explicit PackageRequest(const AdminInvocation& invocation)
        : AdminInvocation(invocation), name(invocation.args.positional.value(0)) {}
    QString name;  // FILE or NAME
};

// False after reporting a package NAME that is empty or holds control characters.
bool CheckPackageName(const PackageRequest& request, const AdminIo& io);

// package run NAME ...
int PackageRunCommand(const AdminInvocation& invocation, const AdminIo& io);
// package list: its own command, with its own usage text.
AdminCommand PackageListCommand();
