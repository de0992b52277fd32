// pendrill-admin writing files at the same time as other writers and other accounts: what
// needs processes, locks and accounts of its own (every other command: cases/*.case).

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "config/IniFiles.h"
#include "support/TestSupport.h"
#include "util/FileLock.h"

using testsupport::readAll;
using testsupport::runProgram;
using testsupport::writeAll;

namespace {
const QString kAdmin = QString(PENDRILL_BIN_DIR) + "/pendrill-admin";
}  // namespace

// Writers of different keys of one file, all at once: every key they set is in the file.
TEST(AdminLocks, ConcurrentSetsLoseNoUpdate) {
    QTemporaryDir dir;
    const QString file = dir.filePath("shared.etl");
    ASSERT_TRUE(writeAll(file, "; kept\r\n[Package Info]\r\nPackage=P\r\n"));
    constexpr int kWriters = 4, kSets = 20;
    const auto sectionOf = [](int w) { return w == 0 ? "Data Source::Feed" : "Keys"; };
    std::vector<std::unique_ptr<QProcess>> writers;
    for (int w = 0; w < kWriters; ++w) {
        auto p = std::make_unique<QProcess>();
        // Writer 0 sets passwords, so scrambling and tightening take part as well.
        p->start("/bin/sh",
                 {"-c",
                  "i=1; while [ $i -le $4 ]; do \"$0\" config set --force \"$1\" \"$2\" "
                  "\"$3$i\" \"value $3$i\" || exit 1; i=$((i+1)); done",
                  kAdmin, file, sectionOf(w), QString("w%1k").arg(w), QString::number(kSets)});
        writers.push_back(std::move(p));
    }
    for (auto& p : writers) {
        ASSERT_TRUE(p->waitForFinished(120000));
        EXPECT_EQ(p->exitCode(), 0) << p->readAllStandardError().constData();
    }
    for (int w = 0; w < kWriters; ++w)
        for (int i = 1; i <= kSets; ++i) {
            const QString key = QString("w%1k%2").arg(w).arg(i);
            EXPECT_EQ(ReadIniValue(sectionOf(w), key, "lost", file), "value " + key);
        }
    EXPECT_TRUE(readAll(file).startsWith("; kept\r\n[Package Info]\r\nPackage=P\r\n"));
}

// package run keeps off a log directory that a run holds: nothing in it is removed or run.
TEST(AdminLocks, PackageRunKeepsOffALockedLogDirectory) {
    testsupport::IsolatedHome home;
    const QString xml = home.file("p.xml");
    ASSERT_TRUE(writeAll(xml,
                         "<Package name=\"P_LoadDW\"><Steps><Step name=\"A\"><RunProgram "
                         "program=\"true\"/></Step></Steps></Package>"));
    auto r = runProgram("pendrill-admin", {"package", "import", xml, "--server", "(local)"});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    const QString logs = home.file("logs");
    ASSERT_TRUE(QDir().mkpath(logs));
    ASSERT_TRUE(writeAll(logs + "/earlier.log", "earlier run"));
    FileLock held;
    ASSERT_TRUE(held.LockDirectory(logs, 0));
    r = runProgram("pendrill-admin",
                   {"package", "run", "P_LoadDW", "--server", "(local)", "--logdir", logs});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(QString::fromLocal8Bit(r.err),
              QString("pendrill-admin: Another run (process %1) is using %2\n")
                  .arg(::getpid())
                  .arg(logs));
    EXPECT_EQ(readAll(logs + "/earlier.log"), "earlier run");
}

