// Unattended runs that a scenario file cannot express (tests/app/runs/ holds the others): a stop
// by SIGTERM in the middle of a load, and a run on PostgreSQL.

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QThread>

#include "RunJob.h"
#include "config/SettingsStore.h"
#include "db/ServerResolver.h"
#include "support/TestPostgres.h"

using runjob::Config;
using runjob::Job;
using runjob::LogLines;
using testsupport::readAll;
using testsupport::writeAll;

namespace {

// A job in a private home: the directory of the data link "Files", and the warehouse "DW" with
// its catalogue (the data link of `model` still pointing elsewhere).
struct Scene {
    testsupport::IsolatedHome home;
    Job job{home};
    QString files = home.file("files/"), runLog = home.file("run.log"),
            status = home.file("status");

    explicit Scene(const QString& model) {
        QDir().mkpath(files);
        EXPECT_TRUE(job.InitWarehouse() &&
                    job.AddDataLink(model, "Files", {"--type", "3", "--ds-directory", "/old/"}));
    }
    Config config(const QString& package) const { return job.Standard(package); }
};

}  // namespace

// SIGTERM in the middle of a long bulk insert: the run ends stopped within a bounded time, the
// record closed, no status file left at "running", only whole batches loaded.
TEST(Run, TerminationSignalStopsALongBulkInsert) {
    Scene s("Big");
    QFile big(s.files + "big.csv");
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    QByteArray chunk;
    for (int i = 0; i < 100000; ++i)
        chunk += QByteArray::number(i) + ";row " + QByteArray::number(i) + "\n";
    for (int i = 0; i < 40; ++i)  // 4,000,000 rows
        big.write(chunk);
    big.close();
    ASSERT_TRUE(s.job.StorePackage(
        runjob::PackageXml("Big_Overall", runjob::LoadFileSteps("big.csv", 20000))));

    Config cfg = s.config("Big_Overall");
    cfg.extra = runjob::FlatFileSection("Big", "Files", s.files);
    QProcess p;
    ASSERT_TRUE(s.job.Start(p, {"-configfile", s.job.WriteConfig("big.etl", cfg), "-statusfile",
                                s.status, "-job_id", "12"}));
    runjob::WaitUntil(
        [&] {
            return readAll(s.home.file("logs/Big_Overall.log")).contains("Step 'Load' started.") ||
                   p.state() == QProcess::NotRunning;
        },
        30000);
    QThread::msleep(200);
    ASSERT_EQ(p.state(), QProcess::Running) << "the load ended before it could be stopped";
    EXPECT_EQ(readAll(s.status), "running\r\n");
    QElapsedTimer clock;
    clock.start();
    p.terminate();
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_EQ(p.exitCode(), 6) << p.readAllStandardError().constData();
    EXPECT_EQ(readAll(s.status), "failure\r\n");
    const QStringList log = LogLines(s.runLog);
    EXPECT_TRUE(log.contains("Waiting for end of execution"));
    EXPECT_EQ(log.last(), "Execution stopped by the user");
    const int loaded = s.job.Count("SELECT count(*) FROM loaded");
    EXPECT_LT(loaded, 4000000);
    EXPECT_EQ(loaded % 20000, 0);
    const QJsonObject rec = s.job.History().at(0).toObject();
    EXPECT_EQ(rec["Status"].toInt(), 3);
    EXPECT_EQ(rec["Message"].toString(), "Execution stopped by the user");
}

// An ETL-model run with the package store and the warehouse on PostgreSQL, logged in by name.
TEST(Run, EtlModelPackageOnPostgres) {
    testsupport::IsolatedHome home;
    testsupport::TestPostgres* pg = nullptr;
    PENDRILL_SHARED_POSTGRES(pg);
    ASSERT_TRUE(WriteRegistryValue(ServerAliasKey, "pgrun",
                                   QString("postgresql://%1:%2").arg(pg->host()).arg(pg->port())));
    Job job(home, runjob::Server{"pgrun", false, pg->superuser(), pg->password()});
    const QString db = "runseq_dw";
    const auto r = job.Pendrill(
        {"-configfile", job.LoadJob("PgSales", "PgSales_Transformations", db), "-job_id", "31"});
    EXPECT_EQ(r.exitCode, 0) << r.err.constData() << readAll(home.file("run.log")).constData();
    EXPECT_EQ(job.Count("SELECT count(*) FROM loaded", db), 3);
    EXPECT_EQ(job.DataLinkDirectory("PgSales", db), home.file("files/"));
    const QJsonObject rec = job.History().at(0).toObject();
    EXPECT_EQ(rec["Status"].toInt(), 0);
    EXPECT_EQ(rec["SourceUser"].toString(), pg->superuser());
}
