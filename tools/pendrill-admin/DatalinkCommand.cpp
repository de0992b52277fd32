#include "DatalinkCommand.h"

#include <cstdio>

#include "AdminCommands.h"
#include "datasources/DataLink.h"
#include "datasources/DataLinkCatalogue.h"
#include "datasources/WarehouseConnection.h"

namespace {

const char* const kDatalinkUsage =
    "Usage: pendrill-admin datalink init --server S --database D [LOGIN]\n"
    "       pendrill-admin datalink add  --server S --database D --model M --name N --type T\n"
    "                                    [FIELD]... [LOGIN]\n"
    "       pendrill-admin datalink set  --server S --database D --model M --name N FIELD...\n"
    "                                    [LOGIN]\n"
    "       pendrill-admin datalink list --server S --database D --model M [--json] [LOGIN]\n"
    "Set up and inspect the data-link catalogue (table dwm_data_link) of a data-warehouse\n"
    "database.\n"
    "  init   create the table (and, on an embedded or PostgreSQL server, the database)\n"
    "  add    add the data link N of model M; fields not given are NULL\n"
    "  set    change fields of the data link N of model M\n"
    "  list   the data links of model M as Pendrill shows them: NULL as empty, 0 or FALSE,\n"
    "         numbers beyond 32767 as 32767, passwords in clear; rows whose Type is not a\n"
    "         number are left out with a note on standard error\n"
    "Model and data-link names are compared exactly (letter case counts), also on a server\n"
    "whose collation ignores case. add and set refuse an empty model or data-link name;\n"
    "list --model \"\" lists the rows stored with an empty model.\n"
    "LOGIN:  --user U [--password P]   or   --trusted (the default)\n"
    "FIELD:  --type N  --ds-server TEXT  --ds-database TEXT  --ds-trusted-login true|false\n"
    "        --ds-user TEXT  --ds-password TEXT  --ds-file TEXT  --ds-directory TEXT\n"
    "        --ds-connect-string TEXT  --transfer-data N  --ftp-server TEXT  --ftp-user TEXT\n"
    "        --ftp-password TEXT  --remote-directory TEXT  --poll-interval N  --poll-duration N\n"
    "        --null COLUMN (set a column to NULL; may be repeated)\n"
    "        Numbers (N) are whole numbers from 0 to 32767.\n"
    "Passwords are given in clear and stored ROT13-rotated, as Pendrill stores them.\n";

}  // namespace

QString DataLinkTableName() {
    return QString::fromLatin1(DataLinkTable);
}

bool ConnectWarehouse(const DatalinkRequest& r) {
    QString error;
    if (ConnectToDWServer(r.server, r.login.trusted, r.login.user, r.login.password, r.database, 20,
                          &error))
        return true;
    AdminError(TerminalLines(error));
    return false;
}

bool RequireDataLinkTable() {
    if (TableExists(*GetDWConnection(), DataLinkTableName()))
        return true;
    AdminError(TerminalLines(QString::fromLatin1(DataLinkTableMissingText)));
    return false;
}

int DatalinkCommand(const QStringList& args) {
    const QString verb = args.value(0);
    if (UsageAsked(args, kDatalinkUsage))
        return 0;
    ServerOptions spec;
    spec.command = QStringLiteral("datalink ") + verb;
    spec.takesDatabase = true;
    spec.repeatable = QStringList{QStringLiteral("--null")};
    spec.required = QStringList{QStringLiteral("--server"), QStringLiteral("--database")};
    int (*run)(const DatalinkRequest&) = nullptr;
    if (verb == QLatin1String("init")) {
        run = DatalinkInit;
    } else if (verb == QLatin1String("list")) {
        spec.values << QStringLiteral("--model");
        spec.flags << QStringLiteral("--json");
        spec.required << QStringLiteral("--model");
        spec.mayBeEmpty << QStringLiteral("--model");
        run = DatalinkList;
    } else if (verb == QLatin1String("add") || verb == QLatin1String("set")) {
        spec.values << QStringLiteral("--model") << QStringLiteral("--name")
                    << QStringLiteral("--null") << DatalinkFieldOptions();
        spec.required << QStringLiteral("--model") << QStringLiteral("--name");
        run = verb == QLatin1String("add") ? DatalinkAdd : DatalinkSet;
    } else {
        std::fputs(kDatalinkUsage, stderr);
        return 2;
    }
    DatalinkRequest r;
    if (!ParseServerRequest(args, 1, spec, r))
        return 2;
    r.model = r.options.value(QStringLiteral("--model"));
    r.name = r.options.value(QStringLiteral("--name"));
    return run(r);
}
