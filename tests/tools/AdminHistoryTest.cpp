// pendrill-admin history: the listing, its options and errors, prune, on SQLite and PostgreSQL.
// The reader's filters and the parsing of times are tested with the library
// (history/JobHistoryReaderTest); here the command line's part of them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QUuid>

#include "AdminRun.h"
#include "config/SettingsStore.h"
#include "history/JobHistoryReader.h"
#include "history/JobRecord.h"
#include "history/Repository.h"
#include "support/TestPostgres.h"
#include "support/TestSupport.h"

using testsupport::admin;
using testsupport::ProcessResult;

namespace {

const QDateTime kBase = QDateTime::fromString("2026-03-10T12:00:00Z", Qt::ISODate);

QString out(const ProcessResult& r) {
    return QString::fromUtf8(r.out);
}
int recordLines(const ProcessResult& r) {
    return out(r).count(QRegularExpression("^#\\d+ ", QRegularExpression::MultilineOption));
}

// Records ending at kBase + i hours, i = 0 .. count-1, job "j<i % 3>", status i % 4.
void fill(int count) {
    Repository::Connection hold;  // one connection for all: no checkpoint per record
    ASSERT_TRUE(hold.Open()) << hold.LastError().toStdString();
    for (int i = 0; i < count; ++i) {
        JobRecord r;
        r.setJobIdentifier(QString("j%1").arg(i % 3));
        r.setStatus(i % 4);
        r.setMessage(QString("record %1").arg(i));
        r.setStartTime(kBase.addSecs(i * 3600 - 60));
        r.setEndTime(kBase.addSecs(i * 3600));
        ASSERT_TRUE(r.Close(4, "Pendrill"));
    }
}

QJsonArray jsonHistory(const QStringList& args = {}) {
    const ProcessResult r = admin(QStringList{"history", "--json"} + args);
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    QJsonParseError e;
    const QJsonDocument d = QJsonDocument::fromJson(r.out, &e);
    EXPECT_EQ(e.error, QJsonParseError::NoError) << e.errorString().toStdString();
    return d.array();
}

QStringList messages(const QJsonArray& a) {
    QStringList m;
    for (const QJsonValue& v : a)
        m << v.toObject().value("Message").toString();
    return m;
}

// Sets an environment variable for its lifetime.
struct ScopedEnv {
    ScopedEnv(const char* n, const QByteArray& value)
        : name(n), had(qEnvironmentVariableIsSet(n)), old(qgetenv(n)) {
        qputenv(name, value);
    }
    ~ScopedEnv() { had ? void(qputenv(name, old)) : void(qunsetenv(name)); }
    const char* name;
    bool had;
    QByteArray old;
};

}  // namespace

