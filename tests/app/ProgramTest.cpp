#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>

#include "support/TestSupport.h"

using testsupport::readAll;

// (--help, -h and --version: runs/704, 705, 706.) A scheduler's directory the run may not add
// files to, holding a status file and a log file the run may write: both are written in place.
// Run as an unprivileged account, since root may write everywhere.
TEST(Program, StatusAndLogFilesInADirectoryThatRefusesNewFiles) {
    testsupport::IsolatedHome home;
    const bool root = ::geteuid() == 0;
    ASSERT_EQ(::chmod(QFile::encodeName(home.path()).constData(), 0755), 0);
    const QString program = QStringLiteral(PENDRILL_BIN_DIR "/pendrill");
    const QString work = home.file("work"), jobs = home.file("jobs");
    for (const QString& d : {home.configHome(), home.dataHome(), work, jobs})
        ASSERT_TRUE(QDir().mkpath(d));
    const QString cfg = work + "/job.etl", runLog = work + "/run.log";
    testsupport::writeAll(
        cfg, "[Package Info]\r\nPackage=Sales_Overall\r\nLogFile=" + runLog.toUtf8() + "\r\n");
    const QString status = jobs + "/status", log = jobs + "/job.log";
    const struct {
        const char* name;
        QString configFile;
        QByteArray expectedLog;  // empty: the run log
    } cases[] = {
        {"missing configuration", home.file("not there.etl"),
         "Can't find Config File " + home.file("not there.etl").toUtf8() + "\r\n"},
        {"run log copied", cfg, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::writeAll(status, "ok\r\n");
        testsupport::writeAll(log, "the previous run's log\r\n");
        QStringList files = {home.configHome(), home.dataHome(), work, cfg, status, log};
        if (QFile::exists(runLog))
            files << runLog;
        for (const QString& f : files)
            ASSERT_TRUE(!root || ::chown(QFile::encodeName(f).constData(), 65534, 65534) == 0);
        ASSERT_EQ(::chmod(QFile::encodeName(jobs).constData(), root ? 0755 : 0555), 0);

        const QStringList args = {"-configfile", c.configFile, "-statusfile",
                                  status,        "-logfile",   log};
        const auto r = testsupport::runUnprivileged(program, args);
        ::chmod(QFile::encodeName(jobs).constData(), 0755);
        EXPECT_NE(r.exitCode, 0) << r.err.constData();
        EXPECT_FALSE(r.err.contains("cannot")) << r.err.constData();
        EXPECT_EQ(readAll(status), "failure\r\n") << "never the previous run's word";
        const QByteArray expected = c.expectedLog.isEmpty() ? readAll(runLog) : c.expectedLog;
        EXPECT_FALSE(expected.isEmpty());
        EXPECT_EQ(readAll(log), expected);
        EXPECT_EQ(QDir(jobs).entryList(QDir::Files | QDir::Hidden).size(), 2)
            << "no temporary file is left behind";
    }
}
