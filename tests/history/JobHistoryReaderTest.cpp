// Records, filters, pruning, schema upgrade and time texts of the job history; the repository's
// location and its states, also on PostgreSQL.
#include <gtest/gtest.h>

#include <QDir>
#include <QJsonArray>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QUuid>
#include <chrono>
#include <ctime>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "history/JobHistoryReader.h"
#include "history/JobRecord.h"
#include "history/Repository.h"
#include "history/RepositoryConnection.h"
#include "history/TimeStamps.h"
#include "support/TestPostgres.h"
#include "support/TestSupport.h"

namespace {

const QDateTime kBase = QDateTime::fromString("2026-03-10T12:00:00Z", Qt::ISODate);

// Closes a run's record that ended `hours` after kBase; the hour doubles as its message.
void record(const QString& job, int status, int hours) {
    JobRecord r;
    r.setJobIdentifier(job);
    r.setStatus(status);
    r.setMessage(QString::number(hours));
    r.setEndTime(kBase.addSecs(hours * 3600));
    ASSERT_TRUE(r.Close(4, "Pendrill"));
}

std::vector<int> jobsOf(const JobHistoryFilter& filter) {
    JobHistoryReader reader;
    QString error;
    EXPECT_TRUE(reader.Open(filter, &error)) << error.toStdString();
    std::vector<int> hours;
    QJsonObject o;
    while (reader.Next(o))
        hours.push_back(o.value("Message").toString().toInt());
    EXPECT_TRUE(reader.Error().isEmpty()) << reader.Error().toStdString();
    return hours;
}

void setLocation(const testsupport::IsolatedHome& home, const QString& location) {
    QDir().mkpath(home.configHome() + "/pendrill");
    testsupport::writeAll(
        home.configHome() + "/pendrill/registry.ini",
        "[Software\\Tessaly\\Rook\\Repository]\r\nLocation=" + location.toUtf8() + "\r\n");
}

}  // namespace

TEST(JobRecord, CloseStoresPropertiesArgumentsAndEmptyTexts) {
    testsupport::IsolatedHome home;
    JobRecord first;
    first.setJobIdentifier(QString());  // a null text is stored as the empty text
    first.setMessage(QString());
    first.Close(2, "Pendrill");

    JobRecord r;
    const QDateTime start = QDateTime::currentDateTime().addSecs(-60);
    r.setSourcePath("/out/");
    r.setSourceUser("O'Brien");  // a quote must not break the insert
    r.setStartTime(start);
    r.setJobIdentifier("");
    r.setStatus(3);
    r.setQuantity(1234.5);
    ASSERT_TRUE(r.Close(4, "Pendrill", JobRecord::CloseArgumentsFor("DTS", "Sales_Overall")));

    QList<QJsonObject> records;
    QString error;
    ASSERT_TRUE(ReadJobHistory(records, -1, &error)) << error.toStdString();
    ASSERT_EQ(records.size(), 2);
    const QJsonObject o = records.first();  // newest first
    EXPECT_EQ(o.value("SourceUser").toString() + "|" + o.value("SourcePath").toString(),
              "O'Brien|/out/");
    EXPECT_EQ(o.value("Quantity").toDouble(), 1234.5);
    EXPECT_EQ(o.value("Status").toInt(), 3);
    EXPECT_EQ(
        QDateTime::fromString(o.value("StartTime").toString(), Qt::ISODate).toSecsSinceEpoch(),
        start.toSecsSinceEpoch());
    EXPECT_EQ(o.value("CurrentUserName").toString(), r.CurrentUserName());
    EXPECT_FALSE(r.CurrentUserName().isEmpty() || r.ComputerName().isEmpty());
    const QJsonArray a = o.value("Arguments").toArray();
    EXPECT_EQ(a.at(0).toString() + "|" + a.at(1).toString(), "DTS|Sales_Overall");
    EXPECT_EQ(a.at(15 - 3).toString(), "Missing");
    EXPECT_EQ(a.at(20 - 3).toDouble(), 2.0);

    const QJsonObject older = records.last();
    EXPECT_EQ(older.value("Kind").toInt(), 2);
    for (const QJsonObject& rec : {o, older}) {
        EXPECT_TRUE(rec.value("JobIdentifier").isString()) << "set to empty is not unset";
        EXPECT_EQ(rec.value("JobIdentifier").toString(), "");
    }
    EXPECT_EQ(older.value("Message"), QJsonValue(""));
    EXPECT_TRUE(older.value("SourceServer").isNull()) << "never set stays NULL";
    ASSERT_TRUE(ReadJobHistory(records, 1, &error)) << error.toStdString();
    ASSERT_EQ(records.size(), 1) << "the limit keeps the newest";
    EXPECT_EQ(records.first().value("Kind").toInt(), 4);
}

