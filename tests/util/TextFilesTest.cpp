#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QFile>
#include <QTemporaryDir>

#include "support/TestSupport.h"
#include "util/KelmStatusFile.h"
#include "util/TextFiles.h"

using testsupport::readAll;

namespace {
int modeOf(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return static_cast<int>(st.st_mode & 0777);
}
}  // namespace

TEST(TextFiles, AppendWritesEveryLineWithCrLf) {
    QTemporaryDir dir;
    const QString log = dir.filePath("run log.txt");
    ASSERT_TRUE(AppendLines(log, "first"));
    ASSERT_TRUE(AppendLines(log, "Error: DTS package loading error\r\nsecond\nthird\rfourth"));
    ASSERT_TRUE(AppendLines(log, ""));
    ASSERT_TRUE(AppendLines(log, "Überprüfung"));
    EXPECT_EQ(readAll(log),
              "first\r\nError: DTS package loading error\r\nsecond\r\nthird\r\nfourth\r\n\r\n"
              "\xC3\x9C"
              "berpr\xC3\xBC"
              "fung\r\n");
    EXPECT_FALSE(AppendLines(dir.filePath("no/such/dir/log"), "x"));
    EXPECT_FALSE(AppendLines("", "x"));
}

TEST(TextFiles, AtomicWriteReplacesAndKeepsMode) {
    QTemporaryDir dir;
    const QString path = dir.filePath("secret.etl");
    ASSERT_TRUE(WriteFileAtomically(path, "one", 0600));
    EXPECT_EQ(modeOf(path), 0600);
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
    ASSERT_TRUE(WriteFileAtomically(path, "two", 0600));
    EXPECT_EQ(readAll(path), "two");
    EXPECT_EQ(modeOf(path), 0640) << "an existing file keeps its mode";
    EXPECT_FALSE(WriteFileAtomically(dir.filePath("missing/x"), "y"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"secret.etl"})
        << "no temporary file is left behind";
}

TEST(TextFiles, CopyReplacesTargetOrLeavesItAlone) {
    QTemporaryDir dir;
    const QString from = dir.filePath("a.log"), to = dir.filePath("b.log");
    ASSERT_TRUE(testsupport::writeAll(from, QByteArray(200000, 'x')));
    ASSERT_TRUE(testsupport::writeAll(to, "old"));
    EXPECT_TRUE(CopyFileReplacing(from, to));
    EXPECT_EQ(readAll(to), QByteArray(200000, 'x'));
    EXPECT_FALSE(CopyFileReplacing(dir.filePath("missing"), to));
    EXPECT_EQ(readAll(to).size(), 200000);
    EXPECT_FALSE(CopyFileReplacing(from, ""));
    EXPECT_EQ(RemoveLineBreaks("No repository found !\r\nUse it. \r\n"),
              "No repository found !Use it. ");
    EXPECT_EQ(RemoveLineBreaks("a\nb\r"), "a\nb\r") << "only CR LF pairs go";
}

TEST(StatusFile, HoldsOneWordAndFailsQuietly) {
    QTemporaryDir dir;
    SetStatusFile("");
    EXPECT_FALSE(StatusRunning()) << "no status file named";
    EXPECT_TRUE(QDir(dir.path()).isEmpty());

    const QString path = dir.filePath("job status");
    SetStatusFile(path);
    EXPECT_EQ(StatusFilePath(), path);
    EXPECT_TRUE(StatusRunning());
    EXPECT_EQ(readAll(path), "running\r\n");
    EXPECT_TRUE(StatusOk());
    EXPECT_TRUE(StatusFailure());
    EXPECT_EQ(readAll(path), "failure\r\n") << "only the last word stays";

    SetStatusFile(dir.filePath("no such dir/status"));
    EXPECT_FALSE(StatusFailure());
    SetStatusFile("");
}
