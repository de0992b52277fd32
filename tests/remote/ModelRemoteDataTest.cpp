#include <gtest/gtest.h>

#include <QDir>

#include "datasources/DataLinks.h"
#include "history/JobRecord.h"
#include "remote/ModelRemoteData.h"
#include "remote/RemoteTestSupport.h"

using remotetest::CountingClock;
using remotetest::JobRecords;
using remotetest::MetadataFiles;
using testsupport::readAll;
using testsupport::writeAll;

namespace {

// The pass over data links built in memory; reading them from the catalogue and applying the
// configuration file's sections is the run's part (app/runs/005, 109).
class ModelRemoteData : public remotetest::RemoteTest {
  protected:
    void SetUp() override {
        RemoteTest::SetUp();
        runRecord.setExceptionFile(logPath);
        runRecord.setJobIdentifier("J7");
        context.runRecord = &runRecord;
        context.clock = &clock;
        context.notes = notes;
        QDir().mkpath(site);
        writeAll(site + "/status", "ready\r\n");
        writeAll(site + "/orders.csv", "1;2\r\n");
    }
    void addSource(const QString& name, int transfer, const QString& remote, const QString& local,
                   const QString& model = "Sales") {
        ASSERT_TRUE(links.Add(model, name, 3, "", "", false, "", "", "", local, "", transfer, "",
                              "", "", remote, 5, 1));
    }
    bool fetch() {
        const auto failed = [this](const DataLink& l, const QString& why) {
            runLog.Info(l.name + " failed: " + why);
        };
        return FetchModelRemoteData(links, context, failed);
    }
    DataLinks links;
    JobRecord runRecord;
    CountingClock clock;
    RemoteFetchContext context;
    QString site = home.file("site");
};

TEST_F(ModelRemoteData, OneFetchPerRemoteDirectoryAndMetadataOfEverySource) {
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

    EXPECT_TRUE(fetch());
    EXPECT_EQ(logLines().count("Polling for remote data."), 1);
    EXPECT_EQ(readAll(home.file("first/orders.csv")), "1;2\r\n");
    for (const char* never : {"second", "third"})
        EXPECT_FALSE(QFileInfo::exists(home.file(never))) << never;
    EXPECT_EQ(readAll(site + "/status"), "idle\r\n\r\n");
    EXPECT_EQ(MetadataFiles(), (QStringList{home.file("first/pmd_orders.xml"), plain + "/pmd_a.xml",
                                            plain + "/pmd_b.xml"}));
    const QList<QJsonObject> records = JobRecords();
    ASSERT_EQ(records.size(), 3);  // orders.csv, pmd_orders.xml, status
    EXPECT_EQ(records[0]["JobIdentifier"].toString(), "J7");
    EXPECT_EQ(records[0]["ExceptionFile"].toString(), logPath);
}

TEST_F(ModelRemoteData, AFailedFetchFailsTheRunButTheOthersAreFetched) {
    addSource("Gone", 2, home.file("gone"), home.file("a"));
    addSource("Stopped", 2, site + "/stopped", home.file("b"));
    // Never fetched into the current or the root directory, not even polled.
    addSource("NoLocal", 2, site, "");
    addSource("Root", 2, site, "//");
    addSource("Fine", 2, site, home.file("c"));
    QDir().mkpath(site + "/stopped");
    writeAll(site + "/stopped/status", "stop\r\n");

    EXPECT_FALSE(fetch());
    EXPECT_EQ(logLines().count("Polling for remote data."), 3);
    EXPECT_TRUE(logLines().contains("Path not found: " + home.file("gone") + "/"));
    // Each failed data link is handed to the caller with its reason.
    const QString failed = "%1 failed: %2";
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

}  // namespace
