#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include "AdminCommands.h"
#include "HistoryOutput.h"
#include "history/JobHistoryReader.h"
#include "history/Repository.h"
#include "history/TimeStamps.h"

namespace {

const char* const kHistoryUsage =
    "Usage: pendrill-admin history [--json] [--job ID] [--status N] [--since DATE]\n"
    "                              [--until DATE] [--limit N|all]\n"
    "       pendrill-admin history prune --before DATE\n"
    "List the job-history records of the repository, newest first, or delete old ones.\n"
    "  --json          print a JSON array with every stored field\n"
    "  --job ID        only the records of this job identifier\n"
    "  --status N      only the records with this status: 0 success, 1 not reachable\n"
    "                  (repository or server), 2 not loaded (configuration file, data-link\n"
    "                  table or package missing), 3 failed (execution failed or stopped)\n"
    "  --since DATE    only the records that ended at or after DATE\n"
    "  --until DATE    only the records that ended at or before DATE (a date alone: up to the\n"
    "                  end of that day)\n"
    "  --limit N       at most the N newest records; 0 or 'all': every record (default 50\n"
    "                  in the listing, all with --json)\n"
    "  prune --before DATE\n"
    "                  delete, in one transaction, the records that ended before DATE, and\n"
    "                  print how many\n"
    "DATE is YYYY-MM-DD (the start of that day) or YYYY-MM-DDTHH:MM[:SS], in local time unless\n"
    "followed by Z or an offset such as +01:00. Times are shown in local time with their offset.\n"
    "Exit status: 0 success, 1 the repository cannot be read or changed or the listing cannot\n"
    "be written, 2 wrong usage.\n";

constexpr qint64 kDefaultTextLimit = 50;

// The value of option `name` at args[i] ("--name VALUE" or "--name=VALUE"); advances i.
std::optional<QString> optionValue(const QStringList& args, qsizetype& i, const QString& name) {
    const QString& a = args.at(i);
    if (a == name) {
        if (i + 1 >= args.size())
            return std::nullopt;
        return args.at(++i);
    }
    return a.mid(name.size() + 1);
}

bool isOption(const QString& a, const char* name) {
    return a == QLatin1String(name) ||
           (a.startsWith(QLatin1String(name)) && a.mid(qsizetype(qstrlen(name)), 1) == "=");
}

// One line whatever the user typed: control characters of an echoed value become '?'.
int usageError(const QString& text) {
    QString line = text;
    for (QChar& c : line)
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char('?');
    AdminError(QStringLiteral("history: %1").arg(line));
    return 2;
}

QString dateError(const char* option, const QString& value) {
    return QStringLiteral(
               "%1 needs a date YYYY-MM-DD or a date-time YYYY-MM-DDTHH:MM[:SS][+HH:MM], not '%2'")
        .arg(QLatin1String(option), value);
}

// Seconds since 1970 of a command-line date; a date alone at the end of its day when `endOfDay`
// (then the first second of the next day is returned, to be compared with "before").
std::optional<qint64> parseDate(const QString& text, bool endOfDay) {
    bool dateOnly = false;
    const std::optional<QDateTime> t = TimeStamps::ParseCommandLineTime(text, &dateOnly);
    if (!t)
        return std::nullopt;
    if (endOfDay)
        return dateOnly ? t->addDays(1).toSecsSinceEpoch() : t->toSecsSinceEpoch() + 1;
    return t->toSecsSinceEpoch();
}

QString repositoryText() {
    return Repository::DisplayLocation(Repository::CurrentLocation().path);
}

int pruneCommand(const QStringList& args) {
    std::optional<qint64> before;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args.at(i);
        if (a == QLatin1String("--help")) {
            std::fputs(kHistoryUsage, stdout);
            return 0;
        }
        if (!isOption(a, "--before"))
            return usageError(QStringLiteral("prune: unexpected argument '%1'").arg(a));
        const std::optional<QString> value = optionValue(args, i, QStringLiteral("--before"));
        if (!value)
            return usageError(QStringLiteral("prune: --before needs a date"));
        before = parseDate(*value, false);
        if (!before)
            return usageError(QStringLiteral("prune: ") + dateError("--before", *value));
    }
    if (!before)
        return usageError(QStringLiteral("prune needs --before DATE"));
    QString error;
    const qint64 deleted = PruneJobHistory(*before, error);
    if (deleted < 0) {
        AdminError(
            QStringLiteral("cannot prune the repository %1: %2").arg(repositoryText(), error));
        return 1;
    }
    const QString when =
        TimeStamps::DisplayText(TimeStamps::ToText(QDateTime::fromSecsSinceEpoch(*before)));
    std::printf("Deleted %lld job-history record%s that ended before %s.\n",
                static_cast<long long>(deleted), deleted == 1 ? "" : "s",
                when.toLocal8Bit().constData());
    return 0;
}

}  // namespace

