#pragma once

#include <QString>
#include <QStringList>

#include "ServerRequest.h"

// The parts of "pendrill-admin package": the store verbs (PackageCommand.cpp), run
// (PackageRunCommand.cpp) and list (PackageListCommand.cpp).

struct PackageRequest : ServerRequest {
    QString name;  // FILE or NAME
};

// Parses "VERB NAME --server S [LOGIN] [more options]"; the exit status on failure, else -1.
int ParseCommon(const QStringList& args, const QString& verb, const QStringList& values,
                const QStringList& flags, PackageRequest& out, const QStringList& repeatable = {});

// package run: the arguments from "run" on.
int PackageRunCommand(const QStringList& args);
