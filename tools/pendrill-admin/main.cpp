#include <QCoreApplication>
#include <cstdio>
#include <functional>
#include <map>

#include "AdminCommands.h"

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
    "\n"
    "Run 'pendrill-admin COMMAND --help' for the options of a command.\n"
    "Exit status: 0 success, 1 failure, 2 wrong usage or a refused value (an empty name or one\n"
    "with control characters, a number out of range, a password the scrambling cannot keep),\n"
    "5 remote data not obtained (remote).\n";

}  // namespace

// Every line of a message carries the program's name, so that each one read alone (or found by
// grep in a log) tells where it came from.
void AdminError(const QString& text) {
    QString lines = text;
    lines.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    while (lines.endsWith(QLatin1Char('\n')))
        lines.chop(1);
    for (const QString& line : lines.split(QLatin1Char('\n')))
        std::fprintf(stderr, "pendrill-admin: %s\n", line.toLocal8Bit().constData());
}

bool UsageAsked(const QStringList& args, const char* usage) {
    const QString verb = args.value(0);
    if (verb != QLatin1String("help") && !args.contains(QStringLiteral("--help")))
        return false;
    std::fputs(usage, stdout);
    return true;
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (args.isEmpty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const QString command = args.takeFirst();
    if (command == QLatin1String("--help") || command == QLatin1String("help")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (command == QLatin1String("--version")) {
        std::printf("pendrill-admin %s\n", PENDRILL_VERSION);
        return 0;
    }
    const std::map<QString, std::function<int(const QStringList&)>> commands = {
        {QStringLiteral("history"), HistoryCommand}, {QStringLiteral("config"), ConfigCommand},
        {QStringLiteral("server"), ServerCommand},   {QStringLiteral("datalink"), DatalinkCommand},
        {QStringLiteral("package"), PackageCommand}, {QStringLiteral("remote"), RemoteCommand},
    };
    const auto it = commands.find(command);
    if (it == commands.end()) {
        AdminError(QStringLiteral("unknown command '%1' (see --help)").arg(command));
        return 2;
    }
    return it->second(args);
}
