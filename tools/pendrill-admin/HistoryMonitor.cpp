#include "HistoryMonitor.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>
#include <algorithm>
#include <optional>

#include "history/JobHistoryReader.h"
#include "history/Repository.h"
#include "history/TimeStamps.h"

namespace {

// The newest run of a job on a host, and how many runs there were of each outcome.
struct JobRuns {
    QString job, host;
    std::optional<qint64> end;  // seconds since 1970
    QString endText;            // local time with its offset
    bool ok = false;
    QVariant status, exitStatus, duration;
    QString message;
    qint64 okRuns = 0, failedRuns = 0;
};

int column(const char* name) {
    return int(JobHistoryReader::Columns().indexOf(QLatin1String(name)));
}

QString repositoryText() {
    return Repository::DisplayLocation(Repository::CurrentLocation().path);
}

// Every selected run of Pendrill jobs (records with a job identifier), per job and host in the
// order of their newest runs, newest first. False with `error` set when the repository cannot be
// read.
bool readJobRuns(const AdminArgs& args, QList<JobRuns>& runs, QString* error) {
    static const int job = column("JobIdentifier"), host = column("ComputerName"),
                     end = column("EndTime"), status = column("Status"),
                     exit = column("exitStatus"), duration = column("durationSeconds"),
                     message = column("Message");
    JobHistoryFilter filter;
    TakeJobSelection(args, &filter);
    JobHistoryReader reader;
    if (!reader.Open(filter, error))
        return false;
    QMap<QPair<QString, QString>, qsizetype> seen;
    while (reader.Next()) {
        const QString id = reader.Value(job).toString();
        if (id.isEmpty())
            continue;
        const QPair<QString, QString> key{id, reader.Value(host).toString()};
        qsizetype at = seen.value(key, -1);
        if (at < 0) {
            JobRuns r;
            r.job = key.first;
            r.host = key.second;
            const QVariant endValue = reader.Value(end);
            r.end = TimeStamps::StoredSeconds(endValue.toString());
            r.endText = reader.Field(end).toString();
            r.status = reader.Value(status);
            r.ok = !r.status.isNull() && r.status.toInt() == 0;
            r.exitStatus = reader.Value(exit);
            r.duration = reader.Value(duration);
            r.message = reader.Value(message).toString();
            at = runs.size();
            seen.insert(key, at);
            runs.append(r);
        }
        const QVariant s = reader.Value(status);
        ++(!s.isNull() && s.toInt() == 0 ? runs[at].okRuns : runs[at].failedRuns);
    }
    if (reader.Error().isEmpty())
        return true;
    if (error)
        *error = reader.Error();
    return false;
}

// The newest run of each job identifier, whichever host ran it.
QList<JobRuns> newestPerJob(const QList<JobRuns>& runs) {
    QList<JobRuns> newest;
    QSet<QString> jobs;
    for (const JobRuns& r : runs)
        if (!jobs.contains(r.job)) {
            jobs.insert(r.job);
            newest.append(r);
        }
    return newest;
}

// An age as its largest two units: 45s, 12m30s, 26h5m, 2d3h.
QString ageText(qint64 secs) {
    if (secs < 60)
        return QStringLiteral("%1s").arg(secs);
    if (secs < 3600)
        return QStringLiteral("%1m%2s").arg(secs / 60).arg(secs % 60);
    if (secs < 86400)
        return QStringLiteral("%1h%2m").arg(secs / 3600).arg(secs % 3600 / 60);
    return QStringLiteral("%1d%2h").arg(secs / 86400).arg(secs % 86400 / 3600);
}

QString numberText(const QVariant& v) {
    return v.isNull() ? QStringLiteral("-") : QString::number(v.toDouble(), 'g', 15);
}

// A stored text on one line of a listing.
// The most characters of a stored message a check line shows.
constexpr qsizetype kShownMessage = 500;

int readFailed(const QString& error, const AdminIo& io) {
    io.error(QStringLiteral("cannot read the repository %1: %2").arg(repositoryText(), error));
    return 1;
}

// Seconds of a DURATION: a whole number followed by s, m, h or d.
std::optional<qint64> durationSeconds(const QString& text) {
    static const QRegularExpression form(QStringLiteral("^([0-9]{1,9})([smhd])$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const qint64 unit = QStringLiteral("smhd").indexOf(m.captured(2));
    static const qint64 seconds[] = {1, 60, 3600, 86400};
    return m.captured(1).toLongLong() * seconds[unit];
}

// A label value of the Prometheus text format: backslash, quote and line feed escaped.
QString labelValue(const QString& text) {
    QString v = text;
    v.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    v.replace(QLatin1Char('"'), QLatin1String("\\\""));
    v.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    return v;
}

}  // namespace

void TakeJobSelection(const AdminArgs& args, JobHistoryFilter* filter) {
    filter->jobs = args.values.value(QStringLiteral("--job"));
    if (args.has(QStringLiteral("--host")))
        filter->host = args.last(QStringLiteral("--host"));
}

int PrintLatestRuns(const AdminInvocation& c, const AdminIo& io) {
    QList<JobRuns> runs;
    QString error;
    if (!readJobRuns(c.args, runs, &error))
        return readFailed(error, io);
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const QList<JobRuns> latest = newestPerJob(runs);
    if (c.args.has(QStringLiteral("--json"))) {
        QJsonArray list;
        for (const JobRuns& r : latest) {
            QJsonObject o{{"job", r.job}, {"host", r.host}, {"status", r.ok ? "ok" : "failure"}};
            o.insert("endTime", r.end ? QJsonValue(r.endText) : QJsonValue());
            o.insert("ageSeconds", r.end ? QJsonValue(now - *r.end) : QJsonValue());
            o.insert("exitStatus", r.exitStatus.isNull() ? QJsonValue() : r.exitStatus.toInt());
            o.insert("durationSeconds", r.duration.isNull() ? QJsonValue() : r.duration.toDouble());
            list.append(o);
        }
        io.write(QJsonDocument(list).toJson());
        return 0;
    }
    QList<QStringList> rows = {{"JOB", "HOST", "END", "AGE", "STATUS", "EXIT", "DURATION"}};
    for (const JobRuns& r : latest)
        rows.append({OneLine(r.job), OneLine(r.host),
                     r.end ? TimeStamps::DisplayText(r.endText) : QStringLiteral("-"),
                     r.end ? ageText(now - *r.end) : QStringLiteral("-"),
                     r.ok ? QStringLiteral("ok") : QStringLiteral("failure"),
                     numberText(r.exitStatus),
                     r.duration.isNull() ? QStringLiteral("-") : numberText(r.duration) + 's'});
    QList<qsizetype> widths(rows.first().size(), 0);
    for (const QStringList& row : rows)
        for (qsizetype i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row.at(i).size());
    for (const QStringList& row : rows) {
        QString line;
        for (qsizetype i = 0; i < row.size(); ++i)
            line += i + 1 < row.size() ? row.at(i).leftJustified(widths[i] + 2) : row.at(i);
        io.print(line);
    }
    if (latest.isEmpty())
        io.print(QStringLiteral("No job-history records."));
    return 0;
}

int CheckLatestRuns(const AdminInvocation& c, const AdminIo& io) {
    enum { Ok, Warning, Critical, Unknown };
    static const char* const words[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};
    const auto say = [&io](int state, const QString& summary) {
        io.print(QStringLiteral("PENDRILL %1 - %2").arg(QLatin1String(words[state]), summary));
        return state;
    };
    // Wrong usage is exit status 2 with one line, as for every command: a check that is set up
    // wrongly shows at once rather than as an unknown state.
    if (!c.args.has(QStringLiteral("--max-age"))) {
        io.error(QStringLiteral("history: check: needs --max-age DURATION"));
        return 2;
    }
    const QString ageValue = c.args.last(QStringLiteral("--max-age"));
    const std::optional<qint64> maxAge = durationSeconds(ageValue);
    if (!maxAge) {
        io.error(QStringLiteral("history: check: --max-age needs a duration such as 30s, 90m, "
                                "26h or 2d, not '%1'")
                     .arg(OneLine(ageValue)));
        return 2;
    }
    QList<JobRuns> runs;
    QString error;
    if (!readJobRuns(c.args, runs, &error))
        return say(Unknown, QStringLiteral("cannot read the repository %1: %2")
                                .arg(repositoryText(), OneLine(error)));
    const QList<JobRuns> latest = newestPerJob(runs);
    if (latest.isEmpty())
        return say(Unknown, QStringLiteral("no job-history record matches the selection"));
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    QStringList lines;
    qint64 failed = 0, stale = 0, oldest = 0;
    for (const JobRuns& r : latest) {
        const qint64 age = r.end ? now - *r.end : -1;
        oldest = std::max(oldest, age);
        const QString who = QStringLiteral("%1 on %2").arg(OneLine(r.job), OneLine(r.host));
        if (!r.ok) {
            ++failed;
            lines << QStringLiteral("CRITICAL: %1 failed at %2 (exit status %3): %4")
                         .arg(who, TimeStamps::DisplayText(r.endText), numberText(r.exitStatus),
                              OneLine(r.message.size() > kShownMessage
                                          ? r.message.left(kShownMessage) + QStringLiteral("...")
                                          : r.message));
        } else if (age < 0 || age > *maxAge) {
            ++stale;
            lines << QStringLiteral("WARNING: %1 last ran %2 ago (at most %3)")
                         .arg(who, age < 0 ? QStringLiteral("an unknown time") : ageText(age),
                              ageValue);
        }
    }
    const int state = failed > 0 ? Critical : stale > 0 ? Warning : Ok;
    const qint64 total = latest.size();
    say(state, state == Ok ? QStringLiteral("%1 job(s) ok").arg(total)
                           : QStringLiteral("%1 of %2 job(s) failed, %3 not run within %4")
                                 .arg(failed)
                                 .arg(total)
                                 .arg(stale)
                                 .arg(ageValue));
    for (const QString& line : lines)
        io.print(line);
    io.print(QStringLiteral("| 'jobs'=%1 'failed'=%2 'stale'=%3 'oldest_age'=%4s")
                 .arg(total)
                 .arg(failed)
                 .arg(stale)
                 .arg(oldest));
    return state;
}

int PrintRunMetrics(const AdminInvocation& c, const AdminIo& io) {
    QList<JobRuns> runs;
    QString error;
    if (!readJobRuns(c.args, runs, &error))
        return readFailed(error, io);
    struct Metric {
        const char* name;
        const char* type;
        const char* help;
        std::optional<double> (*of)(const JobRuns&);
    };
    static const Metric metrics[] = {
        {"pendrill_job_last_end_timestamp_seconds", "gauge",
         "End time of the job's newest run, seconds since 1970.",
         [](const JobRuns& r) { return r.end ? std::optional<double>(*r.end) : std::nullopt; }},
        {"pendrill_job_last_exit_status", "gauge", "Exit status of the job's newest run.",
         [](const JobRuns& r) {
             return r.exitStatus.isNull() ? std::nullopt
                                          : std::optional<double>(r.exitStatus.toInt());
         }},
        {"pendrill_job_last_success", "gauge", "1 when the job's newest run ended ok, else 0.",
         [](const JobRuns& r) { return std::optional<double>(r.ok ? 1 : 0); }},
        {"pendrill_job_last_duration_seconds", "gauge", "Duration of the job's newest run.",
         [](const JobRuns& r) {
             return r.duration.isNull() ? std::nullopt
                                        : std::optional<double>(r.duration.toDouble());
         }},
    };
    QString out;
    const auto labels = [](const JobRuns& r) {
        return QStringLiteral("job=\"%1\",host=\"%2\"").arg(labelValue(r.job), labelValue(r.host));
    };
    for (const Metric& m : metrics) {
        out += QStringLiteral("# HELP %1 %2\n# TYPE %1 %3\n")
                   .arg(QLatin1String(m.name), QLatin1String(m.help), QLatin1String(m.type));
        for (const JobRuns& r : runs)
            if (const std::optional<double> v = m.of(r))
                out += QStringLiteral("%1{%2} %3\n")
                           .arg(QLatin1String(m.name), labels(r), QString::number(*v, 'g', 15));
    }
    out += QStringLiteral(
        "# HELP pendrill_job_runs_total Runs of the job in the job history, by "
        "outcome.\n# TYPE pendrill_job_runs_total counter\n");
    for (const JobRuns& r : runs)
        for (const bool ok : {true, false})
            out += QStringLiteral("pendrill_job_runs_total{%1,status=\"%2\"} %3\n")
                       .arg(labels(r), QLatin1String(ok ? "ok" : "failure"))
                       .arg(ok ? r.okRuns : r.failedRuns);
    io.write(out.toUtf8());
    return 0;
}
