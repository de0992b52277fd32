#include "ServerRequest.h"

#include "AdminCommands.h"
#include "config/ValueChecks.h"
#include "db/DbInterface.h"

bool ParseServerRequest(const QStringList& args, qsizetype first, const ServerOptions& spec,
                        ServerRequest& request) {
    QStringList values = AdminLoginValueOptions;
    if (spec.takesServer)
        values << QStringLiteral("--server");
    if (spec.takesDatabase)
        values << QStringLiteral("--database");
    values << spec.values;
    QString error;
    if (!ParseAdminOptions(args, first, values, AdminLoginFlagOptions + spec.flags, request.options,
                           error, spec.repeatable) ||
        !AdminLoginFrom(request.options, request.login, error)) {
        AdminError(error);
        return false;
    }
    for (const QString& option : spec.required) {
        if (!request.options.has(option)) {
            AdminError(QStringLiteral("%1 needs %2 (see --help)").arg(spec.command, option));
            return false;
        }
    }
    // Names become file names on an embedded server and words in messages and logs: no empty
    // ones (except to find rows stored with one), no line breaks or escape sequences.
    const struct {
        const char* option;
        const char* what;
    } names[] = {{"--server", "server name"},
                 {"--database", "database name"},
                 {"--model", "model name"},
                 {"--name", "data-link name"}};
    for (const auto& n : names) {
        const QString option = QString::fromLatin1(n.option);
        if (!request.options.values.contains(option) ||
            (spec.mayBeEmpty.contains(option) && request.options.value(option).isEmpty()))
            continue;
        const QString why = NameRefusal(QString::fromLatin1(n.what), request.options.value(option));
        if (!why.isEmpty()) {
            AdminError(option + QStringLiteral(": ") + why);
            return false;
        }
    }
    request.server = request.options.value(QStringLiteral("--server"));
    request.database = request.options.value(QStringLiteral("--database"));
    return true;
}

void DescribeConnection(DbConnection& connection, const ServerRequest& request,
                        const QString& database) {
    connection.ConnectionTimeout = 20;
    connection.Describe(request.server, database, request.login.trusted, request.login.user,
                        request.login.password);
}

QString TerminalLines(const QString& text) {
    return QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}
