#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>

#include "config/RunSettings.h"
#include "dts/PackageRun.h"
#include "support/FakePackage.h"
#include "support/TestSupport.h"
#include "util/RunTargets.h"
#include "util/StatusFile.h"

using testsupport::readAll;
using testsupport::writeAll;

namespace {

class PackageRunTest : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    FakeRecord record;
    std::function<void(FakePackage&)> setup;
    RunSettings s;
    PackageRun run{s, [this]() -> std::unique_ptr<DtsPackage> {
                       auto p = std::make_unique<FakePackage>(&record);
                       if (setup)
                           setup(*p);
                       return p;
                   }};
    QString error;
    QString oldCwd = QDir::currentPath();

    void SetUp() override {
        s.DTSPackageName = "Pkg";
        s.DTSServer = "dts1";
        s.DTSLoginUserName = "u";
        s.DTSLoginPassword = "pw";
        s.LogFileDir = dir.filePath("logs");
        s.ExceptionLogFile = dir.filePath("exception.txt");
        s.JobID = "77";
        s.DWServer = "dw1";
        s.DWDatabaseName = "Sales";
        // A package whose variables already hold the run's values.
        record.values = {
            {"ExceptionFilePath", s.LogFileDir + "/"}, {"DTSServer", "dts1"},
            {"DTSServerTrustedLogin", false},          {"DTSServerLoginUserName", "u"},
            {"DTSServerLoginPassword", "pw"},          {"DestinationServer", "dw1"},
            {"DestServerTrustedLogin", false},         {"DestServerLoginUserName", ""},
            {"DestServerLoginPassword", ""},           {"DestServerDatabaseName", "Sales"},
            {"WriteCompletionStatusToNT", false},      {"JobID", "0"},
            {"OverwriteGlobalSettings", true}};
    }
    void TearDown() override { QDir::setCurrent(oldCwd); }
    QString log(const QString& name) const { return dir.filePath("logs/" + name); }
};

// A package that does not load: app/runs/104-package-does-not-load.run.
TEST_F(PackageRunTest, LoadLoginFlagsAndLogDirectory) {
    ASSERT_TRUE(QDir().mkpath(log("keep")));
    // The package's own files of an earlier run go (a link under such a name too, never its
    // target); every other file stays.
    const QStringList gone = {"Pkg.log", "PKG_Load_Bulkload.xml", "Pkg_Load_Bulkload.xml__.log",
                              "Pkg_Run_output.log"};
    const QStringList kept = {"old.log",  "Pkg.log.bak", "Other.log",   "Pkg_output.log",
                              "Pkgx.log", ".bashrc",     "keep/Pkg.log"};
    for (const QString& name : gone + kept + QStringList{"../outside link"})
        ASSERT_TRUE(writeAll(log(name), "x"));
    ASSERT_TRUE(QFile::link(dir.filePath("outside link"), log("Pkg_Link_output.log")));
    ASSERT_TRUE(writeAll(s.ExceptionLogFile, "before\r\n"));
    ASSERT_TRUE(run.Load(&error));
    EXPECT_EQ(record.flags, 0);
    EXPECT_EQ(record.loadArguments, QStringList({"dts1", "u", "pw", "", "", "", "Pkg"}));
    for (const QString& name : gone)
        EXPECT_FALSE(QFile::exists(log(name))) << name.toStdString();
    EXPECT_FALSE(QFileInfo(log("Pkg_Link_output.log")).isSymLink());
    for (const QString& name : kept)
        EXPECT_TRUE(QFile::exists(log(name))) << name.toStdString();
    EXPECT_TRUE(QFile::exists(dir.filePath("outside link")));
    EXPECT_TRUE(QFile::exists(s.ExceptionLogFile));

    s.DTSServerTrustedLogin = true;
    s.TruncateExceptionLogFile = true;
    s.LogFileDir = dir.filePath("new/deeper");
    ASSERT_TRUE(run.Load(&error));
    EXPECT_EQ(record.flags, 256);
    EXPECT_EQ(record.loadArguments, QStringList({"dts1", "", "", "", "", "", "Pkg"}));
    EXPECT_EQ(record.uninitialized, 1) << "the first package is un-initialised when replaced";
    EXPECT_FALSE(QFile::exists(s.ExceptionLogFile));
    EXPECT_TRUE(QDir(s.LogFileDir).exists());
}

