// Two runs at once: the second run of a configuration, or of a log directory, ends at once with
// exit status 8 and leaves the first run's files alone; a run killed with SIGKILL blocks nothing.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <QDir>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include "RunJob.h"

using runjob::Config;
using runjob::Job;
using runjob::LogLines;
using testsupport::readAll;
using testsupport::writeAll;

namespace {

struct Scene {
    testsupport::IsolatedHome home;
    Job job{home};

    Scene() {
        job.EmptyWarehouse();
        // One step that takes its time, long enough for a second run to start meanwhile.
        EXPECT_TRUE(job.StorePackage(
            runjob::PackageXml("Slow_LoadDW",
                               "<Step name=\"Wait\"><RunProgram program=\"sleep\"><Argument>2"
                               "</Argument></RunProgram></Step>")));
    }
    Config config(const QString& runLog, const QString& logDir) const {
        return Config{"Slow_LoadDW", home.file(runLog), home.file(logDir), true, "DW", {}, {}};
    }
    // Starts a run and returns once its package is executing.
    bool StartRun(QProcess& p, const QString& etl, const QString& runLog) const {
        if (!job.Start(p, {"-configfile", etl, "-statusfile", home.file("status-first"), "-logfile",
                           home.file("copy-first.log")}))
            return false;
        runjob::WaitUntil(
            [&] {
                return readAll(runLog).contains("Executing DTS package") ||
                       p.state() == QProcess::NotRunning;
            },
            30000);
        return p.state() == QProcess::Running;
    }
};

}  // namespace

// The second run finds the configuration, the log directory or the run log in use: one line
// naming the first run's process on standard error and in its own -logfile, "failure", a
// job-history record, exit status 8; the first run goes on and its run log holds only its own
// lines.
TEST(RunLocks, SecondRunEndsAtOnce) {
    const struct {
        QString name;
        bool sameConfig;         // else another configuration with the run log and directory below
        QString runLog, logDir;  // of the other configuration
    } cases[] = {
        {"same configuration", true, {}, {}},
        {"same log directory", false, "other.log", "logs"},
        {"same run log", false, "run.log", "other logs"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        Scene s;
        const QString first = s.job.WriteConfig("first.etl", s.config("run.log", "logs"));
        const QString second =
            c.sameConfig ? first : s.job.WriteConfig("second.etl", s.config(c.runLog, c.logDir));
        QProcess running;
        ASSERT_TRUE(s.StartRun(running, first, s.home.file("run.log")));

        QElapsedTimer clock;
        clock.start();
        const auto r =
            s.job.Pendrill({"-configfile", second, "-statusfile", s.home.file("status-second"),
                            "-logfile", s.home.file("copy-second.log"), "-job_id", "77"});
        EXPECT_LT(clock.elapsed(), 10000);
        EXPECT_EQ(r.exitCode, 8) << r.err.constData();
        const QString what = c.sameConfig         ? first
                             : c.logDir == "logs" ? s.home.file("logs")
                                                  : s.home.file("run.log");
        const QString message =
            QString("Another run (process %1) is using %2").arg(running.processId()).arg(what);
        EXPECT_EQ(QString::fromLocal8Bit(r.err),
                  "pendrill: the run ended with \"failure\" (exit status 8): " + message +
                      "; run log: " + s.home.file("copy-second.log") + "\n");
        EXPECT_EQ(readAll(s.home.file("status-second")), "failure\r\n");
        EXPECT_EQ(readAll(s.home.file("copy-second.log")), message.toUtf8() + "\r\n");

        ASSERT_TRUE(running.waitForFinished(60000));
        EXPECT_EQ(running.exitCode(), 0) << running.readAllStandardError().constData();
        EXPECT_EQ(readAll(s.home.file("status-first")), "ok\r\n");
        const QStringList log = LogLines(s.home.file("run.log"));
        EXPECT_EQ(log.filter(QRegularExpression("^Run at : ")).size(), 1);
        EXPECT_EQ(log.filter("Another run").size(), 0);
        EXPECT_EQ(log.last(), "Executed successfully.");
        EXPECT_FALSE(QFile::exists(s.home.file("other.log")));
        EXPECT_FALSE(QFile::exists(s.home.file("other logs")));

        const QJsonObject refused = s.job.History().at(1).toObject();
        EXPECT_EQ(refused["JobIdentifier"].toString(), "77");
        EXPECT_EQ(refused["Status"].toInt(), 3);
        EXPECT_EQ(refused["Message"].toString(), message);
    }
}

// A run killed in the middle leaves no lock behind: the next run of the same configuration goes
// ahead at once. The log directory it made is its owner's alone.
TEST(RunLocks, KilledRunBlocksNothing) {
    Scene s;
    const QString etl = s.job.WriteConfig("job.etl", s.config("run.log", "logs"));
    QProcess killed;
    ASSERT_TRUE(s.StartRun(killed, etl, s.home.file("run.log")));
    ::kill(static_cast<pid_t>(killed.processId()), SIGKILL);
    ASSERT_TRUE(killed.waitForFinished(10000));

    const auto r = s.job.Pendrill({"-configfile", etl});
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(s.home.file("logs")).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

// A lock file that is no file could keep no other run out: a directory in the place of the
// configuration's, a symbolic link in the place of the run log's (not followed: its target is
// left as it was) end the run as a lock held elsewhere does.
TEST(RunLocks, LockFileThatIsNoFileEndsTheRun) {
    Scene s;
    const QString etl = s.job.WriteConfig("job.etl", s.config("run.log", "logs"));
    writeAll(s.home.file("target"), "keep");
    for (const QString& lockFile : {etl + ".lock", s.home.file("run.log.lock")}) {
        SCOPED_TRACE(lockFile.toStdString());
        if (lockFile.endsWith("job.etl.lock"))
            ASSERT_TRUE(QDir().mkdir(lockFile));
        else
            ASSERT_TRUE(QFile::link(s.home.file("target"), lockFile));
        const auto r = s.job.Pendrill({"-configfile", etl});
        EXPECT_EQ(r.exitCode, 8) << r.err.constData();
        EXPECT_TRUE(QString::fromLocal8Bit(r.err).contains("The lock file " + lockFile +
                                                           " is not a regular file"))
            << r.err.constData();
        EXPECT_EQ(readAll(s.home.file("target")), "keep");
        QDir().rmdir(lockFile);
        QFile::remove(lockFile);
    }
    EXPECT_EQ(s.job.Pendrill({"-configfile", etl}).exitCode, 0);
}