// SIGTERM stops package run as it stops a Pendrill run: the running program goes with its process
// group, the run ends with exit status 1 and says why.
TEST(AdminLocks, PackageRunStopsOnSignal) {
    testsupport::IsolatedHome home;
    QString variables;
    for (const char* v : {"ExceptionFilePath", "DTSServer", "DTSServerLoginUserName",
                          "DTSServerLoginPassword", "DestinationServer", "DestServerLoginUserName",
                          "DestServerLoginPassword", "DestServerDatabaseName", "JobID"})
        variables += QString("<GlobalVariable name=\"%1\" type=\"text\"/>").arg(v);
    for (const char* v : {"DTSServerTrustedLogin", "DestServerTrustedLogin",
                          "WriteCompletionStatusToNT", "OverwriteGlobalSettings"})
        variables +=
            QString("<GlobalVariable name=\"%1\" type=\"boolean\">false</GlobalVariable>").arg(v);
    const QString pidFile = home.file("sleeper.pid"), xml = home.file("s.xml");
    ASSERT_TRUE(writeAll(xml, QString("<Package name=\"S_LoadDW\"><GlobalVariables>%1"
                                      "</GlobalVariables><Steps><Step name=\"Nap\"><RunProgram "
                                      "program=\"/bin/sh\"><Argument>-c</Argument><Argument>echo "
                                      "$$ &gt; %2; exec sleep 100</Argument></RunProgram></Step>"
                                      "</Steps></Package>")
                                  .arg(variables, pidFile)
                                  .toUtf8()));
    auto r = runProgram("pendrill-admin", {"package", "import", xml, "--server", "(local)"});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    QProcess run;
    run.start(kAdmin, {"package", "run", "S_LoadDW", "--server", "(local)"});
    for (int i = 0; i < 200 && readAll(pidFile).trimmed().isEmpty(); ++i)
        QThread::msleep(50);
    const pid_t sleeper = readAll(pidFile).trimmed().toInt();
    ASSERT_GT(sleeper, 0) << "the program never started";
    ::kill(pid_t(run.processId()), SIGTERM);
    ASSERT_TRUE(run.waitForFinished(5000));
    EXPECT_EQ(run.exitStatus(), QProcess::NormalExit) << "ended by the signal itself";
    EXPECT_EQ(run.exitCode(), 1);
    EXPECT_TRUE(run.readAllStandardError().contains("Execution stopped by the user"));
    QThread::msleep(100);
    EXPECT_NE(::kill(sleeper, 0), 0) << "the program outlived the run";
}

// Root and a service account ("nobody") take turns on the account's configuration: the file
// stays the account's, the lock file root creates is given to it, and no change is lost.
TEST(AdminLocks, RootAndServiceAccountShareAFile) {
    QTemporaryDir dir;
    ::chmod(QFile::encodeName(dir.path()).constData(), 0777);
    const QString file = dir.filePath("job.etl");
    auto r =
        testsupport::runUnprivileged(kAdmin, {"config", "set", "--force", file, "S", "a", "1"});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    ASSERT_TRUE(QFile::remove(file + ".lock"));
    struct stat account {};
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &account), 0);

    r = runProgram("pendrill-admin", {"config", "set", "--force", file, "S", "b", "2"});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    r = testsupport::runUnprivileged(kAdmin, {"config", "set", "--force", file, "S", "c", "3"});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    for (const QString& f : {file, file + ".lock"}) {
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(f).constData(), &st), 0);
        EXPECT_EQ(st.st_uid, account.st_uid) << f.toStdString();
        EXPECT_EQ(st.st_mode & 0777, 0600u) << f.toStdString();
    }
    EXPECT_EQ(ReadIniValue("S", "a", "", file) + ReadIniValue("S", "b", "", file) +
                  ReadIniValue("S", "c", "", file),
              "123");
}

// Files the account may not read, and directories, fail every config command with the reason.
TEST(AdminLocks, UnreadableFilesAndDirectoriesFailEveryCommand) {
    QTemporaryDir dir;
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    const QString locked = dir.filePath("locked.etl"), folder = dir.filePath("folder.etl");
    const QByteArray content = "[Package Info]\r\nPackage=Secret\r\n";
    ASSERT_TRUE(writeAll(locked, content));
    ASSERT_EQ(::chmod(QFile::encodeName(locked).constData(), 0600), 0);
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.etl"));

    const struct {
        QString file, reason;
    } targets[] = {{locked, "Permission denied"}, {folder, "is a directory"}};
    for (const auto& t : targets) {
        for (const QStringList& command :
             {QStringList{"show", t.file}, QStringList{"get", t.file, "Package Info", "Package"},
              QStringList{"set", t.file, "Package Info", "Package", "x"}}) {
            SCOPED_TRACE((command.join(' ')).toStdString());
            const auto r = testsupport::runUnprivileged(kAdmin, QStringList{"config"} + command);
            EXPECT_EQ(r.exitCode, 1);
            EXPECT_TRUE(r.out.isEmpty()) << r.out.constData();
            const QString err = QString::fromUtf8(r.err);
            EXPECT_TRUE(err.startsWith("pendrill-admin: cannot read " + t.file + ": "))
                << err.toStdString();
            EXPECT_TRUE(err.contains(t.reason)) << err.toStdString();
            EXPECT_FALSE(err.contains("no such file")) << err.toStdString();
        }
    }
    EXPECT_EQ(readAll(locked), content);
}