TEST(JobRecord, ProcessMetadataFileRecordsTheFile) {
    testsupport::IsolatedHome home;
    const QString file = home.file("pmd_sales.xml"), missing = home.file("not there.xml");
    ASSERT_TRUE(testsupport::writeAll(file, QByteArray(1234, 'm')));
    JobRecord r;
    r.setJobIdentifier("77");
    ASSERT_TRUE(r.ProcessMetadataFile(file));
    ASSERT_TRUE(r.ProcessMetadataFile(missing));

    Repository::Connection repo;
    ASSERT_TRUE(repo.Open()) << repo.LastError().toStdString();
    QSqlQuery q(repo.Db());
    ASSERT_TRUE(
        q.exec("SELECT FileName, FileSize, RecordedAt, JobIdentifier, CurrentUserName,"
               " ComputerName FROM metadata_files ORDER BY Id"));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(QStringList({q.value(0).toString(), q.value(1).toString(), q.value(3).toString(),
                           q.value(4).toString(), q.value(5).toString()}),
              QStringList({file, "1234", "77", r.CurrentUserName(), r.ComputerName()}));
    const QDateTime at = QDateTime::fromString(q.value(2).toString(), Qt::ISODate);
    EXPECT_LT(qAbs(at.secsTo(QDateTime::currentDateTime())), 60)
        << q.value(2).toString().toStdString();
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toString(), missing);
    EXPECT_TRUE(q.value(1).isNull()) << "a missing file has no size";
    EXPECT_FALSE(q.next());
}

TEST(RepositoryConnection, StatesFollowTheConfiguredLocation) {
    testsupport::IsolatedHome home;
    RepositoryConnection c;
    EXPECT_EQ(c.State(), 3);
    EXPECT_TRUE(QFile::exists(home.dataHome() + "/pendrill/repository.db"));

    setLocation(home, home.file("nowhere/repo.db"));
    EXPECT_EQ(c.State(), 1);
    EXPECT_FALSE(c.LastError().isEmpty());
    testsupport::writeAll(home.file("not a database"), QByteArray(4096, 'z'));
    setLocation(home, home.file("not a database"));
    EXPECT_EQ(c.State(), 1) << "a file that is no database cannot be opened";
    setLocation(home, "");
    EXPECT_EQ(c.State(), 0);
    setLocation(home, home.file("mine.db"));
    EXPECT_EQ(c.State(), 3);
    JobRecord r;
    EXPECT_TRUE(r.Close(4, "Pendrill"));
    EXPECT_TRUE(QFile::exists(home.file("mine.db")));
}