TEST(AdminHistory, WrongUsageIsOneLineAndExitTwo) {
    testsupport::IsolatedHome home;
    // Arguments separated by '|'.
    for (const char* line : {"--since|2026-02-30", "--until|2026-03-10T25:00", "--status|x",
                             "--status|1.5", "--limit|-1", "--limit|many", "prune",
                             "prune|--before|03/10/2026", "--since|2026-03-10\nTOTAL: 0"}) {
        const QStringList args = QString(line).split('|');
        SCOPED_TRACE(args.join(' ').toStdString());
        const ProcessResult r = admin(QStringList{"history"} + args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_EQ(r.err.count('\n'), 1) << r.err.constData();
        EXPECT_TRUE(r.err.startsWith("pendrill-admin: history")) << r.err.constData();
    }
    EXPECT_FALSE(QFile::exists(home.dataHome() + "/pendrill/repository.db"))
        << "refused before the repository is touched";
}

TEST(AdminHistory, ListingFiltersLimitsAndLocalTimes) {
    testsupport::IsolatedHome home;
    fill(60);

    // Text: the newest 50 unless told, status in words, local time with its offset.
    ProcessResult r;
    {
        ScopedEnv tz("TZ", "Europe/Berlin");
        r = admin({"history"});
    }
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    const QString text = out(r);
    EXPECT_EQ(recordLines(r), 50);
    // Record 59 ended at kBase + 59 h = 2026-03-12T23:00Z = 2026-03-13 00:00 in Berlin (+01:00).
    EXPECT_TRUE(
        text.startsWith("#60  2026-03-13 00:00:00 +01:00  status 3 failed  kind 4  Pendrill\n"))
        << text.left(200).toStdString();
    EXPECT_TRUE(text.contains("  Started         2026-03-12 23:59:00 +01:00\n"));
    for (const char* word : {"status 0 success", "status 1 not reachable", "status 2 not loaded"})
        EXPECT_TRUE(text.contains(word)) << word;
    EXPECT_TRUE(text.endsWith("(the newest 50 records; --limit all lists every one)\n"));
    for (const char* all : {"all", "0"}) {
        r = admin({"history", "--limit", all});
        EXPECT_EQ(recordLines(r), 60) << all;
        EXPECT_FALSE(out(r).contains("--limit all")) << all;
    }
    EXPECT_EQ(recordLines(admin({"history", "--limit=3"})), 3);
    // JSON: every record unless limited (its records: JsonOutputEqualsTheStoredRecords).
    EXPECT_EQ(jsonHistory().size(), 60);
    EXPECT_EQ(jsonHistory({"--limit", "2"}).size(), 2);

    // Filters on the end time: --until takes its second whole, dates alone take whole days.
    const struct {
        QStringList args, expected;
    } cases[] = {
        {{"--job", "j1", "--status", "3", "--until", "2026-03-10T23:00Z"}, {"record 7"}},
        {{"--since", "2026-03-10T12:00:00Z", "--until", "2026-03-10T14:00Z"},
         {"record 2", "record 1", "record 0"}},
        {{"--until", "2026-03-09"}, {}},
        {{"--job", "j2", "--since", "2026-03-12T20:00+00:00"}, {"record 59", "record 56"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(messages(jsonHistory(c.args)), c.expected) << c.args.join(' ').toStdString();
    {
        // In UTC, --until 2026-03-10 means up to 23:59:59 that day: records 0 to 11.
        ScopedEnv tz("TZ", "UTC");
        EXPECT_EQ(jsonHistory({"--until", "2026-03-10"}).size(), 12);
        EXPECT_EQ(jsonHistory({"--since", "2026-03-12"}).size(), 24);
    }

    // Prune: how many, and only the older ones.
    for (const char* deleted :
         {"Deleted 24 job-history records that ended before ", "Deleted 0 job-history records"}) {
        r = admin({"history", "prune", "--before", "2026-03-11T12:00Z"});
        EXPECT_EQ(r.exitCode, 0) << r.err.constData();
        EXPECT_TRUE(out(r).startsWith(deleted)) << out(r).toStdString();
    }
    const QJsonArray left = jsonHistory();
    ASSERT_EQ(left.size(), 36);
    EXPECT_EQ(left.last().toObject().value("Message").toString(), "record 24");

    // Standard output on a full disk: the listing is not whole, and says so.
    for (const QStringList& args : {QStringList{"history", "--json"}, QStringList{"history"}}) {
        QProcess p;
        p.setStandardOutputFile("/dev/full");
        p.start(QString(PENDRILL_BIN_DIR) + "/pendrill-admin", args);
        ASSERT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitCode(), 1) << args.join(' ').toStdString();
        EXPECT_TRUE(p.readAllStandardError().contains("cannot write the listing"));
    }

    // Stored texts with control characters are shown escaped: they cannot forge a record line.
    JobRecord forged;
    forged.setJobIdentifier("x\n#999  2026-03-13 00:00:00 +01:00  status 0 success\t");
    forged.setExceptionFile("log\x1b[2J.txt\r");
    ASSERT_TRUE(forged.Close(4, "Pendrill"));
    r = admin({"history", "--limit", "1"});
    EXPECT_TRUE(out(r).contains(
        "  Job             x\\n#999  2026-03-13 00:00:00 +01:00  status 0 success\\t\n"))
        << out(r).toStdString();
    EXPECT_TRUE(out(r).contains("  Exception file  log\\x1b[2J.txt\\r\n"));

    EXPECT_EQ(out(admin({"history", "--job", "nobody"})), "No job-history records.\n");
    EXPECT_EQ(admin({"history", "--json", "--job", "nobody"}).out, "[\n]\n");
}

// The listing writes its JSON itself, record by record: it must say what the stored records say.
TEST(AdminHistory, JsonOutputEqualsTheStoredRecords) {
    testsupport::IsolatedHome home;
    const QString awkward[] = {"quote \" backslash \\ slash /",
                               "line\r\nbreak\tand tab",
                               QString("bell \x07 nul-free"),
                               "Grüße, Пароль, 日本",
                               "",
                               "{\"not\": [\"json\"]}"};
    double quantity = 0.1;
    for (const QString& text : awkward) {
        JobRecord r;
        r.setMessage(text);
        r.setSourcePath(text);
        r.setQuantity(quantity);
        quantity *= -1234.5;
        r.setStartTime(kBase);
        ASSERT_TRUE(r.Close(2, "Pendrill Copy", JobRecord::CloseArgumentsFor("FTP", text)));
    }
    JobRecord bare;  // nothing set: nulls
    ASSERT_TRUE(bare.Close(4, "Pendrill"));

    QList<QJsonObject> stored;
    QString error;
    ASSERT_TRUE(ReadJobHistory(stored, error)) << error.toStdString();
    const QJsonArray listed = jsonHistory();
    ASSERT_EQ(listed.size(), stored.size());
    for (qsizetype i = 0; i < stored.size(); ++i)
        EXPECT_EQ(listed.at(i).toObject(), stored.at(i))
            << QJsonDocument(stored.at(i)).toJson().constData();
}

TEST(AdminHistory, AnUnreadableRepositoryIsExitOne) {
    testsupport::IsolatedHome home;
    ASSERT_TRUE(WriteRegistryValue(Repository::RepositoryLocationKey,
                                   Repository::RepositoryLocationValue,
                                   home.file("no such dir/repo.db")));
    for (const QStringList& args :
         {QStringList{"history"}, QStringList{"history", "prune", "--before", "2026-01-01"}}) {
        const ProcessResult r = admin(args);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(r.err.contains("no such dir")) << r.err.constData();
        EXPECT_TRUE(r.out.isEmpty());
    }
}

// The listing's filters and prune on a PostgreSQL repository, where they are the server's SQL.
// (Two hosts recording into one such repository at once: app/RunSharedHistoryTest.)
TEST(AdminHistory, FiltersAndPruneOnAPostgresRepository) {
    testsupport::TestPostgres* pg = nullptr;
    PENDRILL_SHARED_POSTGRES(pg);
    testsupport::IsolatedHome home;
    // No password in the URL: libpq finds it in the password file.
    const QString pgpass = home.file("pgpass");
    ASSERT_TRUE(testsupport::writeAll(pgpass, QString("%1:%2:*:%3:%4\n")
                                                  .arg(pg->host())
                                                  .arg(pg->port())
                                                  .arg(pg->superuser(), pg->password())
                                                  .toUtf8()));
    ::chmod(QFile::encodeName(pgpass).constData(), 0600);
    ScopedEnv passFile("PGPASSFILE", pgpass.toLocal8Bit());
    ASSERT_TRUE(WriteRegistryValue(Repository::RepositoryLocationKey,
                                   Repository::RepositoryLocationValue,
                                   QString("postgresql://%1@%2:%3/runs_%4")
                                       .arg(pg->superuser(), pg->host())
                                       .arg(pg->port())
                                       .arg(QUuid::createUuid().toString(QUuid::Id128).left(12))));
    fill(12);

    EXPECT_EQ(
        messages(jsonHistory({"--job", "j1", "--status", "3", "--until", "2026-03-10T23:00Z"})),
        QStringList{"record 7"});
    EXPECT_EQ(messages(jsonHistory({"--since", "2026-03-10T21:00Z", "--limit", "2"})),
              (QStringList{"record 11", "record 10"}));
    const ProcessResult text = admin({"history", "--job", "j2", "--status", "1"});
    EXPECT_EQ(recordLines(text), 1) << text.out.constData();
    const ProcessResult pruned = admin({"history", "prune", "--before", "2026-03-10T18:00Z"});
    EXPECT_TRUE(out(pruned).startsWith("Deleted 6 job-history records")) << pruned.out.constData();
    EXPECT_EQ(jsonHistory().size(), 6);
    EXPECT_FALSE(QFile::exists(home.dataHome() + "/pendrill/repository.db"));
}
