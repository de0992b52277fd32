#include "CommandTable.h"

#include "AdminSecrets.h"
#include "ServerRequest.h"

namespace {

const char* const kUsage =
    "Usage: pendrill-admin COMMAND [ARGS]...\n"
    "Set up and inspect Pendrill on a server without a screen.\n"
    "\n"
    "Commands:\n"
    "  config show|get|set FILE ...   read and write a run configuration file\n"
    "  history [--json] [--job ID] ... list the job-history records, newest first\n"
    "  history prune --before DATE    delete old job-history records\n"
    "  server add|list|remove ...     define the database servers reached by name\n"
    "  datalink init|add|set|list ... set up the data-link catalogue of a warehouse\n"
    "  package import|list|run ...    store, list and run the packages of a server\n"
    "  remote status|fetch|check ...  the remote data of a model's data links\n"
    "  settings list|get|set|test ... the settings store by name (repository, FTP, hooks)\n"
    "\n"
    "Run 'pendrill-admin COMMAND --help' for the options of a command.\n"
    "Exit status: 0 success, 1 failure, 2 wrong usage or a refused value (an empty name or one\n"
    "with control characters, a number out of range, a password the scrambling cannot keep),\n"
    "5 remote data not obtained (remote).\n";

constexpr int kWrongUsage = 2;

bool isHelp(const QString& word) {
    return word == QLatin1String("--help") || word == QLatin1String("-h") ||
           word == QLatin1String("help");
}

int usage(const char* text, const AdminIo& io, bool asked) {
    std::fputs(text, asked ? io.out : io.err);
    return asked ? 0 : kWrongUsage;
}

int runCommand(const AdminGroup& group, const AdminCommand& command, const QStringList& args,
               const AdminIo& io) {
    const char* help = command.usage ? command.usage : group.usage;
    QString label = QString::fromLatin1(group.name);
    if (*command.name != '\0')
        label += QLatin1Char(' ') + QLatin1String(command.name);
    const QString prefix = QString::fromLatin1(command.errorPrefix ? command.errorPrefix : "");
    const auto wrong = [&](const QString& text) {
        io.error(prefix + text);
        return kWrongUsage;
    };
    AdminInvocation invocation;
    bool helpAsked = false;
    QString error;
    const bool parsed = ParseAdminArgs(args, command, &invocation.args, &helpAsked, &error);
    if (helpAsked)
        return usage(help, io, true);
    if (!parsed || !ResolveSecretOptions(&invocation.args, &error))
        return wrong(error);
    const QStringList& given = invocation.args.positional;
    if (given.size() < command.minArgs) {
        if (command.missingArgText && !command.usageOnWrongArgs)
            return wrong(QString::fromLatin1(command.missingArgText));
        return usage(group.usage, io, false);
    }
    if (given.size() > command.maxArgs) {
        if (command.usageOnWrongArgs)
            return usage(group.usage, io, false);
        return wrong(
            OneLine(QStringLiteral("unexpected argument '%1'").arg(given.at(command.maxArgs))));
    }
    if (command.connection != AdminConnection::None &&
        !TakeConnectionOptions(command, label, &invocation, &error))
        return wrong(error);
    return command.run(invocation, io);
}

int runGroup(const AdminGroup& group, const QStringList& args, const AdminIo& io) {
    const QString word = args.value(0);
    if (!args.isEmpty() && isHelp(word))
        return usage(group.usage, io, true);
    if (const AdminCommand* command = group.find(word))
        return runCommand(group, *command, args.mid(1), io);
    // A group whose first command has no name runs it without a command word (history).
    if (!group.commands.empty() && *group.commands.front().name == '\0')
        return runCommand(group, group.commands.front(), args, io);
    if (args.isEmpty() || !group.unknownCommandText)
        return usage(group.usage, io, false);
    io.error(OneLine(QString::fromLatin1(group.unknownCommandText).arg(word)));
    return kWrongUsage;
}

}  // namespace

const std::vector<AdminGroup>& AdminGroups() {
    static const std::vector<AdminGroup> groups = {ConfigGroup(),   HistoryGroup(), ServerGroup(),
                                                   DatalinkGroup(), PackageGroup(), RemoteGroup(),
                                                   SettingsGroup()};
    return groups;
}

int RunAdmin(const QStringList& args, const AdminIo& io) {
    if (args.isEmpty())
        return usage(kUsage, io, false);
    const QString word = args.first();
    if (isHelp(word))
        return usage(kUsage, io, true);
    if (word == QLatin1String("--version")) {
        std::fprintf(io.out, "pendrill-admin %s\n", PENDRILL_VERSION);
        return 0;
    }
    for (const AdminGroup& group : AdminGroups())
        if (word == QLatin1String(group.name))
            return runGroup(group, args.mid(1), io);
    io.error(OneLine(QStringLiteral("unknown command '%1' (see --help)").arg(word)));
    return kWrongUsage;
}
