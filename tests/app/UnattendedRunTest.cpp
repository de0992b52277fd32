// An unattended run as cron or systemd start it: nothing on standard output or standard error
// when it ends "ok", one line naming the log when it does not, and a stop that a busy repository
// cannot hold up.

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
const QString kBadStep =
    "<Step name=\"Bad\"><ExecuteSql connection=\"Warehouse\"><Statement>SELECT * FROM nothing"
    "</Statement></ExecuteSql></Step>";

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

// A run that ends "ok" says nothing; one that fails says so in exactly one line that names the
// log, whatever the way it failed.
TEST(UnattendedRun, QuietWhenOkOneLineWhenNot) {
    const struct {
        const char* name;
        QString steps;      // empty: no configuration file at all
        QString extraArgs;  // '|' between them
        int exit;
        QString line;  // %1: the run log, %3: the configuration file; ending in ": ", a prefix
        const char* display = nullptr;  // DISPLAY, one that cannot be reached
        const char* runLogNote = nullptr;
    } cases[] = {
        {"ok", kSelectOne, "", 0, ""},
        {"ok under a stale DISPLAY", kSelectOne, "", 0, "", ":5987",
         "the display :5987 cannot be reached; going on without a window"},
        {"ok, status file in a missing directory", kSelectOne, "-statusfile|no dir/status", 0,
         "pendrill: cannot write the status file no dir/status: ", nullptr,
         "cannot write the status file no dir/status: "},
        {"failing step", kBadStep, "", 1,
         "pendrill: the run ended with \"failure\" (exit status 1): Error: DTS package execute "
         "error Bad in 'X_LoadDW' failed.; run log: %1\n"},
        {"no configuration file", "", "-logfile|copy.log", 2,
         "pendrill: the run ended with \"failure\" (exit status 2): Can't find Config File "
         "%3; run log: copy.log\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CronJob s;
        ASSERT_TRUE(s.job.StorePackage(runjob::PackageXml("X_LoadDW", c.steps)));
        const QString cfg = c.steps.isEmpty() ? s.home.file("absent.etl") : s.config("X_LoadDW");
        QProcessEnvironment env = cronEnvironment(s.home);
        if (c.display != nullptr)
            env.insert("DISPLAY", c.display);
        const auto r = s.job.Pendrill(
            QStringList{"-configfile", cfg, "-statusfile", s.status, "-job_id", "3"} +
                c.extraArgs.split('|', Qt::SkipEmptyParts),
            env);
        EXPECT_EQ(r.exitCode, c.exit);
        EXPECT_EQ(r.out, "");
        const QString line = QString(c.line).replace("%1", s.runLog).replace("%3", cfg);
        if (line.endsWith(": ")) {
            EXPECT_TRUE(r.err.startsWith(line.toUtf8()) && r.err.count('\n') == 1) << r.err.data();
        } else {
            EXPECT_EQ(r.err.toStdString(), line.toStdString());
        }
        if (c.runLogNote != nullptr) {
            EXPECT_TRUE(readAll(s.runLog).contains(c.runLogNote)) << readAll(s.runLog).data();
        }
        if (!c.extraArgs.contains("-statusfile")) {
            EXPECT_EQ(readAll(s.status), c.exit == 0 ? "ok\r\n" : "failure\r\n");
        }
    }
}

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