int HistoryCommand(const QStringList& args) {
    if (!args.isEmpty() && args.first() == QLatin1String("prune"))
        return pruneCommand(args.mid(1));
    bool json = false;
    std::optional<qint64> limit;
    JobHistoryFilter filter;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args.at(i);
        if (a == QLatin1String("--json")) {
            json = true;
            continue;
        }
        if (a == QLatin1String("--help")) {
            std::fputs(kHistoryUsage, stdout);
            return 0;
        }
        static const char* const kOptions[] = {"--job", "--status", "--since", "--until",
                                               "--limit"};
        const char* option = nullptr;
        for (const char* o : kOptions)
            if (isOption(a, o))
                option = o;
        if (option == nullptr)
            return usageError(QStringLiteral("unexpected argument '%1' (see --help)").arg(a));
        const std::optional<QString> value = optionValue(args, i, QLatin1String(option));
        if (!value)
            return usageError(QStringLiteral("%1 needs a value").arg(QLatin1String(option)));
        const QString name = QLatin1String(option);
        if (name == QLatin1String("--job")) {
            filter.job = *value;
        } else if (name == QLatin1String("--status")) {
            bool ok = false;
            const int status = value->toInt(&ok);
            if (!ok)
                return usageError(
                    QStringLiteral("--status needs a whole number, not '%1'").arg(*value));
            filter.status = status;
        } else if (name == QLatin1String("--limit")) {
            bool ok = false;
            const qint64 n = *value == QLatin1String("all") ? 0 : value->toLongLong(&ok);
            if ((!ok && *value != QLatin1String("all")) || n < 0)
                return usageError(
                    QStringLiteral("--limit needs a number of records or 'all', not '%1'")
                        .arg(*value));
            limit = n;
        } else {
            const bool until = name == QLatin1String("--until");
            const std::optional<qint64> t = parseDate(*value, until);
            if (!t)
                return usageError(dateError(option, *value));
            (until ? filter.before : filter.since) = t;
        }
    }
    // 0 and "all" lift the limit; without --limit the listing stops at the newest 50, and one
    // record more is read to tell whether there were more.
    const bool defaultLimit = !limit && !json;
    if (limit)
        filter.limit = *limit == 0 ? -1 : *limit;
    else if (defaultLimit)
        filter.limit = kDefaultTextLimit + 1;

    JobHistoryReader reader;
    QString error;
    if (!reader.Open(filter, error)) {
        AdminError(
            QStringLiteral("cannot read the repository %1: %2").arg(repositoryText(), error));
        return 1;
    }
    qint64 count = 0;
    bool more = false;
    HistoryJsonWriter writer;
    if (json)
        writer.Begin();
    while (reader.Next()) {
        if (std::ferror(stdout))
            break;
        if (defaultLimit && count == kDefaultTextLimit) {
            more = true;
            break;
        }
        if (json)
            writer.Write(reader);
        else
            PrintHistoryRecord(reader);
        ++count;
    }
    if (json)
        writer.End();
    if (!reader.Error().isEmpty()) {
        std::fflush(stdout);
        AdminError(QStringLiteral("cannot read the repository %1: %2")
                       .arg(repositoryText(), reader.Error()));
        return 1;
    }
    if (!json && count == 0)
        std::puts("No job-history records.");
    if (more)
        std::printf("(the newest %lld records; --limit all lists every one)\n",
                    static_cast<long long>(kDefaultTextLimit));
    // A full disk or a closed file behind standard output: the listing is not whole.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        AdminError(QStringLiteral("cannot write the listing: %1")
                       .arg(QString::fromLocal8Bit(std::strerror(errno))));
        return 1;
    }
    return 0;
}