TEST(JobHistoryReader, FiltersCombineAndKeepTheNewestFirst) {
    testsupport::IsolatedHome home;
    record("7", 0, 0);
    record("7", 3, 24);
    record("8", 0, 25);
    record("7", 0, 48);
    record("", 1, 49);
    {
        // Hour 72, stored by another program of the repository: an end time, no RecordTime.
        Repository::Connection repo;
        ASSERT_TRUE(repo.Open()) << repo.LastError().toStdString();
        QSqlQuery q(repo.Db());
        ASSERT_TRUE(
            q.exec("INSERT INTO job_history (Kind, JobIdentifier, Status, Message, EndTime)"
                   " VALUES (4, '8', 3, '72', '2026-03-13T14:00:00+02:00')"));
    }
    const qint64 t0 = kBase.toSecsSinceEpoch();
    const qint64 day = 24 * 3600;
    // -1 (or no job) leaves a filter out.
    const struct {
        const char* what;
        const char* job;
        int status;
        qint64 since, before, limit;
        std::vector<int> hours;
    } cases[] = {
        {"everything", nullptr, -1, -1, -1, -1, {72, 49, 48, 25, 24, 0}},
        {"job", "7", -1, -1, -1, -1, {48, 24, 0}},
        {"empty job identifier", "", -1, -1, -1, -1, {49}},
        {"status", nullptr, 0, -1, -1, -1, {48, 25, 0}},
        {"job and status", "8", 3, -1, -1, -1, {72}},
        {"since is inclusive", nullptr, -1, t0 + day, -1, -1, {72, 49, 48, 25, 24}},
        {"before is exclusive", nullptr, -1, -1, t0 + day, -1, {0}},
        {"a window", nullptr, -1, t0 + day, t0 + 2 * day + 1, -1, {48, 25, 24}},
        {"limit after the filters", "7", -1, -1, -1, 2, {48, 24}},
        {"nothing matches", "9", -1, -1, -1, -1, {}},
        {"any of several", "9,8", -1, -1, -1, -1, {72, 25}},
        {"a set", "[!7]", -1, -1, -1, -1, {72, 25}},
        {"one character, limited", "?", -1, -1, -1, 3, {72, 48, 25}},
        {"a pattern and a name", "7*,", -1, -1, -1, -1, {49, 48, 24, 0}},
        {"limit 0 is none", nullptr, -1, -1, -1, 0, {}},
    };
    for (const auto& c : cases) {
        JobHistoryFilter f;
        if (c.job != nullptr)
            f.jobs = QString(c.job).split(',');
        if (c.status >= 0)
            f.status = c.status;
        if (c.since >= 0)
            f.since = c.since;
        if (c.before >= 0)
            f.before = c.before;
        f.limit = c.limit;
        EXPECT_EQ(jobsOf(f), c.hours) << c.what;
    }
}

