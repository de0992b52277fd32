// Fetches over FTP through the poll loop, against the test FTP server. (A whole run that fetches
// over FTP: app/RunRemoteDataTest.)

#include <gtest/gtest.h>

#include <QDir>

#include "remote/CopyTessalyFiles.h"
#include "remote/RemoteTestSupport.h"
#include "support/TestFtp.h"

using remotetest::CountingClock;
using remotetest::JobRecords;
using testsupport::FtpServerOptions;
using testsupport::readAll;
using testsupport::TestFtp;
using testsupport::writeAll;

namespace {

constexpr qint64 kMinute = 60 * 1000;
// Line ends without CR, so that the ASCII transfer leaves the bytes as they are.
const QByteArray kOrders = "1;2\n";

class FtpFetch : public remotetest::RemoteTest {
  protected:
    void SetUp() override {
        if (!TestFtp::available())
            GTEST_SKIP() << "python3-pyftpdlib is not installed";
        RemoteTest::SetUp();
        testsupport::setFtpTimeouts(20, 20);
        site = home.file("site");
        QDir().mkpath(site + "/in");
        writeAll(site + "/in/orders.csv", kOrders);
        writeAll(site + "/in/name with blanks.txt", "x\r\n");
    }
    void serve(const FtpServerOptions& options = {}) {
        ASSERT_TRUE(ftp.start(site, options)) << ftp.error().toStdString();
    }
    bool fetch(short interval, short duration, QString remote = "in") {
        QString localDir = home.file("local");
        return FetchRemoteData(remote, localDir, interval, duration, ftp.server(), "pendrill",
                               "secret");
    }
    QStringList localNames() { return fileNames(home.file("local")); }

    CountingClock clock;
    TestFtp ftp;
    QString site;
};

TEST_F(FtpFetch, StatusSequences) {
    const struct {
        const char* name;
        QStringList sequence;  // the status file at minute 0, 1, ... ("-": missing)
        bool result;
        qint64 elapsedMs;
        QByteArray statusAfter;
        const char* message;  // of the failure record
    } cases[] = {
        {"missing, running, ready", QStringList{"-", "running\r\n", "ready\r\n"}, true, 2 * kMinute,
         "idle\r\n", nullptr},
        {"stop", QStringList{"running", "stop\r\n"}, false, kMinute, "stop\r\n", ""},
    };
    serve();
    const QString server = ftp.server();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(home.file("local")).removeRecursively();
        // The remote side writes the next text at each whole minute.
        const auto remoteSide = [&](qint64 t) {
            if (t % kMinute != 0 || t / kMinute >= c.sequence.size())
                return;
            const QString text = c.sequence.at(t / kMinute);
            QFile::remove(site + "/in/status");
            if (text != "-")
                writeAll(site + "/in/status", text.toUtf8());
        };
        remoteSide(0);
        clock.onSleep = remoteSide;
        const qsizetype before = JobRecords().size();
        clock.elapsedMs = 0;
        EXPECT_EQ(fetch(1, 3), c.result);
        EXPECT_EQ(clock.elapsedMs, c.elapsedMs);
        EXPECT_EQ(readAll(site + "/in/status"), c.statusAfter);
        const QList<QJsonObject> records = JobRecords().mid(before);
        ASSERT_FALSE(records.isEmpty());
        for (const QJsonObject& r : records) {
            EXPECT_EQ(r["ApplicationName"].toString(), "Pendrill FTP");
            EXPECT_EQ(r["SourceServer"].toString(), server);
            EXPECT_EQ(r["SourceUser"].toString(), "pendrill");
            EXPECT_EQ(r["SourcePath"].toString(), "in");
        }
        if (c.message == nullptr) {
            EXPECT_TRUE(logLines().contains("Copying Remote Data via FTP"));
            EXPECT_EQ(readAll(home.file("local/orders.csv")), kOrders);
            EXPECT_TRUE(QFileInfo::exists(home.file("local/name with blanks.txt")));
            EXPECT_EQ(records.last()["Status"].toInt(), 0);
        } else {
            ASSERT_EQ(records.size(), 1);
            EXPECT_EQ(records[0]["Status"].toInt(), 3);
            EXPECT_EQ(records[0]["Message"].toString(), c.message);
            EXPECT_TRUE(localNames().isEmpty());
        }
    }
}

TEST_F(FtpFetch, FailedDownloadOffersTheDataAgain) {
    writeAll(site + "/in/status", "ready\r\n");
    FtpServerOptions options;
    options.failDownload = QStringList{"orders.csv"};
    serve(options);
    EXPECT_FALSE(fetch(1, 3));
    EXPECT_EQ(readAll(site + "/in/status"), "ready\r\n");
    EXPECT_FALSE(localNames().contains("orders.csv")) << "no file under its real name";
}

}  // namespace
