// An unattended run as cron or systemd start it: a stop that a busy repository cannot hold up.
// (What such a run says on standard output and standard error: the scenarios 2NN in runs/.)

#include <gtest/gtest.h>
#include <signal.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

#include "RunJob.h"

using runjob::Job;
using testsupport::readAll;

// A run the repository keeps waiting (another process holds it locked) ends at SIGTERM without
// waiting out the repository's time-out: exit status 6, "failure".
TEST(UnattendedRun, SigtermWhileTheRepositoryIsLocked) {
    testsupport::IsolatedHome home;
    Job job(home);
    job.EmptyWarehouse();
    const QString status = home.file("status");
    // The environment of a cron job: HOME, PATH and the XDG homes; no display, no locale.
    QProcessEnvironment cron;
    cron.insert("HOME", home.path());
    cron.insert("PATH", "/usr/bin:/bin");
    cron.insert("XDG_CONFIG_HOME", home.configHome());
    cron.insert("XDG_DATA_HOME", home.dataHome());
    ASSERT_TRUE(job.StorePackage(runjob::PackageXml(
        "X_LoadDW",
        "<Step name=\"One\"><ExecuteSql connection=\"Warehouse\"><Statement>SELECT 1"
        "</Statement></ExecuteSql></Step>")));
    const QString cfg = job.WriteConfig("job.etl", job.Standard("X_LoadDW"));
    ASSERT_EQ(job.Pendrill({"-configfile", cfg}, cron).exitCode, 0);

    QSqlDatabase lock = QSqlDatabase::addDatabase("QSQLITE", "repository-lock");
    {
        lock.setDatabaseName(home.dataHome() + "/pendrill/repository.db");
        ASSERT_TRUE(lock.open());
        QSqlQuery q(lock);
        ASSERT_TRUE(q.exec("PRAGMA locking_mode=EXCLUSIVE"));
        ASSERT_TRUE(q.exec("BEGIN EXCLUSIVE"));
        ASSERT_TRUE(q.exec("DELETE FROM metadata_files")) << q.lastError().text().toStdString();

        QProcess p;
        p.setProcessEnvironment(cron);
        ASSERT_TRUE(job.Start(p, {"-configfile", cfg, "-statusfile", status}));
        runjob::WaitUntil([&] { return !readAll(status).isEmpty(); }, 10000);
        QThread::msleep(700);  // well into the repository's wait of several seconds
        ASSERT_EQ(p.state(), QProcess::Running) << p.readAllStandardError().constData();
        QElapsedTimer clock;
        clock.start();
        ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
        ASSERT_TRUE(p.waitForFinished(10000));
        EXPECT_LT(clock.elapsed(), 2500) << "the stop waited for the repository";
        EXPECT_EQ(p.exitCode(), 6);
        EXPECT_EQ(readAll(status), "failure\r\n");
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
