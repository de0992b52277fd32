// The unattended run of an ETL model whose flat files come from a remote site: one data link over
// FTP (the loopback test server), one from a share directory.

#include <gtest/gtest.h>

#include <QDir>
#include <QJsonObject>
#include <QProcess>

#include "RunJob.h"
#include "support/TestFtp.h"

using runjob::Config;
using runjob::Job;
using runjob::LogLines;
using testsupport::readAll;
using testsupport::TestFtp;
using testsupport::writeAll;

namespace {

// The records of one job in the repository, newest first.
QList<QJsonObject> RecordsOfJob(const Job& job, const QString& jobId) {
    QList<QJsonObject> records;
    for (const auto& v : job.History()) {
        if (v.toObject()["JobIdentifier"].toString() == jobId)
            records << v.toObject();
    }
    return records;
}

}  // namespace

// Two runs on one warehouse, each of its own model: one fetches the files of both data links
// (the site's status goes from "ready" to "idle"), loads them and ends "ok"; one whose FTP site
// keeps saying "running" gives up after its poll duration with exit status 5. The fetch records
// carry the run's job identifier. A stop during the wait: remote/StatusPollTest.
TEST(Run, RemoteDataOfAnEtlModel) {
    if (!TestFtp::available())
        GTEST_SKIP() << "python3-pyftpdlib is not installed";
    testsupport::IsolatedHome home;
    Job job(home);
    testsupport::setFtpTimeouts(30, 30);
    const QString ftpRoot = home.file("ftp"), share = home.file("share");
    QDir().mkpath(ftpRoot + "/in");
    QDir().mkpath(ftpRoot + "/late");
    QDir().mkpath(share);
    // Line ends without CR: an ASCII transfer leaves them as they are.
    writeAll(ftpRoot + "/in/orders.csv", "1;alpha\n2;beta\n");
    writeAll(ftpRoot + "/in/status", "ready\r\n");
    writeAll(ftpRoot + "/late/status", "running\r\n");
    writeAll(share + "/returns.csv", "3;gamma\n");
    writeAll(share + "/status", "ready\r\n");
    // The run that waits and the one that copies each have a server of their own, so that the
    // copy's transfers cannot hold up the waiting run's login or reads.
    TestFtp ftp, lateFtp;
    ASSERT_TRUE(ftp.start(ftpRoot)) << ftp.error().toStdString();
    ASSERT_TRUE(lateFtp.start(ftpRoot)) << lateFtp.error().toStdString();

    ASSERT_TRUE(job.InitWarehouse());
    const auto ftpLink = [](const QString& remote, const QString& local, const char* duration,
                            const QString& host) {
        return QStringList{"--type",          "3",      "--transfer-data",    "1",
                           "--ftp-server",    host,     "--ftp-user",         "pendrill",
                           "--ftp-password",  "secret", "--remote-directory", remote,
                           "--ds-directory",  local,    "--poll-interval",    "1",
                           "--poll-duration", duration};
    };
    const QString fetchedFtp = home.file("local/ftp/"), fetchedShare = home.file("local/share/");
    ASSERT_TRUE(job.AddDataLink("Fetched", "Files", ftpLink("in", fetchedFtp, "5", ftp.server())));
    // The share's settings are only in the configuration file: the catalogue row has no transfer.
    ASSERT_TRUE(job.AddDataLink(
        "Fetched", "Shared", {"--type", "3", "--transfer-data", "0", "--ds-directory", "/old/"}));
    const QString sharedSection =
        "[Data Source::Shared]\nName=Shared\nModelName=Fetched\nType=3\nDirectory=" + fetchedShare +
        "\nTransferData=2\nRemoteDir=" + share + "\nPollInterval=1\nPollDuration=5\n";
    // One read at once, then a wait of one minute, then the time-out.
    ASSERT_TRUE(job.AddDataLink("Late", "Files",
                                ftpLink("late", home.file("local/late/"), "1", lateFtp.server())));

    const QString loadBoth =
        runjob::LoadFileSteps("orders.csv") +
        "<Step name=\"LoadShared\"><BulkInsert connection=\"Warehouse\" table=\"loaded\" "
        "fileConnection=\"Shared\" file=\"returns.csv\" delimiter=\";\"><Column>id</Column>"
        "<Column>name</Column></BulkInsert><Precedence step=\"Load\"/></Step>";
    const QString filesConnection = "<Connection name=\"Files\" dataLink=\"Files\"/>";
    ASSERT_TRUE(job.StorePackage(
        runjob::PackageXml("Fetched_Overall", loadBoth)
            .replace(filesConnection,
                     filesConnection + "<Connection name=\"Shared\" dataLink=\"Shared\"/>")));
    ASSERT_TRUE(
        job.StorePackage(runjob::PackageXml("Late_Overall", runjob::LoadFileSteps("x.csv"))));

    const auto start = [&](QProcess& p, const QString& model, const QString& jobId) {
        Config cfg = job.Standard(model + "_Overall", model == "Fetched" ? sharedSection : "");
        cfg.logFile = home.file(model + ".log");
        cfg.logDir = home.file("logs-" + model);
        return job.Start(p, {"-configfile", job.WriteConfig(model + ".etl", cfg), "-statusfile",
                             home.file(model + ".status"), "-job_id", jobId});
    };

    // The run that times out waits a minute: it goes on while the other one runs.
    QProcess late;
    ASSERT_TRUE(start(late, "Late", "21"));

    {
        QProcess p;
        ASSERT_TRUE(start(p, "Fetched", "20"));
        ASSERT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().constData();
        EXPECT_EQ(readAll(home.file("Fetched.status")), "ok\r\n");
        EXPECT_EQ(job.Count("SELECT count(*) FROM loaded"), 3);
        EXPECT_EQ(readAll(fetchedFtp + "orders.csv"), "1;alpha\n2;beta\n");
        EXPECT_EQ(readAll(fetchedShare + "returns.csv"), "3;gamma\n");
        EXPECT_EQ(readAll(ftpRoot + "/in/status"), "idle\r\n");
        EXPECT_EQ(readAll(share + "/status"), "idle\r\n\r\n");
        const QStringList log = LogLines(home.file("Fetched.log"));
        const int loaded = log.indexOf("Loaded DTS Package : Fetched_Overall");
        ASSERT_GE(loaded, 0);
        EXPECT_EQ(log.mid(loaded, 6),
                  QStringList({"Loaded DTS Package : Fetched_Overall", "Polling for remote data.",
                               "Copying Remote Data via FTP", "Polling for remote data.",
                               "Copying Remote Data from Share",
                               "Executing DTS package : Fetched_Overall"}));
        EXPECT_EQ(log.last(), "Executed successfully.");
        const QList<QJsonObject> records = RecordsOfJob(job, "20");
        ASSERT_FALSE(records.isEmpty());
        EXPECT_EQ(records.first()["Status"].toInt(), 0) << "the run's own record";
        QStringList copied;
        for (const QJsonObject& r : records.mid(1)) {
            EXPECT_EQ(r["ExceptionFile"].toString(), home.file("Fetched.log"));
            copied << r["ApplicationName"].toString() + ":" + r["ObjectName"].toString();
        }
        copied.sort();
        EXPECT_EQ(copied, QStringList({"Pendrill Copy:returns.csv", "Pendrill Copy:status",
                                       "Pendrill FTP:orders.csv", "Pendrill FTP:status"}));
    }

    ASSERT_TRUE(late.waitForFinished(120000));
    EXPECT_EQ(late.exitCode(), 5) << late.readAllStandardError().constData();
    EXPECT_EQ(readAll(home.file("Late.status")), "failure\r\n");
    const QStringList log = LogLines(home.file("Late.log"));
    // A status file that cannot be opened at a read counts as not there yet: a loaded machine
    // may add "FTP: Status file not found yet. Polling..." lines before the time-out.
    ASSERT_GE(log.size(), 2);
    EXPECT_TRUE(log.contains("Polling for remote data.")) << log.join('\n').toStdString();
    EXPECT_EQ(log.mid(log.size() - 2),
              QStringList({"Polling for remote data timed out.",
                           "Error: remote data of data link Files not obtained: Polling for "
                           "remote data timed out."}));
    EXPECT_EQ(readAll(ftpRoot + "/late/status"), "running\r\n");
    EXPECT_FALSE(QFile::exists(home.file("local/late")));
    // The run closes no record of its own when remote data is missing; the fetch has its own.
    const QList<QJsonObject> records = RecordsOfJob(job, "21");
    ASSERT_EQ(records.size(), 1);
    EXPECT_EQ(records[0]["ApplicationName"].toString(), "Pendrill FTP");
    EXPECT_EQ(records[0]["Status"].toInt(), 3);
    EXPECT_EQ(records[0]["Message"].toString(), "Polling for remote data timed out.");
}
