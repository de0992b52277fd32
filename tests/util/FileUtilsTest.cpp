#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QUtf8StringView>

#include "support/TestSupport.h"
#include "util/FileUtils.h"
#include "util/JournalStream.h"

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
}

TEST(FileUtils, ExistenceTests) {
    QTemporaryDir dir;
    ASSERT_TRUE(testsupport::writeAll(dir.filePath("data file.csv"), "a,b\r\n") &&
                testsupport::writeAll(dir.filePath("empty.txt"), "") &&
                QDir(dir.path()).mkdir("sub"));
    EXPECT_FALSE(FileExists(""));
    const struct {
        const char* name;
        bool file, fileOrFolder, path;
    } cases[] = {
        {"data file.csv", true, true, true}, {"empty.txt", true, true, true},
        {"missing", false, false, false},    {"sub", false, true, true},
        {"sub/", false, true, true},         {"sub\\", false, false, true},
        {"missing/", false, false, false},   {"data file.csv/", false, false, false},
        {"*.csv", false, false, true},       {"data?file.*", false, false, true},
        {"*.xml", false, false, false},      {"missing/*.csv", false, false, false},
    };
    for (const auto& c : cases) {
        const QString path = dir.filePath(c.name);
        EXPECT_EQ(FileExists(path), c.file) << c.name;
        EXPECT_EQ(FileOrFolderExists(path), c.fileOrFolder) << c.name;
        EXPECT_EQ(PathExists(path), c.path) << c.name;
    }
}

TEST(FileUtils, MakeDirectoryCreatesParentsAndIgnoresErrors) {
    QTemporaryDir dir;
    const QString deep = dir.filePath("a b/c/d");
    MakeDirectory(deep);
    MakeDirectory(deep);  // already there: nothing happens
    EXPECT_TRUE(QDir(deep).exists());
    ASSERT_TRUE(testsupport::writeAll(dir.filePath("file"), "x"));
    MakeDirectory(dir.filePath("file/sub"));  // cannot be made; no report
    EXPECT_EQ(testsupport::readAll(dir.filePath("file")), "x")
        << "the file in the way stays a file";
    const QStringList before = QDir::current().entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    MakeDirectory("");
    MakeDirectory("   ");
    EXPECT_EQ(QDir::current().entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              (QStringList{"a b", "file"}));
}

// Standard error is the journal only when JOURNAL_STREAM names descriptor 2's device and inode.
TEST(JournalStream, MatchesStandardErrorOnly) {
    struct stat err {};
    ASSERT_EQ(fstat(2, &err), 0);
    const QByteArray own = QByteArray::number(qulonglong(err.st_dev)) + ':' +
                           QByteArray::number(qulonglong(err.st_ino));
    const QByteArray saved = qgetenv("JOURNAL_STREAM");
    const struct {
        QByteArray value;
        bool journal;
    } cases[] = {{own, true}, {"", false}, {own + "1", false}, {"x:y", false}, {own + ":0", false}};
    for (const auto& c : cases) {
        qputenv("JOURNAL_STREAM", c.value);
        EXPECT_EQ(StandardErrorIsJournal(), c.journal) << c.value.constData();
    }
    saved.isNull() ? qunsetenv("JOURNAL_STREAM") : qputenv("JOURNAL_STREAM", saved);
}

TEST(FileUtils, NamesOfAnyBytesKeepThemThroughText) {
    // Valid UTF-8 reads as its characters; every other byte comes back as it was.
    EXPECT_EQ(NameFromBytes("Bestellübersicht.csv"), QString("Bestellübersicht.csv"));
    EXPECT_EQ(NameFromBytes("\xf0\x9f\x98\x80"), QString::fromUtf8("\xf0\x9f\x98\x80"));
    const QByteArray latin1 =
        "Bestell\xfc"
        "bersicht.csv";
    EXPECT_EQ(NameFromBytes(latin1).size(), latin1.size());
    EXPECT_EQ(NameBytes(NameFromBytes(latin1)), latin1);
    // Overlong forms, encoded surrogates, code points past U+10FFFF and cut sequences are bytes.
    for (const QByteArray& bytes :
         {QByteArray("\xc0\xaf"), QByteArray("\xe0\x80\xaf"), QByteArray("\xed\xa0\x80"),
          QByteArray("\xf4\x90\x80\x80"), QByteArray("a\xe2\x82"), QByteArray("\x80\xbf\xff")}) {
        const QString name = NameFromBytes(bytes);
        EXPECT_FALSE(name.contains(QChar::ReplacementCharacter));
        EXPECT_EQ(NameBytes(name), bytes) << bytes.toHex().toStdString();
    }
    QRandomGenerator random(7);
    for (int round = 0; round < 2000; ++round) {
        QByteArray bytes(random.bounded(12), '\0');
        for (char& c : bytes)  // mostly high bytes, so that sequences valid and not both occur
            c = char(random.bounded(2) ? 0x80 + random.bounded(0x80) : random.bounded(0x100));
        ASSERT_EQ(NameBytes(NameFromBytes(bytes)), bytes) << bytes.toHex().toStdString();
        if (QUtf8StringView(bytes).isValidUtf8()) {
            ASSERT_EQ(NameFromBytes(bytes), QString::fromUtf8(bytes));
        }
    }

    EXPECT_EQ(ToFsPath(NameFromBytes("/srv/in/" + latin1)).native(),
              ("/srv/in/" + latin1).toStdString());
}
