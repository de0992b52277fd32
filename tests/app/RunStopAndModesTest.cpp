// What a run does with the exception file and -logfile, how SIGTERM stops a long bulk insert, and
// the modes that need a person when there is no display.

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QThread>

#include "RunJob.h"

using runjob::Config;
using runjob::Job;
using runjob::LogLines;
using testsupport::readAll;
using testsupport::writeAll;

namespace {

const QString kSelect =
    "<Step name=\"Touch\"><ExecuteSql connection=\"Warehouse\"><Statement>"
    "SELECT 1</Statement></ExecuteSql></Step>";

struct ModesFixture : ::testing::Test {
    testsupport::IsolatedHome home;
    Job job{home};
    void SetUp() override {
        QDir().mkpath(home.dataHome() + "/pendrill/servers/local");
        ASSERT_TRUE(writeAll(home.dataHome() + "/pendrill/servers/local/DW.db", ""));
    }
};

QProcessEnvironment WithoutDisplay() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    return env;
}

}  // namespace

// The exception file kept or truncated, and -logfile naming the same file, another file or none.
TEST_F(ModesFixture, ExceptionFileAndLogFileCopy) {
    ASSERT_TRUE(job.StorePackage(runjob::PackageXml("X_LoadDW", kSelect)));
    enum LogFileArg { Other, Same, NoneGiven };
    struct Case {
        const char* name;
        bool truncate;
        LogFileArg logFile;
    };
    const Case cases[] = {
        {"truncated, copied", true, Other},
        {"kept, copied", false, Other},
        {"truncated, -logfile is the exception file", true, Same},
        {"kept, no -logfile", false, NoneGiven},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString runLog = home.file("run.log"), copy = home.file("copy.log");
        ASSERT_TRUE(writeAll(runLog, "line of an earlier run\r\n"));
        QFile::remove(copy);
        Config cfg;
        cfg.package = "X_LoadDW";
        cfg.logFile = runLog;
        cfg.logDir = home.file("logs");
        cfg.truncate = c.truncate;
        QStringList args = {"-configfile", job.WriteConfig("x.etl", cfg)};
        if (c.logFile != NoneGiven)
            args << "-logfile" << (c.logFile == Same ? runLog : copy);
        const auto r = job.Pendrill(args);
        EXPECT_EQ(r.exitCode, 0) << r.err.constData();

        const QStringList log = LogLines(runLog);
        ASSERT_GE(log.size(), 3);
        if (c.truncate) {
            EXPECT_TRUE(log.at(0).startsWith("Pendrill ")) << "the loading line went with the file";
        } else {
            EXPECT_EQ(log.mid(0, 2),
                      QStringList({"line of an earlier run", "Loading DTS Package : X_LoadDW"}));
        }
        EXPECT_EQ(log.last(), "Executed successfully.");
        EXPECT_EQ(QFile::exists(copy), c.logFile == Other);
        if (c.logFile == Other) {
            EXPECT_EQ(readAll(copy), readAll(runLog));
        }
    }
}

// SIGTERM in the middle of a long bulk insert: the run ends within a bounded time, stopped, with
// the record closed and no status file left at "running".
TEST_F(ModesFixture, TerminationSignalStopsALongBulkInsert) {
    const QString files = home.file("files/");
    QDir().mkpath(files);
    {
        QFile big(files + "big.csv");
        ASSERT_TRUE(big.open(QIODevice::WriteOnly));
        QByteArray chunk;
        for (int i = 0; i < 100000; ++i)
            chunk += QByteArray::number(i) + ";name of row " + QByteArray::number(i) + "\n";
        for (int i = 0; i < 40; ++i)  // 4,000,000 rows
            ASSERT_EQ(big.write(chunk), chunk.size());
    }
    ASSERT_TRUE(job.InitWarehouse());
    ASSERT_TRUE(job.AddDataLink("Big", "Files", {"--type", "3", "--ds-directory", files}));
    ASSERT_TRUE(job.StorePackage(
        runjob::PackageXml("Big_Overall", runjob::LoadFileSteps("big.csv", "loaded", 20000))));
    Config cfg;
    cfg.package = "Big_Overall";
    cfg.logFile = home.file("run.log");
    cfg.logDir = home.file("logs");
    const QString status = home.file("status");

    QProcess p;
    p.start(
        QStringLiteral(PENDRILL_BIN_DIR) + "/pendrill",
        {"-configfile", job.WriteConfig("big.etl", cfg), "-statusfile", status, "-job_id", "12"});
    ASSERT_TRUE(p.waitForStarted(10000));
    const QString packageLog = home.file("logs/Big_Overall.log");
    QElapsedTimer wait;
    wait.start();
    while (!readAll(packageLog).contains("Step 'Load' started.") && wait.elapsed() < 30000 &&
           p.state() == QProcess::Running)
        QThread::msleep(20);
    ASSERT_EQ(p.state(), QProcess::Running) << "the load ended before it could be stopped";
    QThread::msleep(200);
    EXPECT_EQ(readAll(status), "running\r\n");
    QElapsedTimer stopping;
    stopping.start();
    p.terminate();  // SIGTERM
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_LT(stopping.elapsed(), 3000) << "stopped within the current batch";
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 6) << p.readAllStandardError().constData();

    EXPECT_EQ(readAll(status), "failure\r\n");
    const QStringList log = LogLines(cfg.logFile);
    EXPECT_TRUE(log.contains("Waiting for end of execution")) << log.join('\n').toStdString();
    EXPECT_EQ(log.last(), "Execution stopped by the user");
    const int loaded = job.Count("SELECT count(*) FROM loaded");
    EXPECT_LT(loaded, 4000000);
    EXPECT_EQ(loaded % 20000, 0) << "only whole batches stay";
    const QJsonObject rec = job.History().at(0).toObject();
    EXPECT_EQ(rec.value("Status").toInt(), 3);
    EXPECT_EQ(rec.value("Message").toString(), "Execution stopped by the user");
    EXPECT_EQ(rec.value("JobIdentifier").toString(), "12");
}

// The window modes need a person: without a display they say so, write nothing and end with 7.
TEST_F(ModesFixture, WindowModesWithoutDisplay) {
    const QString jobFile = home.file("job.txt"), status = home.file("status");
    Config cfg;
    cfg.package = "X_LoadDW";
    const QString etl = job.WriteConfig("x.etl", cfg);
    struct Case {
        const char* name;
        QStringList args;
        const char* says;
    };
    const Case cases[] = {
        {"job configuration",
         {"-config", jobFile, "-configfile", etl, "-statusfile", status},
         "job-configuration mode"},
        {"job configuration, no configuration", {"-CONFIG", jobFile}, "job-configuration mode"},
        {"interactive", {}, "the main window needs a display"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(writeAll(jobFile, "earlier content\r\n"));
        const auto r = job.Pendrill(c.args, WithoutDisplay());
        EXPECT_EQ(r.exitCode, 7);
        EXPECT_TRUE(r.err.contains(c.says)) << r.err.constData();
        EXPECT_EQ(readAll(jobFile), "earlier content\r\n");
        EXPECT_FALSE(QFile::exists(status));
        EXPECT_TRUE(job.History().isEmpty());
    }
}
