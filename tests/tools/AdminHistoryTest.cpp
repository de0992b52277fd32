// pendrill-admin history: the listing, its options and errors, prune, a repository shared by two
// hosts on PostgreSQL, and prune killed at random moments.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUuid>
#include <memory>
#include <vector>

#include "rook/RookHistoryReader.h"
#include "rook/RookJobHistory.h"
#include "rook/RookRepository.h"
#include "support/TestPostgres.h"
#include "support/TestSupport.h"

using testsupport::admin;
using testsupport::ProcessResult;

namespace {

const QDateTime kBase = QDateTime::fromString("2026-03-10T12:00:00Z", Qt::ISODate);

QString out(const ProcessResult& r) {
    return QString::fromUtf8(r.out);
}

// Records ending at kBase + i hours, i = 0 .. count-1, job "j<i % 3>", status i % 4.
void fill(int count) {
    RookRepository::Connection hold;  // one connection for all: no checkpoint per record
    ASSERT_TRUE(hold.Open()) << hold.LastError().toStdString();
    for (int i = 0; i < count; ++i) {
        RookJobHistory r;
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

class ScopedTz {
  public:
    explicit ScopedTz(const char* tz) : had_(qEnvironmentVariableIsSet("TZ")), old_(qgetenv("TZ")) {
        qputenv("TZ", tz);
    }
    ~ScopedTz() {
        if (had_)
            qputenv("TZ", old_);
        else
            qunsetenv("TZ");
    }

  private:
    bool had_;
    QByteArray old_;
};

}  // namespace

TEST(AdminHistory, WrongUsageIsOneLineAndExitTwo) {
    testsupport::IsolatedHome home;
    const QStringList cases[] = {
        {"--since", "2026-02-30"},
        {"--since", "yesterday"},
        {"--until", "2026-03-10T25:00"},
        {"--until"},
        {"--status", "x"},
        {"--status", "1.5"},
        {"--limit", "-1"},
        {"--limit", "many"},
        {"--job"},
        {"--bogus"},
        {"prune"},
        {"prune", "--before", "03/10/2026"},
        {"prune", "--before"},
        {"prune", "--since", "2026-03-10"},
        {"--since", "2026-03-10\nTOTAL: 0"},
    };
    for (const QStringList& args : cases) {
        const ProcessResult r = admin(QStringList{"history"} + args);
        const std::string what = args.join(' ').toStdString();
        EXPECT_EQ(r.exitCode, 2) << what;
        EXPECT_TRUE(r.out.isEmpty()) << what;
        EXPECT_EQ(r.err.count('\n'), 1) << what << ": " << r.err.constData();
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
        ScopedTz tz("Europe/Berlin");
        r = admin({"history"});
    }
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    QString text = out(r);
    EXPECT_EQ(text.count(QRegularExpression("^#\\d+ ", QRegularExpression::MultilineOption)), 50);
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
        EXPECT_EQ(out(r).count(QRegularExpression("^#\\d+ ", QRegularExpression::MultilineOption)),
                  60)
            << all;
        EXPECT_FALSE(out(r).contains("--limit all")) << all;
    }
    r = admin({"history", "--limit=3"});
    EXPECT_EQ(out(r).count(QRegularExpression("^#\\d+ ", QRegularExpression::MultilineOption)), 3);

    // JSON: every record unless limited, newest first; in UTC here, the stored instant.
    QJsonArray a;
    {
        ScopedTz tz("UTC");
        a = jsonHistory();
    }
    ASSERT_EQ(a.size(), 60);
    EXPECT_EQ(a.first().toObject().value("Message").toString(), "record 59");
    EXPECT_EQ(a.first().toObject().value("EndTime").toString(), "2026-03-12T23:00:00Z");
    EXPECT_EQ(a.first().toObject().value("Arguments").toArray().size(), 26);
    EXPECT_EQ(jsonHistory({"--limit", "2"}).size(), 2);

    // Filters, through the command line: dates alone take whole days.
    struct Case {
        QStringList args;
        QStringList expected;
    };
    const Case cases[] = {
        {{"--job", "j1", "--status", "3", "--until", "2026-03-10T23:00Z"}, {"record 7"}},
        {{"--since", "2026-03-12T21:00Z", "--status", "2"}, {"record 58"}},
        {{"--since", "2026-03-10T12:00:00Z", "--until", "2026-03-10T14:00Z"},
         {"record 2", "record 1", "record 0"}},
        {{"--until", "2026-03-09"}, {}},
        {{"--job", "j2", "--since", "2026-03-12T20:00+00:00"}, {"record 59", "record 56"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(messages(jsonHistory(c.args)), c.expected) << c.args.join(' ').toStdString();
    {
        // In UTC, --until 2026-03-10 means up to 23:59:59 that day: records 0 to 11.
        ScopedTz tz("UTC");
        EXPECT_EQ(jsonHistory({"--until", "2026-03-10"}).size(), 12);
        EXPECT_EQ(jsonHistory({"--since", "2026-03-12"}).size(), 24);
    }

    // Prune: how many, and only the older ones.
    r = admin({"history", "prune", "--before", "2026-03-11T12:00Z"});
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_TRUE(out(r).startsWith("Deleted 24 job-history records that ended before "))
        << out(r).toStdString();
    a = jsonHistory();
    ASSERT_EQ(a.size(), 36);
    EXPECT_EQ(a.last().toObject().value("Message").toString(), "record 24");
    r = admin({"history", "prune", "--before", "2026-03-11T12:00Z"});
    EXPECT_TRUE(out(r).startsWith("Deleted 0 job-history records")) << out(r).toStdString();

    // Standard output on a full disk: the listing is not whole, and says so.
    for (const QStringList& args : {QStringList{"history", "--json"}, QStringList{"history"}}) {
        QProcess p;
        p.setStandardOutputFile("/dev/full");
        p.start(QString(PENDRILL_BIN_DIR) + "/pendrill-admin", args);
        ASSERT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitCode(), 1) << args.join(' ').toStdString();
        EXPECT_TRUE(p.readAllStandardError().contains("cannot write the listing"));
    }

    r = admin({"history", "--job", "nobody"});
    EXPECT_EQ(out(r), "No job-history records.\n");
    EXPECT_EQ(admin({"history", "--json", "--job", "nobody"}).out, "[\n]\n");
}

// The listing writes its JSON itself, record by record: it must say what the stored records say.
TEST(AdminHistory, JsonOutputEqualsTheStoredRecords) {
    testsupport::IsolatedHome home;
    const QString awkward[] = {
        "quote \" backslash \\ slash /",
        "line\r\nbreak\tand tab",
        QString("bell \x07 nul-free"),
        "Grüße, Пароль, 日本",
        "",
        "{\"not\": [\"json\"]}",
    };
    double quantity = 0.1;
    for (const QString& text : awkward) {
        RookJobHistory r;
        r.setMessage(text);
        r.setSourcePath(text);
        r.setQuantity(quantity);
        quantity *= -1234.5;
        r.setStartTime(kBase);
        ASSERT_TRUE(r.Close(2, "Pendrill Copy", RookJobHistory::CloseArgumentsFor("FTP", text)));
    }
    RookJobHistory bare;  // nothing set: nulls
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
    QDir().mkpath(home.configHome() + "/pendrill");
    testsupport::writeAll(home.configHome() + "/pendrill/registry.ini",
                          "[Software\\Tessaly\\Rook\\Repository]\r\nLocation=" +
                              home.file("no such dir/repo.db").toUtf8() + "\r\n");
    for (const QStringList& args :
         {QStringList{"history"}, QStringList{"history", "prune", "--before", "2026-01-01"}}) {
        const ProcessResult r = admin(args);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(r.err.contains("no such dir")) << r.err.constData();
        EXPECT_TRUE(r.out.isEmpty());
    }
}

// Two runner hosts (two homes with their own settings store) record into one PostgreSQL
// repository at the same moment, the first runs of both creating the database; either lists all.
TEST(AdminHistory, TwoHostsShareOnePostgresRepository) {
    testsupport::TestPostgres* pg = nullptr;
    PENDRILL_SHARED_POSTGRES(pg);
    const QString database = "runs_" + QUuid::createUuid().toString(QUuid::Id128).left(12);
    struct Host {
        QTemporaryDir dir;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    };
    Host hosts[2];
    for (Host& h : hosts) {
        QDir(h.dir.path()).mkpath("config/pendrill");
        QDir(h.dir.path()).mkpath("data");
        // No password in the URL: libpq finds it in the host's password file.
        ASSERT_TRUE(testsupport::writeAll(
            h.dir.filePath("config/pendrill/registry.ini"),
            QString(
                "[Software\\Tessaly\\Rook\\Repository]\r\nLocation=postgresql://%1@%2:%3/%4\r\n")
                .arg(pg->superuser(), pg->host())
                .arg(pg->port())
                .arg(database)
                .toUtf8()));
        const QString pgpass = h.dir.filePath("pgpass");
        ASSERT_TRUE(testsupport::writeAll(pgpass, QString("%1:%2:*:%3:%4\n")
                                                      .arg(pg->host())
                                                      .arg(pg->port())
                                                      .arg(pg->superuser(), pg->password())
                                                      .toUtf8()));
        ::chmod(QFile::encodeName(pgpass).constData(), 0600);
        h.env.insert("XDG_CONFIG_HOME", h.dir.filePath("config"));
        h.env.insert("XDG_DATA_HOME", h.dir.filePath("data"));
        h.env.insert("PGPASSFILE", pgpass);
    }
    const int rounds = 4;
    for (int round = 0; round < rounds; ++round) {
        std::vector<std::unique_ptr<QProcess>> runs;
        for (int host = 0; host < 2; ++host) {
            auto p = std::make_unique<QProcess>();
            p->setProcessEnvironment(hosts[host].env);
            const QString job = QString("%1-%2").arg(host == 0 ? "a" : "b").arg(round);
            p->start(QString(PENDRILL_BIN_DIR) + "/pendrill",
                     {"-configfile", hosts[host].dir.filePath(job + ".etl"), "-job_id", job});
            runs.push_back(std::move(p));
        }
        for (auto& p : runs) {
            ASSERT_TRUE(p->waitForFinished(60000));
            EXPECT_EQ(p->exitCode(), 2) << "configuration missing";
            EXPECT_FALSE(p->readAllStandardError().contains("job history"))
                << "the record was stored";
        }
    }
    for (Host& h : hosts) {
        QProcess list;
        list.setProcessEnvironment(h.env);
        list.start(QString(PENDRILL_BIN_DIR) + "/pendrill-admin", {"history", "--json"});
        ASSERT_TRUE(list.waitForFinished(60000));
        ASSERT_EQ(list.exitCode(), 0) << list.readAllStandardError().constData();
        const QJsonArray a = QJsonDocument::fromJson(list.readAllStandardOutput()).array();
        ASSERT_EQ(a.size(), 2 * rounds);
        QStringList jobs;
        for (const QJsonValue& v : a) {
            jobs << v.toObject().value("JobIdentifier").toString();
            EXPECT_EQ(v.toObject().value("Status").toInt(), 2);
        }
        for (int round = 0; round < rounds; ++round)
            for (const char* host : {"a", "b"})
                EXPECT_TRUE(jobs.contains(QString("%1-%2").arg(host).arg(round)))
                    << host << round << " " << jobs.join(',').toStdString();

        list.start(QString(PENDRILL_BIN_DIR) + "/pendrill-admin", {"history", "--job", "b-3"});
        ASSERT_TRUE(list.waitForFinished(60000));
        const QString text = QString::fromUtf8(list.readAllStandardOutput());
        EXPECT_EQ(text.count(QRegularExpression("^#\\d+ ", QRegularExpression::MultilineOption)),
                  1);
        EXPECT_TRUE(text.contains("status 2 not loaded")) << text.toStdString();
    }
}
