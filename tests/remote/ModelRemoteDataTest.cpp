#include <gtest/gtest.h>

#include <QDir>

#include "config/RunSettings.h"
#include "datasources/WarehouseConnection.h"
#include "remote/RemoteTestSupport.h"
#include "support/DataLinkWarehouse.h"

using remotetest::CountingClock;
using remotetest::JobRecords;
using remotetest::MetadataFiles;
using testsupport::readAll;
using testsupport::writeAll;

namespace {

class HandleRemoteData : public remotetest::RemoteTest {
  protected:
    void SetUp() override {
        RemoteTest::SetUp();
        QString skip, error;
        wh = CreateDataLinkWarehouse(Backend::Embedded, home, &skip, &error);
        ASSERT_TRUE(wh) << error.toStdString();
        QString connectError;
        ASSERT_TRUE(ConnectToDWServer(wh->server, wh->trusted, wh->user, wh->password, connectError,
                                      wh->database, 20))
            << connectError.toStdString();
        run.DTSPackageName = "Sales_Overall";
        run.ExceptionLogFile = logPath;
        run.JobID = "J7";
        QDir().mkpath(site);
        writeAll(site + "/status", "ready\r\n");
        writeAll(site + "/orders.csv", "1;2\r\n");
    }
    void TearDown() override {
        RemoteTest::TearDown();
        ReleaseDWConnection();
    }
    void addSource(const QString& name, int transfer, const QString& remote, const QString& local,
                   const QString& model = "Sales") {
        ASSERT_TRUE(wh->InsertRow({{"model", model},
                                   {"source_name", name},
                                   {"Type", 3},
                                   {"transfer_data", transfer},
                                   {"remote_directory", remote},
                                   {"ds_directory", local},
                                   {"poll_interval", 1},
                                   {"poll_duration", 5}}));
    }
    std::unique_ptr<Warehouse> wh;
    CountingClock clock;
    RunSettings run;
    QString site = home.file("site");
};

TEST_F(HandleRemoteData, OneFetchPerRemoteDirectoryAndMetadataOfEverySource) {
    writeAll(site + "/pmd_orders.xml", "<m/>");
    const QString plain = home.file("plain");
    QDir().mkpath(plain + "/pmd_not_a_file");
    writeAll(plain + "/pmd_b.xml", "<m/>");
    writeAll(plain + "/pmd_a.xml", "<m/>");
    writeAll(plain + "/PMD_upper.xml", "<m/>");

    addSource("First", 2, site, home.file("first"));
    addSource("SameDirWithSlash", 2, site + "/", home.file("second"));
    addSource("NoTransfer", 0, "", plain);
    addSource("UnknownTransfer", 7, site, home.file("third"));
    addSource("OtherModel", 2, site, home.file("fourth"), "Purchases");

    EXPECT_TRUE(run.HandleRemoteData());
    EXPECT_EQ(logLines().count("Polling for remote data."), 1);
    EXPECT_EQ(readAll(home.file("first/orders.csv")), "1;2\r\n");
    for (const char* never : {"second", "third", "fourth"})
        EXPECT_FALSE(QFileInfo::exists(home.file(never))) << never;
    EXPECT_EQ(readAll(site + "/status"), "idle\r\n\r\n");
    EXPECT_EQ(MetadataFiles(), (QStringList{home.file("first/pmd_orders.xml"), plain + "/pmd_a.xml",
                                            plain + "/pmd_b.xml"}));
    const QList<QJsonObject> records = JobRecords();
    ASSERT_EQ(records.size(), 3);  // orders.csv, pmd_orders.xml, status
    EXPECT_EQ(records[0]["JobIdentifier"].toString(), "J7");
    EXPECT_EQ(records[0]["ExceptionFile"].toString(), logPath);
}

TEST_F(HandleRemoteData, AFailedFetchFailsTheRunButTheOthersAreFetched) {
    addSource("Gone", 2, home.file("gone"), home.file("a"));
    addSource("Stopped", 2, site + "/stopped", home.file("b"));
    // Never fetched into the current or the root directory, not even polled.
    addSource("NoLocal", 2, site, "");
    addSource("Root", 2, site, "//");
    addSource("Fine", 2, site, home.file("c"));
    QDir().mkpath(site + "/stopped");
    writeAll(site + "/stopped/status", "stop\r\n");

    EXPECT_FALSE(run.HandleRemoteData());
    EXPECT_EQ(logLines().count("Polling for remote data."), 3);
    EXPECT_TRUE(logLines().contains("Path not found: " + home.file("gone") + "/"));
    // Each failed data link is named in the run log with its reason.
    const QString failed = "Error: remote data of data link %1 not obtained: %2";
    for (const QString& line :
         {failed.arg("Gone", "Path not found: " + home.file("gone") + "/"),
          failed.arg("Stopped", "the remote site's status file says error or stop"),
          failed.arg("NoLocal", "no local directory is set, the data is not fetched"),
          failed.arg("Root", "the local directory is the root directory, the data is not fetched")})
        EXPECT_TRUE(logLines().contains(line)) << line.toStdString() << "\n" << log().toStdString();
    EXPECT_EQ(readAll(home.file("c/orders.csv")), "1;2\r\n");
    EXPECT_EQ(readAll(site + "/stopped/status"), "stop\r\n") << "left as the remote side wrote it";
    const QList<QJsonObject> records = JobRecords();
    ASSERT_GE(records.size(), 2);
    EXPECT_EQ(records[0]["Message"].toString(), "Path not found: " + home.file("gone") + "/");
    EXPECT_EQ(records[1]["Status"].toInt(), 3);
    EXPECT_EQ(records[1]["Message"].toString(), "");
}

// The catalogue row still says "no transfer" (the last run saved it so); each of two
// configurations of the model fetches the site its own file names.
TEST_F(HandleRemoteData, TheConfigurationFileDecidesTheFetch) {
    addSource("Files", 0, "", home.file("stale"));
    for (const QString name : {"east", "west"}) {
        QDir().mkpath(home.file(name));
        writeAll(home.file(name + "/status"), "ready\r\n");
        writeAll(home.file(name + "/" + name + ".csv"), "1;2\r\n");
        const QString config = home.file(name + ".etl");
        writeAll(config, ("[Data Source::Files]\r\nName=Files\r\nModelName=Sales\r\nType=3\r\n"
                          "Directory=" +
                          home.file("local-" + name) + "\r\nTransferData=2\r\nRemoteDir=" +
                          home.file(name) + "\r\nPollInterval=1\r\nPollDuration=5\r\n")
                             .toUtf8());
        run.PendrillConfigFile = config;
        EXPECT_TRUE(run.HandleRemoteData()) << name.toStdString();
        EXPECT_TRUE(QFileInfo::exists(home.file("local-" + name + "/" + name + ".csv")));
    }
    EXPECT_FALSE(QFileInfo::exists(home.file("stale")));
}

TEST_F(HandleRemoteData, NothingToFetch) {
    addSource("Plain", 0, "", home.file("nowhere"));
    EXPECT_TRUE(run.HandleRemoteData());
    run.DTSPackageName = "NoSuchModel_LoadDW";
    EXPECT_TRUE(run.HandleRemoteData());
    EXPECT_TRUE(JobRecords().isEmpty());
    EXPECT_EQ(readAll(logPath), "");
}

}  // namespace
