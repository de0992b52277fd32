// An unattended run that a scenario file cannot express (tests/app/runs/ holds the others): a stop
// by SIGTERM in the middle of a load. Runs on PostgreSQL: engine/PackageStoreTest and
// datasources/DataLinkCatalogueTest.

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QThread>

#include "RunJob.h"

using runjob::Config;
using runjob::Job;
using runjob::LogLines;
using testsupport::readAll;

// SIGTERM in the middle of a long bulk insert: the run ends stopped within a bounded time, the
// record closed, no status file left at "running", only whole batches loaded.
TEST(Run, TerminationSignalStopsALongBulkInsert) {
    testsupport::IsolatedHome home;
    Job job(home);
    const QString files = home.file("files/");
    QDir().mkpath(files);
    ASSERT_TRUE(job.InitWarehouse() &&
                job.AddDataLink("Big", "Files", {"--type", "3", "--ds-directory", "/old/"}));
    QFile big(files + "big.csv");
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    QByteArray chunk;
    for (int i = 0; i < 100000; ++i)
        chunk += QByteArray::number(i) + ";row " + QByteArray::number(i) + "\n";
    for (int i = 0; i < 40; ++i)  // 4,000,000 rows
        big.write(chunk);
    big.close();
    ASSERT_TRUE(job.StorePackage(
        runjob::PackageXml("Big_Overall", runjob::LoadFileSteps("big.csv", 20000))));

    Config cfg = job.Standard("Big_Overall");
    cfg.extra = runjob::FlatFileSection("Big", "Files", files);
    QProcess p;
    ASSERT_TRUE(job.Start(p, {"-configfile", job.WriteConfig("big.etl", cfg), "-statusfile",
                              home.file("status"), "-job_id", "12"}));
    runjob::WaitUntil(
        [&] {
            return readAll(home.file("logs/Big_Overall.log")).contains("Step 'Load' started.") ||
                   p.state() == QProcess::NotRunning;
        },
        30000);
    QThread::msleep(200);
    ASSERT_EQ(p.state(), QProcess::Running) << "the load ended before it could be stopped";
    EXPECT_EQ(readAll(home.file("status")), "running\r\n");
    QElapsedTimer clock;
    clock.start();
    p.terminate();
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_EQ(p.exitCode(), 6) << p.readAllStandardError().constData();
    EXPECT_EQ(readAll(home.file("status")), "failure\r\n");
    const QStringList log = LogLines(home.file("run.log"));
    EXPECT_TRUE(log.contains("Waiting for end of execution"));
    EXPECT_EQ(log.last(), "Execution stopped by the user");
    const int loaded = job.Count("SELECT count(*) FROM loaded");
    EXPECT_LT(loaded, 4000000);
    EXPECT_EQ(loaded % 20000, 0);
    const QJsonObject rec = job.History().at(0).toObject();
    EXPECT_EQ(rec["Status"].toInt(), 3);
    EXPECT_EQ(rec["Message"].toString(), "Execution stopped by the user");
}
