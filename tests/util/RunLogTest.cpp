#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cerrno>

#include "support/RecordingOperator.h"
#include "support/TestSupport.h"
#include "util/OperatorInterface.h"
#include "util/RunLog.h"

using testsupport::readAll;

namespace {
struct LogFixture : ::testing::Test {
    QTemporaryDir dir;
    QString field;
    RecordingOperator op;
    RunLog log{.file = [this] { return field; }, .statusText = {}};
    void SetUp() override { SetOperator(&op); }
    void TearDown() override { SetOperator(nullptr); }
};
}  // namespace

TEST_F(LogFixture, LinesGoToTheFileItNames) {
    field = dir.filePath("exceptions.log");
    log.Info("Loading DTS Package : Sales_Overall");
    field = dir.filePath("other.log");  // the field is read for every line
    log.Message("Error: DTS package loading error\r\nPackage not found", true, 16,
                "DTS load error");
    EXPECT_EQ(readAll(dir.filePath("exceptions.log")), "Loading DTS Package : Sales_Overall\r\n");
    EXPECT_EQ(readAll(dir.filePath("other.log")),
              "Error: DTS package loading error\r\nPackage not found\r\n");
    EXPECT_EQ(op.status, "Error: DTS package loading error\r\nPackage not found");
    EXPECT_TRUE(op.boxes.isEmpty()) << "no message box outside interactive mode";
    EXPECT_EQ(op.events, 4) << "events before and after every line";
}

TEST_F(LogFixture, MessageBoxOnlyInInteractiveModeAndEmptyFieldWritesNoFile) {
    log.interactive = true;
    log.Message("Cannot connect", true, 16, "Pendrill");
    log.Message("quiet", false, 16, "Pendrill");
    EXPECT_EQ(op.boxes, QStringList{"16|Pendrill|Cannot connect"});
    EXPECT_EQ(op.status, "quiet");
    EXPECT_TRUE(QDir(dir.path()).isEmpty());
}

TEST_F(LogFixture, UnwritableFileIsSaidOnStandardErrorOnceEach) {
    const QString missing = dir.filePath("missing/run.log");
    const QString link = dir.filePath("link.log");
    ASSERT_TRUE(QFile::link(dir.filePath("target.log"), link));
    testing::internal::CaptureStderr();
    field = missing;
    log.Info("first");
    log.Info("second");
    field = link;  // never written through
    log.Info("third");
    const QString said = QString::fromStdString(testing::internal::GetCapturedStderr());
    const QString program = QString::fromLocal8Bit(program_invocation_short_name);
    EXPECT_EQ(said, program + ": cannot write the run log " + missing +
                        ": No such file or directory\n" + program + ": cannot write the run log " +
                        link + ": it is a symbolic link\n");
    EXPECT_EQ(op.status, "third") << "the line still reaches the status bar";
    EXPECT_FALSE(QFile::exists(dir.filePath("target.log")));
}
