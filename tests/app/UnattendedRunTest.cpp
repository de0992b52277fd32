// An unattended run as cron or systemd start it: a stop that a busy repository cannot hold up.
// (What such a run says on standard output and standard error: the scenarios 2NN in runs/.)

#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

#include "RunJob.h"

using runjob::Job;
using testsupport::readAll;
using testsupport::writeAll;

namespace {

// The environment of a cron job: HOME and PATH, no display, no XDG_RUNTIME_DIR, no locale.
QProcessEnvironment cronEnvironment(const testsupport::IsolatedHome& home) {
    QProcessEnvironment env;
    env.insert("HOME", home.path());
    env.insert("PATH", "/usr/bin:/bin");
    env.insert("XDG_CONFIG_HOME", home.configHome());
    env.insert("XDG_DATA_HOME", home.dataHome());
    return env;
}

const QString kSelectOne =
    "<Step name=\"One\"><ExecuteSql connection=\"Warehouse\"><Statement>SELECT 1</Statement>"
    "</ExecuteSql></Step>";
struct CronJob {
    testsupport::IsolatedHome home;
    Job job{home};
    QString runLog = home.file("run.log"), status = home.file("status");

    CronJob() { job.EmptyWarehouse(); }
    QString config(const QString& package) const {
        return job.WriteConfig("job.etl", job.Standard(package));
    }
};

}  // namespace

// A run the repository keeps waiting (another process holds it locked) ends at SIGTERM without
// waiting out the repository's time-out: exit status 6, "failure".
TEST(UnattendedRun, SigtermWhileTheRepositoryIsLocked) {
    CronJob s;
    ASSERT_TRUE(s.job.StorePackage(runjob::PackageXml("X_LoadDW", kSelectOne)));
    const QString cfg = s.config("X_LoadDW");
    ASSERT_EQ(s.job.Pendrill({"-configfile", cfg}, cronEnvironment(s.home)).exitCode, 0);

    QSqlDatabase lock = QSqlDatabase::addDatabase("QSQLITE", "repository-lock");
    {
        lock.setDatabaseName(s.home.dataHome() + "/pendrill/repository.db");
        ASSERT_TRUE(lock.open());
        QSqlQuery q(lock);
        ASSERT_TRUE(q.exec("PRAGMA locking_mode=EXCLUSIVE"));
        ASSERT_TRUE(q.exec("BEGIN EXCLUSIVE"));
        ASSERT_TRUE(q.exec("DELETE FROM metadata_files")) << q.lastError().text().toStdString();

        QProcess p;
        p.setProcessEnvironment(cronEnvironment(s.home));
        ASSERT_TRUE(s.job.Start(p, {"-configfile", cfg, "-statusfile", s.status}));
        runjob::WaitUntil([&] { return !readAll(s.status).isEmpty(); }, 10000);
        QThread::msleep(700);  // well into the repository's wait of several seconds
        ASSERT_EQ(p.state(), QProcess::Running) << p.readAllStandardError().constData();
        QElapsedTimer clock;
        clock.start();
        ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
        ASSERT_TRUE(p.waitForFinished(10000));
        EXPECT_LT(clock.elapsed(), 2500) << "the stop waited for the repository";
        EXPECT_EQ(p.exitCode(), 6);
        EXPECT_EQ(readAll(s.status), "failure\r\n");
        const QString err = QString::fromUtf8(p.readAllStandardError());
        EXPECT_EQ(err.count('\n'), 1) << err.toStdString();
        EXPECT_TRUE(err.startsWith("pendrill: the run ended with \"failure\" (exit status 6)"))
            << err.toStdString();
        q.exec("ROLLBACK");
        lock.close();
    }
    lock = QSqlDatabase();
    QSqlDatabase::removeDatabase("repository-lock");
}