// A log directory whose files are not the run's to delete is refused before anything goes: the
// root, the home directory, and the directory of the configuration, the status file or the run
// log, however it is named (a link, "..").
TEST_F(PackageRunTest, LogDirectoryHoldingOtherFilesIsRefused) {
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", dir.filePath("home").toUtf8());
    ASSERT_TRUE(QDir().mkpath(dir.filePath("home/jobs/logs")));
    ASSERT_TRUE(QFile::link(dir.filePath("home"), dir.filePath("to home")));
    const QString jobs = dir.filePath("home/jobs");
    const struct {
        QString logDir;
        QString configFile, statusFile, runLog;
    } cases[] = {
        {"/", {}, {}, {}},
        {dir.filePath("home"), {}, {}, {}},
        {dir.filePath("to home/"), {}, {}, {}},
        {jobs + "/logs/..", jobs + "/job.etl", {}, {}},
        {jobs, {}, jobs + "/status", {}},
        {jobs, {}, {}, jobs + "/run.log"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.logDir.toStdString());
        // A file of the package's own in the directory (none written to the root).
        const QString canary = c.logDir == "/" ? QString() : QDir(c.logDir).filePath("Pkg.log");
        s.LogFileDir = c.logDir;
        s.PendrillConfigFile = c.configFile;
        RunTargets::Current().statusFile = (c.statusFile);
        s.ExceptionLogFile = c.runLog.isEmpty() ? dir.filePath("exception.txt") : c.runLog;
        for (const QString& f : {canary, c.configFile, c.statusFile, c.runLog})
            if (!f.isEmpty()) {
                ASSERT_TRUE(writeAll(f, "x"));
            }
        EXPECT_FALSE(run.Load(&error));
        EXPECT_TRUE(error.contains("is not emptied")) << error.toStdString();
        EXPECT_TRUE(canary.isEmpty() || QFile::exists(canary));
    }
    RunTargets::Current().statusFile = ("");
    qputenv("HOME", oldHome);
}

TEST_F(PackageRunTest, GlobalVariablesComparedWrittenAndFlagged) {
    ASSERT_TRUE(run.Load(&error));
    EXPECT_EQ(run.GlobalVariablesText(),
              "ExceptionFilePath = " + s.LogFileDir +
                  "/DTSServer = dts1DTSServerTrustedLogin = FalseDTSServerLoginUserName = u"
                  "DestinationServer = dw1DestServerTrustedLogin = False"
                  "DestServerLoginUserName = DestServerDatabaseName = SalesJobID = 0"
                  "WriteCompletionStatusToNT = FalseOverwriteGlobalSettings = True");
    ASSERT_TRUE(run.Execute(&error));
    EXPECT_EQ(record.writes, QStringList({"JobID", "OverwriteGlobalSettings"}));
    EXPECT_EQ(record.values["JobID"], QVariant("77"));
    EXPECT_EQ(record.values["OverwriteGlobalSettings"], QVariant(false));

    // Each of the eleven compared values on its own sets OverwriteGlobalSettings.
    const FakeRecord base = record;
    for (int i = 0; i < 11; ++i) {
        record = base;
        record.writes.clear();
        const QString name = kRunVariables[i].name;
        const QVariant v = record.values[name];
        record.values[name] =
            v.typeId() == QMetaType::Bool ? QVariant(!v.toBool()) : QVariant("other");
        ASSERT_TRUE(run.Load(&error) && run.Execute(&error)) << error.toStdString();
        EXPECT_EQ(record.writes, QStringList({name, "JobID", "OverwriteGlobalSettings"}))
            << name.toStdString();
        EXPECT_EQ(record.values["OverwriteGlobalSettings"], QVariant(true)) << name.toStdString();
    }
}

TEST_F(PackageRunTest, NoPackageOrMissingVariableFailsWithoutExecuting) {
    EXPECT_FALSE(run.Execute(&error));
    EXPECT_EQ(error, "Internal error : no Package loaded.");

    record.values.remove("DestServerDatabaseName");
    ASSERT_TRUE(run.Load(&error));
    EXPECT_FALSE(run.Execute(&error));
    EXPECT_TRUE(error.contains("'DestServerDatabaseName'")) << error.toStdString();
    EXPECT_FALSE(record.executed);
    EXPECT_FALSE(run.Execute(&error)) << "the package is released after a failed execution too";
    EXPECT_EQ(error, "Internal error : no Package loaded.");
}

TEST_F(PackageRunTest, FailedStepsAreListedInStepOrder) {
    const DtsStep ok{"B", DTSStepExecStat_Completed, DTSStepExecResult_Success};
    const struct {
        std::vector<DtsStep> steps;
        bool readFails;
        bool success;
        const char* error;
    } cases[] = {
        // A waiting step is not a failure, whatever its result says.
        {{{"A", DTSStepExecStat_Completed, DTSStepExecResult_Failure},
          ok,
          {"C", DTSStepExecStat_Waiting, DTSStepExecResult_Failure},
          {"D", DTSStepExecStat_Completed, DTSStepExecResult_Failure}},
         false,
         false,
         "A in 'Pkg' failed.\r\nD in 'Pkg' failed.\r\n"},
        // An execution error alone (the fake's Execute reports one) is not a failure.
        {{ok}, false, true, ""},
        // Reading the steps breaks off: no verdict beyond what was found so far.
        {{ok, ok}, true, false, ""},
    };
    for (const auto& c : cases) {
        setup = [&c](FakePackage& p) {
            p.steps = c.steps;
            p.unreadableStep = c.readFails ? 2 : 0;
        };
        ASSERT_TRUE(run.Load(&error));
        EXPECT_EQ(run.Execute(&error), c.success) << c.error;
        EXPECT_EQ(error, c.error);
    }
}

