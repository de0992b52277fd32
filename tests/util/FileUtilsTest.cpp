#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "support/TestSupport.h"
#include "util/FileUtils.h"

TEST(FileUtils, AddSeparatorAppendsOnlyWhenMissing) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {{"/data/in", "/data/in/"},
                 {"/data/in/", "/data/in/"},
                 {"C:\\data\\", "C:\\data\\"},
                 {"", "/"},
                 {"rel dir", "rel dir/"}};
    for (const auto& c : cases) {
        QString p = c.in;
        EXPECT_EQ(AddBackslash(p), c.out) << c.in;
        EXPECT_EQ(p, c.out) << "the variable itself changes";
        QString s = c.in;
        EXPECT_EQ(AddSlash(s), c.out) << c.in;
    }
}

TEST(FileUtils, SplitsPathsAtEitherSeparator) {
    EXPECT_EQ(FileNameOfPath("/var/log/ run.log "), "run.log");
    EXPECT_EQ(FileNameOfPath("C:\\logs\\run.log"), "run.log");
    EXPECT_EQ(FileNameOfPath("  plain name  "), "plain name");
    EXPECT_EQ(FileNameOfPath("/var/log/"), "");
    EXPECT_EQ(DirectoryOfPath("/var/log/run.log"), "/var/log/");
    EXPECT_EQ(DirectoryOfPath("C:\\logs\\run.log"), "C:\\logs\\");
    EXPECT_EQ(DirectoryOfPath("plain name"), "");
    EXPECT_EQ(DriveOfPath("D:\\x"), "D");
    EXPECT_EQ(DriveOfPath("\\\\server\\share"), QDir::currentPath().left(1));
}

TEST(FileUtils, ExistenceTests) {
    QTemporaryDir dir;
    const QString file = dir.filePath("data file.csv");
    ASSERT_TRUE(testsupport::writeAll(file, "a,b\r\n"));
    const QString empty = dir.filePath("empty.txt");
    ASSERT_TRUE(testsupport::writeAll(empty, ""));
    QDir(dir.path()).mkdir("sub");

    EXPECT_TRUE(FileExists(file));
    EXPECT_TRUE(FileExists(empty)) << "an empty file still has a length";
    EXPECT_FALSE(FileExists(dir.filePath("missing")));
    EXPECT_FALSE(FileExists(""));
    EXPECT_FALSE(FileExists(dir.filePath("sub")));

    EXPECT_TRUE(FileOrFolderExists(file));
    EXPECT_TRUE(FileOrFolderExists(dir.filePath("sub")));
    EXPECT_FALSE(FileOrFolderExists(dir.filePath("nope")));

    EXPECT_TRUE(PathExists(file));
    EXPECT_TRUE(PathExists(dir.filePath("sub")));
    EXPECT_TRUE(PathExists(dir.filePath("sub") + "/"));
    EXPECT_TRUE(PathExists(dir.filePath("sub") + "\\"));
    EXPECT_FALSE(PathExists(dir.filePath("missing") + "/"));
    EXPECT_FALSE(PathExists(file + "/"));
    EXPECT_TRUE(PathExists(dir.filePath("*.csv")));
    EXPECT_TRUE(PathExists(dir.filePath("data?file.*")));
    EXPECT_FALSE(PathExists(dir.filePath("*.xml")));
    EXPECT_FALSE(PathExists(dir.filePath("missing/*.csv")));
}
