#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>

#include "support/DataLinkWarehouse.h"
#include "support/TestSupport.h"

using testsupport::readAll;
using testsupport::runProgram;
using testsupport::writeAll;

namespace {

class AdminRemote : public ::testing::Test {
  protected:
    void SetUp() override {
        QString skip, error;
        wh = CreateDataLinkWarehouse(Backend::Embedded, home, &skip, &error);
        ASSERT_TRUE(wh) << error.toStdString();
    }
    void addShare(const QString& model, const QString& name, const QString& remote, int interval,
                  int duration) {
        ASSERT_TRUE(wh->InsertRow({{"model", model},
                                   {"source_name", name},
                                   {"Type", 3},
                                   {"transfer_data", 2},
                                   {"remote_directory", remote},
                                   {"ds_directory", home.file("local/" + name)},
                                   {"poll_interval", interval},
                                   {"poll_duration", duration}}));
    }
    QString site(const QString& name, const QByteArray& status) {
        const QString dir = home.file("sites/" + name);
        QDir().mkpath(dir);
        writeAll(dir + "/data.csv", "1;2\r\n");
        if (!status.isEmpty())
            writeAll(dir + "/status", status);
        return dir;
    }
    QStringList base(const char* verb, const QString& model) {
        return {"remote",     verb,         "--server", wh->server,
                "--database", wh->database, "--model",  model};
    }
    testsupport::IsolatedHome home;
    std::unique_ptr<Warehouse> wh;
};

TEST_F(AdminRemote, StatusOfEachRemoteDataLink) {
    addShare("M", "Ready", site("a", "ready\r\n"), 1, 5);
    addShare("M", "NoFileYet", site("b", ""), 1, 5);
    addShare("M", "Running", site("c", "running"), 1, 5);
    addShare("M", "Gone", home.file("sites/none"), 1, 5);
    ASSERT_TRUE(wh->InsertRow({{"model", "M"}, {"source_name", "Local"}, {"Type", 3}}));
    auto r = runProgram("pendrill-admin", base("status", "M"));
    EXPECT_EQ(r.exitCode, 5);
    EXPECT_EQ(QString::fromUtf8(r.out),
              "Ready\tready\nNoFileYet\twaiting\nRunning\twaiting\n"
              "Gone\tfailed\tPath not found: " +
                  home.file("sites/none") + "/\n");
    auto one = runProgram("pendrill-admin", base("status", "M") + QStringList{"--name", "Ready"});
    EXPECT_EQ(one.exitCode, 0);
    EXPECT_EQ(one.out, "Ready\tready\n");
    EXPECT_EQ(runProgram("pendrill-admin", base("status", "Empty")).exitCode, 1);
}

TEST_F(AdminRemote, FetchPrintsTheRunLog) {
    const QString a = site("a", "ready\r\n");
    addShare("M", "A", a, 1, 5);
    addShare("M", "ASlash", a + "/", 1, 5);
    auto r = runProgram("pendrill-admin", base("fetch", "M"));
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_EQ(r.out, "Polling for remote data.\nCopying Remote Data from Share\n");
    EXPECT_EQ(readAll(home.file("local/A/data.csv")), "1;2\r\n");
    EXPECT_EQ(readAll(a + "/status"), "idle\r\n\r\n");

    addShare("N", "Never", site("n", "running\r\n"), 1, 0);
    auto late = runProgram("pendrill-admin", base("fetch", "N"));
    EXPECT_EQ(late.exitCode, 5);
    EXPECT_EQ(late.out,
              "Polling for remote data.\nPolling for remote data timed out.\nError: "
              "remote data of data link Never not obtained: Polling for remote data "
              "timed out.\n");
}

TEST_F(AdminRemote, SignalStopsTheWait) {
    addShare("M", "Never", site("n", "running\r\n"), 5, 60);
    QProcess p;
    p.start(QStringLiteral(PENDRILL_BIN_DIR "/pendrill-admin"), base("fetch", "M"));
    ASSERT_TRUE(p.waitForStarted());
    // Wait until it polls (its first line), then stop it.
    ASSERT_TRUE(p.waitForReadyRead(20000));
    QElapsedTimer timer;
    timer.start();
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_LT(timer.elapsed(), 3000) << "a stop is noticed at the next 100 ms tick";
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 5);
}

}  // namespace