// The merge, with the files the package leaves in the log directory. The run names the package
// in another letter case than the package's own name, under which its log is written; many
// other logs make a package log merged in listing order land elsewhere than first.
TEST_F(PackageRunTest, MergeAppendsPackageLogFirstThenOtherLogs) {
    ASSERT_TRUE(writeAll(s.ExceptionLogFile, "run line\r\n"));
    s.DTSPackageName = "pKG";
    setup = [this](FakePackage& p) {
        p.onExecute = [this] {
            for (int i = 0; i < 12; ++i)
                writeAll(log(QStringLiteral("s%1.log").arg(i)), "");
            writeAll(log("a_step.log"), "A\r\n");
            writeAll(log("Pkg.log"), "PACKAGE\r\n");
            writeAll(log("Pkg_Load_Bulkload.xml"),
                     "<E><Error><Description>File 'f', line 3: bad</Description></Error>"
                     "<Error><Description>second</Description>"
                     "<X><Description>too deep</Description></X></Error></E>");
            writeAll(log("Pkg_Empty_BULKLOAD.xml"), "<E><Error/></E>");
            writeAll(log("Pkg_Done_Bulkload.log"), "already text\r\n");
            // A link is nothing the package wrote: its target stays out of the run log.
            writeAll(dir.filePath("secret"), "SECRET\r\n");
            QFile::link(dir.filePath("secret"), log("z_link.log"));
        };
    };
    ASSERT_TRUE(run.Load(&error) && run.Execute(&error)) << error.toStdString();
    const QByteArray merged = readAll(s.ExceptionLogFile);
    EXPECT_TRUE(merged.startsWith("run line\r\nPACKAGE\r\n")) << merged.toStdString();
    EXPECT_TRUE(merged.contains("A\r\n"));
    EXPECT_TRUE(merged.contains("already text\r\n"));
    EXPECT_TRUE(merged.contains("\"File 'f', line 3: bad\r\nsecond\"\r\n"));
    // XML error files are merged only as converted text, without nested descriptions.
    EXPECT_EQ(merged.size(), QByteArray("run line\r\nPACKAGE\r\nA\r\nalready text\r\n"
                                        "\"File 'f', line 3: bad\r\nsecond\"\r\n")
                                 .size());
    EXPECT_TRUE(QFile::exists(log("Pkg_Load_Bulkload.xml__.log")));
    EXPECT_FALSE(QFile::exists(log("Pkg_Empty_BULKLOAD.xml__.log")));
    EXPECT_EQ(QDir::current().canonicalPath(), QDir(log("")).canonicalPath());
}

TEST_F(PackageRunTest, MergeCreatesExceptionFileOnlyWhenNeededAndKeepsRelativePaths) {
    QDir::setCurrent(dir.path());
    s.LogFileDir = "rel/logs";
    s.ExceptionLogFile = "exception.txt";
    ASSERT_TRUE(run.Load(&error) && run.Execute(&error)) << error.toStdString();
    EXPECT_FALSE(QFile::exists(dir.filePath("exception.txt")));
    QDir::setCurrent(dir.path());  // the run leaves the log directory current

    setup = [this](FakePackage& p) {
        p.onExecute = [this] { writeAll(dir.filePath("rel/logs/Pkg.log"), "P"); };
    };
    ASSERT_TRUE(run.Load(&error) && run.Execute(&error)) << error.toStdString();
    EXPECT_EQ(readAll(dir.filePath("exception.txt")), "P");
}

TEST(ConvertBulkLoadLog, WritesQuotedRecordOrNothing) {
    QTemporaryDir dir;
    // A multi-line server message keeps CR LF line ends, as every line of the exception file.
    writeAll(dir.filePath("b.xml"),
             "<r><e><Description>one\nDETAIL: x&#13;\ny</Description>"
             "<Description>two&#13;z</Description></e></r>");
    writeAll(dir.filePath("broken.xml"), "<r><e>");
    // The directory may come with or without its separator.
    const QString written = PackageRun::ConvertBulkLoadLog("b.xml", dir.path());
    EXPECT_EQ(written, dir.filePath("b.xml__.log"));
    EXPECT_EQ(readAll(written), "\"one\r\nDETAIL: x\r\ny\r\ntwo\r\nz\"\r\n");
    EXPECT_EQ(PackageRun::ConvertBulkLoadLog("b.xml", dir.path() + "/"), written);
    EXPECT_EQ(PackageRun::ConvertBulkLoadLog("broken.xml", dir.path()), "");
    EXPECT_EQ(PackageRun::ConvertBulkLoadLog("missing.xml", dir.path()), "");
}

}  // namespace
