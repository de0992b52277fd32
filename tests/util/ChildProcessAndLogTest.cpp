#include <gtest/gtest.h>
#include <signal.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include "support/RecordingOperator.h"
#include "support/TestSupport.h"
#include "util/RunLog.h"
#include "util/ChildProcess.h"
#include "util/OperatorInterface.h"
#include "util/StopFlags.h"

using namespace std::chrono_literals;
using testsupport::readAll;
using testsupport::writeAll;

namespace {
// An executable shell script in `dir`.
QString script(const QTemporaryDir& dir, const QByteArray& body) {
    const QString path = dir.filePath("script.sh");
    EXPECT_TRUE(writeAll(path, "#!/bin/sh\n" + body) &&
                QFile::setPermissions(
                    path, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther));
    return path;
}

struct LogFixture : ::testing::Test {
    QTemporaryDir dir;
    QString field;
    RecordingOperator op;
    void SetUp() override {
        SetOperator(&op);
        StopFlags::SetExceptionFileSource([this] { return field; });
    }
    void TearDown() override {
        SetOperator(nullptr);
        StopFlags::SetExceptionFileSource(nullptr);
        StopFlags::StartInConfigMode = false;
    }
};
}  // namespace

TEST(ExecTask, RunsWaitsAndReportsExitCode) {
    EXPECT_EQ(RunAndWait("true", ""), 0);
    EXPECT_EQ(RunAndWait("false", ""), 1);
    // The argument text is one single argument, as it stands: `test STRING` is true for a
    // non-empty string; blanks only mean no argument at all, and `test` alone is false.
    EXPECT_EQ(RunAndWait("test", "a b \"c\""), 0);
    EXPECT_EQ(RunAndWait("test", "   "), 1);
    EXPECT_EQ(RunAndWait("/no/such/program", "x"), std::nullopt);
    EXPECT_EQ(StartProcess("", "x"), 0);

    long handle = 0;
    EXPECT_FALSE(IsProcessRunning(handle));
    handle = StartProcess("sleep", "0.2");
    ASSERT_NE(handle, 0);
    EXPECT_TRUE(IsProcessRunning(handle));
    while (IsProcessRunning(handle))
        QThread::msleep(10);
    EXPECT_EQ(handle, 0) << "the handle is cleared once the process has ended";
}

// The time-out ends the child and what it started: a script whose own child sleeps.
TEST(ExecTask, TimeOutKillsTheChildAndItsChildren) {
    QTemporaryDir dir;
    const QString pidFile = dir.filePath("child.pid");
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(RunAndWait(script(dir, "sleep 30 &\necho $! > \"$1\"\nwait\n"), pidFile, 500ms),
              std::nullopt);
    EXPECT_LT(t.elapsed(), 10000);
    const pid_t child = readAll(pidFile).trimmed().toInt();
    ASSERT_GT(child, 0);
    QElapsedTimer reaped;
    reaped.start();
    while (testsupport::StillRunning(child) && reaped.elapsed() < 3000)
        QThread::msleep(20);
    EXPECT_FALSE(testsupport::StillRunning(child))
        << "the script's own child outlived the time-out";
    ::kill(child, SIGKILL);
}

TEST(ExecTask, MakeDirectoryCreatesParentsAndIgnoresErrors) {
    QTemporaryDir dir;
    const QString deep = dir.filePath("a b/c/d");
    MakeDirectory(deep);
    MakeDirectory(deep);  // already there: nothing happens
    EXPECT_TRUE(QDir(deep).exists());
    ASSERT_TRUE(writeAll(dir.filePath("file"), "x"));
    MakeDirectory(dir.filePath("file/sub"));  // cannot be made; no report
    EXPECT_EQ(readAll(dir.filePath("file")), "x") << "the file in the way stays a file";
    const QStringList before = QDir::current().entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    MakeDirectory("");
    MakeDirectory("   ");
    EXPECT_EQ(QDir::current().entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              (QStringList{"a b", "file"}));
}

TEST(ExecTask, TerminationSignalEndsTheWaitAndTheChild) {
    QTemporaryDir dir;
    // The child ignores SIGTERM, so it has to be killed after its grace time.
    const QString stubborn =
        script(dir, "trap '' TERM\ni=0\nwhile [ $i -lt 300 ]; do sleep 0.1; i=$((i+1)); done\n");
    StopFlags::TerminationSignalled = false;
    QTimer::singleShot(300, [] { StopFlags::TerminationSignalled = true; });
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(RunAndWait(stubborn, ""), std::nullopt);
    EXPECT_LT(t.elapsed(), 5000) << "the wait ended with the signal, not with the child";
    StopFlags::TerminationSignalled = false;
}

TEST_F(LogFixture, LinesGoToTheExceptionFileField) {
    field = dir.filePath("exceptions.log");
    LogInfo("Loading DTS Package : Sales_Overall");
    field = dir.filePath("other.log");  // the field is read for every line
    LogMessage("Error: DTS package loading error\r\nPackage not found", true, 16, "DTS load error");
    EXPECT_EQ(readAll(dir.filePath("exceptions.log")), "Loading DTS Package : Sales_Overall\r\n");
    EXPECT_EQ(readAll(dir.filePath("other.log")),
              "Error: DTS package loading error\r\nPackage not found\r\n");
    EXPECT_EQ(op.status, "Error: DTS package loading error\r\nPackage not found");
    EXPECT_TRUE(op.boxes.isEmpty()) << "no message box outside interactive mode";
    EXPECT_EQ(op.events, 4) << "events before and after every line";
}

TEST_F(LogFixture, MessageBoxOnlyInInteractiveModeAndEmptyFieldWritesNoFile) {
    StopFlags::StartInConfigMode = true;
    LogMessage("Cannot connect", true, 16, "Pendrill");
    LogMessage("quiet", false, 16, "Pendrill");
    EXPECT_EQ(op.boxes, QStringList{"16|Pendrill|Cannot connect"});
    EXPECT_EQ(op.status, "quiet");
    EXPECT_TRUE(QDir(dir.path()).isEmpty());
}
