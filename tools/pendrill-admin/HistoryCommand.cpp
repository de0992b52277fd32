#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include "CommandTable.h"
#include "HistoryMonitor.h"
#include "HistoryOutput.h"
#include "history/JobHistoryReader.h"
#include "history/Repository.h"
#include "history/TimeStamps.h"

namespace {

const char* const kHistoryUsage =
    "Usage: pendrill-admin history [--json|--json-lines] [--job PATTERN]... [--host NAME]\n"
    "                              [--status N] [--since DATE] [--until DATE]\n"
    "                              [--limit N|all]\n"
    "       pendrill-admin history prune --before DATE [--job PATTERN]... [--host NAME]\n"
    "       pendrill-admin history latest [--json] [--job PATTERN]... [--host NAME]\n"
    "       pendrill-admin history check --max-age DURATION [--job PATTERN]... [--host NAME]\n"
    "       pendrill-admin history metrics [--job PATTERN]... [--host NAME]\n"
    "List the job-history records of the repository, newest first, or delete old ones.\n"
    "  --json          print a JSON array with every stored field\n"
    "  --json-lines    print each record as one JSON object on a line of its own (the same\n"
    "                  fields, compact; for large histories)\n"
    "  --job PATTERN   only the records of job identifiers matching this shell pattern (* any\n"
    "                  text, ? one character, [...] one of a set; without them the identifier\n"
    "                  itself); may be repeated: any of them\n"
    "  --host NAME     only the records written on the computer of this host name\n"
    "  --status N      only the records with this status: 0 success, 1 not reachable\n"
    "                  (repository or server), 2 not loaded (configuration file, data-link\n"
    "                  table or package missing), 3 failed (execution failed or stopped)\n"
    "  --since DATE    only the records that ended at or after DATE\n"
    "  --until DATE    only the records that ended at or before DATE (a date alone: up to the\n"
    "                  end of that day)\n"
    "  --limit N       at most the N newest records; 0 or 'all': every record (default 50\n"
    "                  in the listing, all with --json and --json-lines)\n"
    "  prune --before DATE\n"
    "                  delete, in one transaction, the records that ended before DATE, and\n"
    "                  print how many (with --job and --host: of those jobs and host)\n"
    "  latest          one line per job identifier: its newest run (host, end time, age,\n"
    "                  status ok or failure, exit status, duration); --json: an array\n"
    "  check --max-age DURATION\n"
    "                  a monitoring check: PENDRILL OK, WARNING (a job's newest run ended\n"
    "                  longer ago than DURATION: 30s, 90m, 26h, 2d), CRITICAL (a job's newest\n"
    "                  run failed) or UNKNOWN (the repository cannot be read, no record\n"
    "                  matches), one line per job not OK, performance data; exit status 0,\n"
    "                  1, 2 or 3 (wrong usage: 2, one line on standard error)\n"
    "  metrics         the newest run and the number of runs of each job and host in the\n"
    "                  Prometheus text format\n"
    "Records without a job identifier are left out of latest, check and metrics.\n"
    "DATE is YYYY-MM-DD (the start of that day) or YYYY-MM-DDTHH:MM[:SS], in local time unless\n"
    "followed by Z or an offset such as +01:00. Times are shown in local time with their offset.\n"
    "Exit status: 0 success, 1 the repository cannot be read or changed or the listing cannot\n"
    "be written, 2 wrong usage.\n";

constexpr qint64 kDefaultTextLimit = 50;

// One line whatever the user typed: control characters of an echoed value become '?'.
int usageError(const QString& text, const AdminIo& io) {
    io.error(QStringLiteral("history: %1").arg(OneLine(text)));
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

int prune(const AdminInvocation& c, const AdminIo& io) {
    if (!c.args.has(QStringLiteral("--before")))
        return usageError(QStringLiteral("prune needs --before DATE"), io);
    const QString value = c.args.last(QStringLiteral("--before"));
    const std::optional<qint64> before = parseDate(value, false);
    if (!before)
        return usageError(QStringLiteral("prune: ") + dateError("--before", value), io);
    QString error;
    JobHistoryFilter selection;
    TakeJobSelection(c.args, &selection);
    const qint64 deleted = PruneJobHistory(*before, &error, selection);
    if (deleted < 0) {
        io.error(QStringLiteral("cannot prune the repository %1: %2").arg(repositoryText(), error));
        return 1;
    }
    const QString when =
        TimeStamps::DisplayText(TimeStamps::ToText(QDateTime::fromSecsSinceEpoch(*before)));
    std::fprintf(io.out, "Deleted %lld job-history record%s that ended before %s.\n",
                 static_cast<long long>(deleted), deleted == 1 ? "" : "s",
                 when.toLocal8Bit().constData());
    return 0;
}

int list(const AdminInvocation& c, const AdminIo& io) {
    const AdminArgs& args = c.args;
    const bool lines = args.has(QStringLiteral("--json-lines"));
    if (lines && args.has(QStringLiteral("--json"))) {
        io.error(QStringLiteral("history: --json and --json-lines exclude each other"));
        return 2;
    }
    const bool json = lines || args.has(QStringLiteral("--json"));
    std::optional<qint64> limit;
    JobHistoryFilter filter;
    TakeJobSelection(args, &filter);
    if (args.has(QStringLiteral("--status"))) {
        const QString value = args.last(QStringLiteral("--status"));
        bool ok = false;
        filter.status = value.toInt(&ok);
        if (!ok)
            return usageError(QStringLiteral("--status needs a whole number, not '%1'").arg(value),
                              io);
    }
    if (args.has(QStringLiteral("--limit"))) {
        const QString value = args.last(QStringLiteral("--limit"));
        bool ok = false;
        const qint64 n = value == QLatin1String("all") ? 0 : value.toLongLong(&ok);
        if ((!ok && value != QLatin1String("all")) || n < 0)
            return usageError(
                QStringLiteral("--limit needs a number of records or 'all', not '%1'").arg(value),
                io);
        limit = n;
    }
    for (const char* option : {"--since", "--until"}) {
        if (!args.has(QLatin1String(option)))
            continue;
        const QString value = args.last(QLatin1String(option));
        const bool until = option[2] == 'u';
        const std::optional<qint64> t = parseDate(value, until);
        if (!t)
            return usageError(dateError(option, value), io);
        (until ? filter.before : filter.since) = t;
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
    if (!reader.Open(filter, &error)) {
        io.error(QStringLiteral("cannot read the repository %1: %2").arg(repositoryText(), error));
        return 1;
    }
    qint64 count = 0;
    bool more = false;
    HistoryJsonWriter writer(io.out, lines);
    if (json)
        writer.Begin();
    while (reader.Next()) {
        if (std::ferror(io.out))
            break;
        if (defaultLimit && count == kDefaultTextLimit) {
            more = true;
            break;
        }
        if (json)
            writer.Write(reader);
        else
            PrintHistoryRecord(reader, io.out);
        ++count;
    }
    if (json)
        writer.End();
    if (!reader.Error().isEmpty()) {
        std::fflush(io.out);
        io.error(QStringLiteral("cannot read the repository %1: %2")
                     .arg(repositoryText(), reader.Error()));
        return 1;
    }
    if (!json && count == 0)
        io.print(QStringLiteral("No job-history records."));
    if (more)
        std::fprintf(io.out, "(the newest %lld records; --limit all lists every one)\n",
                     static_cast<long long>(kDefaultTextLimit));
    // A full disk or a closed file behind standard output: the listing is not whole.
    if (std::fflush(io.out) != 0 || std::ferror(io.out)) {
        io.error(QStringLiteral("cannot write the listing: %1")
                     .arg(QString::fromLocal8Bit(std::strerror(errno))));
        return 1;
    }
    return 0;
}

// Runs `Run` once every --job pattern can be read: one that cannot (a set such as [z-a]) would
// match nothing, silently.
template <int (*Run)(const AdminInvocation&, const AdminIo&)>
int withReadablePatterns(const AdminInvocation& c, const AdminIo& io) {
    for (const QString& pattern : c.args.values.value(QStringLiteral("--job")))
        if (!JobPatternValid(pattern))
            return usageError(
                QStringLiteral("--job '%1' is not a pattern that can be read").arg(pattern), io);
    return Run(c, io);
}

}  // namespace

// history [OPTION]...: the listing, run without a command word; history prune --before DATE.
AdminGroup HistoryGroup() {
    AdminCommand list{""}, prune{"prune"}, latest{"latest"}, check{"check"}, metrics{"metrics"};
    // A filter given twice: the last one counts; --job: any of them.
    list.options = {{"--json", false},       {"--json-lines", false},  {"--job", true, true},
                    {"--host", true, true},  {"--status", true, true}, {"--since", true, true},
                    {"--until", true, true}, {"--limit", true, true}};
    list.errorPrefix = "history: ";
    list.run = withReadablePatterns<::list>;
    prune.options = {{"--before", true, true}, {"--job", true, true}, {"--host", true, true}};
    prune.errorPrefix = "history: prune: ";
    prune.run = withReadablePatterns<::prune>;
    latest.options = {{"--json", false}, {"--job", true, true}, {"--host", true, true}};
    latest.errorPrefix = "history: latest: ";
    latest.run = withReadablePatterns<PrintLatestRuns>;
    metrics.options = {{"--job", true, true}, {"--host", true, true}};
    metrics.errorPrefix = "history: metrics: ";
    metrics.run = withReadablePatterns<PrintRunMetrics>;
    check.options = {{"--max-age", true, true}, {"--job", true, true}, {"--host", true, true}};
    check.errorPrefix = "history: check: ";
    check.run = withReadablePatterns<CheckLatestRuns>;
    return AdminGroup{"history", kHistoryUsage, {list, prune, latest, check, metrics}};
}