TEST(JobHistoryReader, JobPatterns) {
    const struct {
        const char *pattern, *job;
        bool matches;
    } cases[] = {
        {"load*", "load_orders", true}, {"load?", "loads", true}, {"load?", "load", false},
        {"j[12]", "j2", true},          {"j[!12]", "j2", false},  {"j[!12]", "j3", true},
        {"j[a-c]x", "jbx", true},       {"j[]x", "j[]x", true},  // no set: read as it stands
        {"j[.]", "j.", true},           {"j[.]", "jx", false},    {"[[]", "[", true},
        {"a[b", "a[b", true},           {"*", "", true},          {"a/b*", "a/bc", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(JobMatches(c.pattern, c.job), c.matches) << c.pattern << " " << c.job;
        EXPECT_TRUE(JobPatternValid(c.pattern)) << c.pattern;
    }
    EXPECT_FALSE(JobPatternValid("j[z-a]")) << "a range that runs backwards";
    // Sets that never close: each '[' stands for itself.
    const QString opens(5000, QLatin1Char('['));
    EXPECT_TRUE(JobMatches(opens + QLatin1Char('*'), opens + QStringLiteral("x")));
}

TEST(JobHistoryReader, PruneDeletesOnlyOlderRecordsAndSaysHowMany) {
    testsupport::IsolatedHome home;
    for (int hours : {0, 1, 30, 50})
        record("p", 0, hours);
    JobRecord noEnd;  // closed without an end time: it counts as stored now
    EXPECT_FALSE(noEnd.StoreOutcome(3)) << "not stored yet";
    ASSERT_TRUE(noEnd.Close(2, "Pendrill Copy"));
    ASSERT_TRUE(noEnd.StoreOutcome(3));

    QString error;
    EXPECT_EQ(PruneJobHistory(kBase.addSecs(3600).toSecsSinceEpoch(), &error), 1) << "hour 0 only";
    EXPECT_EQ(PruneJobHistory(kBase.addSecs(3600).toSecsSinceEpoch(), &error), 0);
    JobHistoryFilter pattern;
    pattern.jobs = {"[pq]"};
    pattern.host = JobRecord().ComputerName();
    EXPECT_EQ(PruneJobHistory(kBase.addDays(3).toSecsSinceEpoch(), &error, pattern), 3);
    QList<QJsonObject> left;
    ASSERT_TRUE(ReadJobHistory(left, -1, &error)) << error.toStdString();
    ASSERT_EQ(left.size(), 1);
    EXPECT_EQ(left.first().value("Kind").toInt(), 2);
    EXPECT_EQ(left.first().value("exitStatus").toInt(-1), 3);
    EXPECT_GE(left.first().value("durationSeconds").toDouble(-1), 0.0);
}

TEST(Repository, AnOlderRepositoryGetsRecordTimesAndIndexes) {
    testsupport::IsolatedHome home;
    const QString path = home.file("old.db");
    {
        // The layout repositories had before record times: no RecordTime column, no indexes.
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "old-repository");
        db.setDatabaseName(path);
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(
            "CREATE TABLE job_history (Id INTEGER PRIMARY KEY AUTOINCREMENT, Kind INTEGER,"
            " ApplicationName TEXT, SourceServer TEXT, SourcePath TEXT, SourceDatabase TEXT,"
            " SourceUser TEXT, TargetServer TEXT, TargetPath TEXT, TargetDatabase TEXT,"
            " TargetUser TEXT, ExceptionFile TEXT, StartTime TEXT, EndTime TEXT,"
            " JobIdentifier TEXT, Status INTEGER, Message TEXT, ObjectName TEXT, Quantity REAL,"
            " QuantityUnit TEXT, CurrentUserName TEXT, ComputerName TEXT, Arguments TEXT)"));
        ASSERT_TRUE(
            q.exec("INSERT INTO job_history (Kind, StartTime, EndTime, Status) VALUES"
                   " (4, '2026-03-10T13:00:00+01:00', '2026-03-10T14:30:00+02:00', 0),"
                   " (2, '2026-03-09T23:00:00-05:00', NULL, 3), (4, NULL, NULL, 1)"));
        db.close();
    }
    QSqlDatabase::removeDatabase("old-repository");
    setLocation(home, path);

    Repository::Connection repo;
    ASSERT_TRUE(repo.Open()) << repo.LastError().toStdString();
    QSqlQuery q(repo.Db());
    auto column = [&q](const QString& sql) {
        QStringList values;
        EXPECT_TRUE(q.exec(sql)) << sql.toStdString();
        while (q.next())
            values << (q.value(0).isNull() ? "~" : q.value(0).toString());
        return values;
    };
    // The end time, else the start time, else nothing.
    EXPECT_EQ(column("SELECT RecordTime FROM job_history ORDER BY Id"),
              QStringList({QString::number(kBase.addSecs(30 * 60).toSecsSinceEpoch()),
                           QString::number(kBase.addSecs(-8 * 3600).toSecsSinceEpoch()), "~"}));
    EXPECT_EQ(column("SELECT count(*) FROM sqlite_master WHERE type = 'index' AND name IN"
                     " ('job_history_job', 'job_history_status', 'job_history_time')"),
              QStringList({"3"}));
    EXPECT_EQ(column("PRAGMA integrity_check"), QStringList({"ok"}));

    JobHistoryFilter filter;
    filter.before = kBase.toSecsSinceEpoch();
    JobHistoryReader reader;
    QString error;
    ASSERT_TRUE(reader.Open(filter, &error)) << error.toStdString();
    QJsonObject o;
    ASSERT_TRUE(reader.Next(o));
    EXPECT_EQ(o.value("Kind").toInt(), 2);
    EXPECT_FALSE(reader.Next(o));
}

