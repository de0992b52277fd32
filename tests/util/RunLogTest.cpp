#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "support/RecordingOperator.h"
#include "support/TestSupport.h"
#include "util/OperatorInterface.h"
#include "util/RunLog.h"
#include "util/RunTargets.h"

using testsupport::readAll;
using testsupport::writeAll;

namespace {
struct LogFixture : ::testing::Test {
    QTemporaryDir dir;
    QString field;
    RecordingOperator op;
    void SetUp() override {
        SetOperator(&op);
        RunTargets::Current().runLogFile = ([this] { return field; });
    }
    void TearDown() override {
        SetOperator(nullptr);
        RunTargets::Current().runLogFile = (nullptr);
        RunTargets::Current().interactive = false;
    }
};
}  // namespace

TEST(RunLog, MakeDirectoryCreatesParentsAndIgnoresErrors) {
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
    RunTargets::Current().interactive = true;
    LogMessage("Cannot connect", true, 16, "Pendrill");
    LogMessage("quiet", false, 16, "Pendrill");
    EXPECT_EQ(op.boxes, QStringList{"16|Pendrill|Cannot connect"});
    EXPECT_EQ(op.status, "quiet");
    EXPECT_TRUE(QDir(dir.path()).isEmpty());
}
