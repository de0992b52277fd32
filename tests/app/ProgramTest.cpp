#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "support/TestSupport.h"

using testsupport::readAll;
using testsupport::runProgram;

namespace {

struct Program : ::testing::Test {
    testsupport::IsolatedHome home;

    QJsonArray history() {
        const auto r = runProgram("pendrill-admin", {"history", "--json"});
        EXPECT_EQ(r.exitCode, 0) << r.err.constData();
        return QJsonDocument::fromJson(r.out).array();
    }
    void setRepositoryLocation(const QString& path) {
        QDir().mkpath(home.configHome() + "/pendrill");
        testsupport::writeAll(
            home.configHome() + "/pendrill/registry.ini",
            "[Software\\Tessaly\\Rook\\Repository]\r\nLocation=" + path.toUtf8() + "\r\n");
    }
};

}  // namespace

TEST_F(Program, MissingConfigurationWithLogFile) {
    QDir(home.path()).mkpath("job dir");
    const QString cfg = home.file("job dir/Not There.etl");
    const QString status = home.file("job dir/status word");
    const QString log = home.file("job dir/run log.txt");
    testsupport::writeAll(log, "an older run's log that must go\r\n");
    const auto r = runProgram(
        "pendrill", {"-CONFIGFILE", cfg, "-StatusFile", status, "-logfile", log, "-job_id", "0"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(readAll(status), "failure\r\n");
    EXPECT_EQ(readAll(log), "Can't find Config File " + cfg.toUtf8() + "\r\n");

    const QJsonArray records = history();
    ASSERT_EQ(records.size(), 1);
    const QJsonObject rec = records.at(0).toObject();
    EXPECT_EQ(rec.value("Status").toInt(), 2);
    EXPECT_EQ(rec.value("Message").toString(), "Can't find Config File " + cfg);
    EXPECT_EQ(rec.value("JobIdentifier").toString(), "0") << "kept unchanged in this case";
    EXPECT_EQ(rec.value("Kind").toInt(), 4);
    EXPECT_EQ(rec.value("ApplicationName").toString(), "Pendrill");
    EXPECT_FALSE(rec.value("EndTime").toString().isEmpty());
    EXPECT_TRUE(rec.value("StartTime").isNull()) << "the opening fields were never filled";
    const QJsonArray args = rec.value("Arguments").toArray();
    ASSERT_EQ(args.size(), 26);
    EXPECT_EQ(args.at(0).toString(), "Missing");
    EXPECT_EQ(args.at(1).toString(), "Missing");
    EXPECT_EQ(args.at(16 - 3).toInt(), 99);
    EXPECT_EQ(args.at(19 - 3).toDouble(), 2.0);
    EXPECT_EQ(args.at(21 - 3).toDouble(), -1.0);
    EXPECT_EQ(args.at(28 - 3).toInt(), 0);
}

TEST_F(Program, MissingConfigurationWithoutLogFileSaysItOnStandardError) {
    const QString status = home.file("st");
    const auto r = runProgram(
        "pendrill", {"--configfile", "/no/such.etl", "--statusfile", status, "-job_id", "17"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("Can't find Config File /no/such.etl")) << r.err.constData();
    EXPECT_EQ(readAll(status), "failure\r\n");
    const QJsonArray records = history();
    ASSERT_EQ(records.size(), 1);
    EXPECT_EQ(records.at(0).toObject().value("JobIdentifier").toString(), "17");
}

TEST_F(Program, StatusFileInMissingDirectoryDoesNotStopTheRun) {
    const auto r = runProgram(
        "pendrill", {"-configfile", "/no/such.etl", "-statusfile", home.file("no dir/status")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_FALSE(QDir(home.file("no dir")).exists());
    EXPECT_EQ(history().size(), 1);
}

TEST_F(Program, UsageTextWhateverElseIsGiven) {
    const QString status = home.file("status");
    const auto r =
        runProgram("pendrill", {"-statusfile", status, "-HELP", "-configfile", "x"}, "\n");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out,
              "Usage Pendrill : Configurate and Execute DTS Packages\r\n\r\n"
              "      Pendrill [ -configfile <Pendrill Configuration File>\r\n"
              "Press enter to exit\r\n");
    EXPECT_FALSE(QFile::exists(status)) << "usage mode writes no status";
    EXPECT_EQ(history().size(), 0);

    const auto q = runProgram("pendrill", {"-?"});  // no input at all: ends at once
    EXPECT_EQ(q.exitCode, 0);
    EXPECT_TRUE(q.out.startsWith("Usage Pendrill"));
}

TEST_F(Program, LinuxHelpAndVersion) {
    const auto h = runProgram("pendrill", {"-configfile", "x", "--help"});
    EXPECT_EQ(h.exitCode, 0);
    for (const char* word : {"-configfile", "-statusfile", "-logfile", "-job_id", "-config",
                             "Exit status", "registry.ini", "repository.db"})
        EXPECT_TRUE(h.out.contains(word)) << word;
    EXPECT_FALSE(h.out.contains("Press enter"));
    const auto v = runProgram("pendrill", {"--version"});
    EXPECT_EQ(v.exitCode, 0);
    EXPECT_TRUE(v.out.startsWith("pendrill ")) << v.out.constData();
}

TEST_F(Program, UnreachableRepositoryFailsTheRun) {
    setRepositoryLocation(home.file("missing dir/repo.db"));
    const QString cfg = home.file("empty config.etl");
    testsupport::writeAll(cfg, "");
    const QString status = home.file("status");
    const auto r = runProgram("pendrill", {"-configfile", cfg, "-statusfile", status});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(readAll(status), "failure\r\n");
    EXPECT_TRUE(r.err.contains("Cannot connect to the Rook Repository.")) << r.err.constData();

    setRepositoryLocation("");
    const auto n = runProgram("pendrill", {"-configfile", cfg, "-statusfile", status});
    EXPECT_EQ(n.exitCode, 3);
    EXPECT_TRUE(n.err.contains("No repository found ! Use Repository Manager"))
        << n.err.constData();
}

TEST_F(Program, ReachableRepositoryIsCreatedOnFirstUse) {
    const QString status = home.file("status");
    const auto r = runProgram("pendrill", {"-statusfile", status});
    EXPECT_TRUE(QFile::exists(home.dataHome() + "/pendrill/repository.db"));
    EXPECT_FALSE(r.err.contains("Repository"))
        << "the repository was reached: " << r.err.constData();
    // An unattended run of an empty configuration has no package to run.
    EXPECT_NE(r.exitCode, 0);
    EXPECT_EQ(readAll(status), "failure\r\n");
}

TEST_F(Program, ConfigurationFileGivesTheRunLog) {
    const QString cfg = home.file("with log.etl");
    const QString runLog = home.file("run log.txt");
    testsupport::writeAll(
        cfg, "[Package Info]\r\nPackage=Sales_Overall\r\nLogFile=" + runLog.toUtf8() + "\r\n");
    const QString status = home.file("status");
    const QString copy = home.file("copy.log");
    testsupport::writeAll(copy, "an older run's copy\r\n");
    const auto r =
        runProgram("pendrill", {"-configfile", cfg, "-statusfile", status, "-logfile", copy});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_EQ(readAll(status), "failure\r\n");
    const QByteArray log = readAll(runLog);
    EXPECT_FALSE(log.isEmpty()) << "run-log lines go to the configured exception file";
    EXPECT_TRUE(log.endsWith("\r\n"));
    EXPECT_EQ(readAll(copy), log) << "the run log is copied to -logfile at the end of the run";
}

// A scheduler's directory the run may not add files to, holding a status file and a log file the
// run may write: both are written in place. Run as an unprivileged account, since root may
// write everywhere.
TEST_F(Program, StatusAndLogFilesInADirectoryThatRefusesNewFiles) {
    const bool root = ::geteuid() == 0;
    ASSERT_EQ(::chmod(QFile::encodeName(home.path()).constData(), 0755), 0);
    // The program itself is copied next to the files, so the account can reach it wherever the
    // build directory lies.
    const QString program = home.file("pendrill");
    ASSERT_TRUE(QFile::copy(QStringLiteral(PENDRILL_BIN_DIR "/pendrill"), program));
    const QString work = home.file("work"), jobs = home.file("jobs");
    for (const QString& d : {home.configHome(), home.dataHome(), work})
        ASSERT_TRUE(QDir().mkpath(d));
    ASSERT_TRUE(QDir().mkpath(jobs));
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
        for (const QString& f : files) {
            if (root) {
                ASSERT_EQ(::chown(QFile::encodeName(f).constData(), 65534, 65534), 0);
            }
        }
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