TEST(TimeStamps, CommandLineTimes) {
    const struct {
        const char* text;
        const char* utc;  // nullptr: refused; "local:..." a local time
        bool dateOnly;
    } cases[] = {
        {"2026-03-10", "local:2026-03-10T00:00:00", true},
        {"2026-03-10T07:05", "local:2026-03-10T07:05:00", false},
        {"2026-03-10 07:05:09", "local:2026-03-10T07:05:09", false},
        {"2026-03-10T07:05:09Z", "2026-03-10T07:05:09Z", false},
        {"2026-03-10T07:05+02:00", "2026-03-10T05:05:00Z", false},
        {"2026-03-10T07:05:00-03:30", "2026-03-10T10:35:00Z", false},
        {"2026-02-30", nullptr, false},
        {"2026-03-10T24:00", nullptr, false},
        {"2026-3-10", nullptr, false},
        {"10.03.2026", nullptr, false},
        {"yesterday", nullptr, false},
        {"", nullptr, false},
        {"2026-03-10T07:05+15:00", nullptr, false},
        {"2026-03-10T07", nullptr, false},
    };
    for (const auto& c : cases) {
        bool dateOnly = !c.dateOnly;
        const auto t = TimeStamps::ParseCommandLineTime(c.text, &dateOnly);
        if (c.utc == nullptr) {
            EXPECT_FALSE(t.has_value()) << c.text;
            continue;
        }
        ASSERT_TRUE(t.has_value()) << c.text;
        EXPECT_EQ(dateOnly, c.dateOnly) << c.text;
        const QString expected = c.utc;
        if (expected.startsWith("local:"))
            EXPECT_EQ(*t, QDateTime::fromString(expected.mid(6), Qt::ISODate)) << c.text;
        else
            EXPECT_EQ(t->toSecsSinceEpoch(),
                      QDateTime::fromString(expected, Qt::ISODate).toSecsSinceEpoch())
                << c.text;
    }
}

TEST(TimeStamps, DisplayTextIsLocalTimeWithItsOffset) {
    const std::optional<QByteArray> oldTz =
        qEnvironmentVariableIsSet("TZ") ? std::optional(qgetenv("TZ")) : std::nullopt;
    const struct {
        const char* tz;
        const char* stored;
        const char* shown;
    } cases[] = {
        {"UTC", "2026-03-10T13:00:00+01:00", "2026-03-10 12:00:00 +00:00"},
        {"Europe/Berlin", "2026-03-10T12:00:00Z", "2026-03-10 13:00:00 +01:00"},
        {"Europe/Berlin", "2026-07-10T12:00:00Z", "2026-07-10 14:00:00 +02:00"},
        {"America/St_Johns", "2026-01-10T12:00:00Z", "2026-01-10 08:30:00 -03:30"},
        {"UTC", "2024-02-29T23:59:59-05:00", "2024-03-01 04:59:59 +00:00"},
        {"UTC", "2000-02-29T12:00:00Z", "2000-02-29 12:00:00 +00:00"},
        {"UTC", "1900-02-28T23:30:00-01:00", "1900-03-01 00:30:00 +00:00"},
        {"UTC", "2023-12-31T23:59:60Z", "2024-01-01 00:00:00 +00:00"},
        {"UTC", "not a time", "not a time"},
        {"UTC", "", ""},
    };
    for (const auto& c : cases) {
        qputenv("TZ", c.tz);
        tzset();
        EXPECT_EQ(TimeStamps::DisplayText(c.stored), c.shown) << c.tz << " " << c.stored;
    }
    oldTz ? qputenv("TZ", *oldTz) : qunsetenv("TZ");
    tzset();
}

// The listing's cached conversion gives what the C library gives, back and forth across changes
// to and from daylight saving time (2024-03-31 and 2024-10-27 at 01:00 UTC) and far from them;
// a stored time is what Qt writes as the local time's ISO form with its offset.
TEST(TimeStamps, LocalTimesAcrossOffsetChanges) {
    const std::optional<QByteArray> oldTz =
        qEnvironmentVariableIsSet("TZ") ? std::optional(qgetenv("TZ")) : std::nullopt;
    // Zones without daylight saving time now had other offsets once (Abidjan until 1912).
    for (const char* tz :
         {"Europe/Berlin", "Australia/Lord_Howe", "UTC", "Africa/Abidjan", "Asia/Kolkata"}) {
        qputenv("TZ", tz);
        tzset();
        TimeStamps::LocalTimes times;
        for (const qint64 change :
             {1711846800LL, 1729990800LL, 1711846800LL, 0LL, 4102444800LL, -2000000000LL})
            for (const qint64 step : {-3601, -2, -1, 0, 1, 1800, 3600, -86400}) {
                EXPECT_EQ(times.Text(change + step), TimeStamps::LocalText(change + step))
                    << tz << " " << change + step;
                const QDateTime local =
                    QDateTime::fromMSecsSinceEpoch((change + step) * 1000 + 999).toLocalTime();
                EXPECT_EQ(TimeStamps::ToText(local),
                          local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODate))
                    << tz << " " << change + step;
            }
    }
    oldTz ? qputenv("TZ", *oldTz) : qunsetenv("TZ");
    tzset();
}

TEST(RepositoryPostgres, CreatedOnFirstUseAndSharedByEveryRecord) {
    testsupport::TestPostgres* pg = nullptr;
    PENDRILL_SHARED_POSTGRES(pg);
    testsupport::IsolatedHome home;
    const QString database = "history_" + QUuid::createUuid().toString(QUuid::Id128).left(12);
    const QString server = QString("%1:%2").arg(pg->host()).arg(pg->port());
    const QString url =
        QString("postgresql://%1:%2@%3/%4").arg(pg->superuser(), pg->password(), server, database);
    setLocation(home, url);

    // Many hosts recording their first runs at once, a few milliseconds apart: every one gets
    // the database, whoever wins the race to create it and its tables, also one that missed the
    // database and then finds it created by another.
    std::mutex lock;
    QStringList failures;
    std::vector<std::thread> openers;
    for (int i = 0; i < 20; ++i)
        openers.emplace_back([&, i] {
            std::this_thread::sleep_for(std::chrono::milliseconds(5 * i));
            Repository::Connection repo;
            if (!repo.Open(url, false)) {
                const std::lock_guard<std::mutex> guard(lock);
                failures << repo.LastError();
            }
        });
    for (std::thread& t : openers)
        t.join();
    EXPECT_TRUE(failures.isEmpty()) << failures.join('\n').toStdString();

    RepositoryConnection state;
    EXPECT_EQ(state.State(), 3) << state.LastError().toStdString();
    record("pg-1", 0, 0);
    record("pg-2", 3, 5);
    JobRecord run;  // a run's outcome beside its record, through the key the server gave
    ASSERT_TRUE(run.Close(4, "Pendrill"));
    ASSERT_TRUE(run.StoreOutcome(6));
    JobRecord metadata;
    ASSERT_TRUE(metadata.ProcessMetadataFile(home.file("pmd.xml")));

    QString error;
    QList<QJsonObject> records;
    ASSERT_TRUE(ReadJobHistory(records, -1, &error)) << error.toStdString();
    ASSERT_EQ(records.size(), 3);
    EXPECT_EQ(records.takeFirst().value("exitStatus").toInt(), 6);
    EXPECT_EQ(records.at(0).value("JobIdentifier").toString(), "pg-2");
    EXPECT_EQ(records.at(0).value("Status").toInt(), 3);
    EXPECT_EQ(records.at(0).value("Arguments").toArray().at(16 - 3).toInt(), 99);
    // Filters and prune on this server are tested with the admin tool (tools/AdminHistoryTest).

    // Wrong password, a server that is not there, a URL without a database: state 1 with a reason
    // that does not show the password.
    const QString wrong = "postgresql://" + pg->superuser() + ":wrong-secret@";
    for (const QString& location :
         {wrong + server + "/" + database, wrong + "127.0.0.1:1/" + database, wrong + server}) {
        setLocation(home, location);
        EXPECT_EQ(state.State(), 1) << location.toStdString();
        EXPECT_FALSE(state.LastError().isEmpty());
        EXPECT_FALSE(state.LastError().contains("wrong-secret")) << state.LastError().toStdString();
        EXPECT_FALSE(Repository::DisplayLocation(location).contains("wrong-secret"));
    }
}
