#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <chrono>
#include <thread>

#include "support/TestSupport.h"
#include "util/RunTargets.h"
#include "util/StatusFile.h"
#include "util/TextFiles.h"

using testsupport::chmodOf;
using testsupport::modeOf;
using testsupport::readAll;
using testsupport::statOf;
using testsupport::writeAll;

TEST(TextFiles, AppendWritesEveryLineWithCrLf) {
    QTemporaryDir dir;
    const QString log = dir.filePath("run log.txt");
    for (const char* text :
         {"first", "Error: DTS package loading error\r\nsecond\nthird\rfourth", "", "Überprüfung"})
        ASSERT_TRUE(AppendLines(log, text));
    EXPECT_EQ(readAll(log),
              "first\r\nError: DTS package loading error\r\nsecond\r\nthird\r\nfourth\r\n\r\n"
              "Überprüfung\r\n");
    EXPECT_FALSE(AppendLines(dir.filePath("no/such/dir/log"), "x"));
    EXPECT_FALSE(AppendLines("", "x"));
}

TEST(TextFiles, SiteTextIsUtf8ElseLatin1) {
    const struct {
        QByteArray bytes;
        QString text;
    } cases[] = {
        {"ready caf\xc3\xa9", QStringLiteral("ready caf\u00e9")},  // valid UTF-8
        {"ready caf\xe9", QStringLiteral("ready caf\u00e9")},      // Latin-1
        {"ready \xc3", QStringLiteral("ready \u00c3")},            // cut UTF-8: Latin-1 whole
        {"", QString()},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecodeUtf8OrLatin1(c.bytes), c.text) << c.bytes.toHex().constData();
}

TEST(TextFiles, AtomicWriteReplacesAndKeepsMode) {
    QTemporaryDir dir;
    const QString path = dir.filePath("secret.etl");
    ASSERT_TRUE(WriteFileAtomically(path, "one", 0600));
    EXPECT_EQ(modeOf(path), 0600u);
    ASSERT_TRUE(chmodOf(path, 0640));
    ASSERT_TRUE(WriteFileAtomically(path, "two", 0600));
    EXPECT_EQ(readAll(path), "two");
    EXPECT_EQ(modeOf(path), 0640u) << "an existing file keeps its mode";
    QString why;
    EXPECT_FALSE(WriteFileAtomically(dir.filePath("missing/x"), "y", -1, &why));
    EXPECT_FALSE(why.isEmpty()) << "the caller learns why";
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"secret.etl"})
        << "no temporary file is left behind";

    // A link in a file's place is refused by every writer; the file it points to is untouched.
    const QString link = dir.filePath("link.etl");
    ASSERT_TRUE(QFile::link(path, link));
    EXPECT_FALSE(WriteFileAtomically(link, "three", -1, &why));
    EXPECT_TRUE(why.contains("symbolic link")) << why.toStdString();
    EXPECT_FALSE(CopyFileReplacing(path, link));
    EXPECT_FALSE(AppendLines(link, "line"));
    EXPECT_EQ(readAll(path), "two");
    EXPECT_TRUE(QFileInfo(link).isSymLink());
}

// A replacement stands under ".NAME.pendrill-new" only for its rename. One left there by a kill
// is cleared by the next write; one a live writer holds is waited for; anything else with that
// name (a link) is neither followed nor removed.
TEST(TextFiles, ReplacementNameLeftByAKill) {
    QTemporaryDir dir;
    const QString path = dir.filePath("a.etl"), pending = dir.filePath(".a.etl.pendrill-new");
    const auto names = [&] {
        return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    };
    ASSERT_TRUE(writeAll(path, "old") && writeAll(pending, "half"));
    ASSERT_TRUE(WriteFileAtomically(path, "new"));
    EXPECT_EQ(readAll(path), "new");
    EXPECT_EQ(names(), QStringList{"a.etl"});

    // Another writer holds its file under the name: it is renamed into place first, then ours.
    ASSERT_TRUE(writeAll(pending, "theirs"));
    const int held = ::open(QFile::encodeName(pending).constData(), O_RDONLY);
    ASSERT_TRUE(held >= 0 && ::flock(held, LOCK_EX) == 0);
    int renamed = -1;
    std::thread other([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        renamed =
            ::rename(QFile::encodeName(pending).constData(), QFile::encodeName(path).constData());
        ::close(held);
    });
    EXPECT_TRUE(WriteFileAtomically(path, "ours"));
    other.join();
    EXPECT_EQ(renamed, 0) << "the other writer's file was left to it";
    EXPECT_EQ(readAll(path), "ours");
    EXPECT_EQ(names(), QStringList{"a.etl"});

    const QString victim = dir.filePath("victim");
    ASSERT_TRUE(writeAll(victim, "keep") && QFile::link(victim, pending));
    EXPECT_TRUE(WriteFileAtomically(path, "in place")) << "written where it stands";
    EXPECT_EQ(readAll(path), "in place");
    EXPECT_EQ(readAll(victim), "keep");
    EXPECT_TRUE(QFileInfo(pending).isSymLink());

    // The same when the file does not exist yet: it is created where it stands.
    const QString fresh = dir.filePath("b.etl");
    ASSERT_TRUE(QFile::link(victim, dir.filePath(".b.etl.pendrill-new")));
    EXPECT_TRUE(WriteFileAtomically(fresh, "created"));
    EXPECT_EQ(readAll(fresh), "created");
    EXPECT_EQ(readAll(victim), "keep");
}

// A pipe or a device under a file's name (-statusfile /dev/null) is written as it stands, never
// replaced by a file nor waited for: a pipe without a reader is an error at once.
TEST(TextFiles, PipesAndDevicesAreNotReplaced) {
    QTemporaryDir dir;
    const QString pipe = dir.filePath("pipe");
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    QString why;
    EXPECT_FALSE(WriteFileAtomically(pipe, "ok\r\n", -1, &why));
    EXPECT_FALSE(AppendLines(pipe, "line"));
    EXPECT_FALSE(CopyFileReplacing(pipe, pipe));
    EXPECT_TRUE(QFileInfo(pipe).exists() && !QFileInfo(pipe).isFile()) << "still the pipe";

    const int reader = ::open(QFile::encodeName(pipe).constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_TRUE(WriteFileAtomically(pipe, "ok\r\n", -1, &why)) << why.toStdString();
    EXPECT_TRUE(AppendLines(pipe, "line"));
    char got[64] = {};
    EXPECT_EQ(::read(reader, got, sizeof got), 10);
    EXPECT_STREQ(got, "ok\r\nline\r\n");
    ::close(reader);

    EXPECT_TRUE(WriteFileAtomically("/dev/null", "ok\r\n", -1, &why)) << why.toStdString();
    struct stat st {};
    ASSERT_EQ(::stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

TEST(TextFiles, CopyReplacesTargetOrLeavesItAlone) {
    QTemporaryDir dir;
    const QString from = dir.filePath("a.log"), to = dir.filePath("b.log");
    ASSERT_TRUE(writeAll(from, QByteArray(200000, 'x')) && writeAll(to, "old"));
    EXPECT_TRUE(CopyFileReplacing(from, to));
    EXPECT_EQ(readAll(to), QByteArray(200000, 'x'));
    QString why;
    EXPECT_FALSE(CopyFileReplacing(dir.filePath("missing"), to, &why));
    EXPECT_TRUE(why.contains("missing")) << why.toStdString();
    EXPECT_EQ(readAll(to).size(), 200000);
    EXPECT_FALSE(CopyFileReplacing(from, ""));
    EXPECT_EQ(RemoveLineBreaks("No repository found !\r\nUse it. \r\n"),
              "No repository found !Use it. ");
    EXPECT_EQ(RemoveLineBreaks("a\nb\r"), "a\nb\r") << "only CR LF pairs go";
}

TEST(StatusFile, HoldsOneWordAndFailsQuietly) {
    QTemporaryDir dir;
    RunTargets::Current().statusFile = ("");
    EXPECT_FALSE(StatusRunning()) << "no status file named";
    EXPECT_TRUE(QDir(dir.path()).isEmpty());

    const QString path = dir.filePath("job status");
    RunTargets::Current().statusFile = (path);
    EXPECT_EQ(StatusFilePath(), path);
    EXPECT_TRUE(StatusRunning());
    EXPECT_EQ(readAll(path), "running\r\n");
    EXPECT_TRUE(StatusOk() && StatusFailure());
    EXPECT_EQ(readAll(path), "failure\r\n") << "only the last word stays";

    // A status file that cannot be written is reported, not passed over in silence.
    QStringList problems;
    RunTargets::Current().problem = ([&](const QString& text) { problems << text; });
    for (const QString& bad : {dir.filePath("no such dir/status"), dir.path()}) {
        RunTargets::Current().statusFile = (bad);
        EXPECT_FALSE(StatusFailure());
        ASSERT_FALSE(problems.isEmpty());
        EXPECT_TRUE(problems.takeLast().startsWith("cannot write the status file " + bad + ": "));
    }
    RunTargets::Current().problem = (nullptr);
    RunTargets::Current().statusFile = ("");
}

// A directory the run may not add files to, holding files it may write: they are written in
// place, so that no file keeps a stale word or an old run's log.
TEST(TextFiles, DirectoryThatRefusesNewFilesGetsTheFileWrittenInPlace) {
    QTemporaryDir top;
    ASSERT_TRUE(chmodOf(top.path(), 0755));
    // The unprivileged side runs as "nobody" when the tests run as root (root writes everywhere).
    const uid_t me = ::geteuid() == 0 ? 65534 : ::geteuid();
    const gid_t myGroup = ::geteuid() == 0 ? 65534 : ::getegid();
    const QString source = top.filePath("src");
    ASSERT_TRUE(writeAll(source, QByteArray(100000, 'n')));
    const struct {
        const char* name;
        int dirMode;
        bool fileIsTheRunners;  // owned by the unprivileged account (else by the test)
        int fileMode;
        bool written;
    } cases[] = {
        {"closed dir", 0755, true, 0644, true},
        // Another owner's file in a sticky directory may be written but not replaced.
        {"sticky dir", 01777, false, 0666, true},
        {"file not writable", 0755, false, 0444, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString dir = top.filePath(c.name);
        ASSERT_TRUE(QDir().mkpath(dir));
        const QString status = dir + "/status", log = dir + "/run.log";
        ASSERT_TRUE(writeAll(status, "ok\r\n") && writeAll(log, "an older run's log\r\n"));
        for (const QString& f : {status, log}) {
            ASSERT_TRUE(!c.fileIsTheRunners ||
                        ::chown(QFile::encodeName(f).constData(), me, myGroup) == 0);
            ASSERT_TRUE(chmodOf(f, c.fileMode));
        }
        ASSERT_TRUE(chmodOf(dir, c.dirMode));

        const int result = testsupport::forkUnprivileged([&] {
            RunTargets::Current().statusFile = (status);
            QString why;
            const bool wrote = StatusFailure();
            const bool copied = CopyFileReplacing(source, log, &why);
            return (wrote ? 1 : 0) | (copied ? 2 : 0) | (why.isEmpty() ? 0 : 4);
        });
        ASSERT_NE(result, 100) << "could not drop privileges";
        if (c.written) {
            EXPECT_EQ(result, 3);
            EXPECT_EQ(readAll(status), "failure\r\n");
            EXPECT_EQ(readAll(log), QByteArray(100000, 'n'));
            EXPECT_EQ(statOf(status).st_uid, c.fileIsTheRunners ? me : ::geteuid())
                << "written in place, not replaced";
        } else {
            EXPECT_EQ(result, 4) << "neither written, and the copy says why";
            EXPECT_EQ(readAll(status), "ok\r\n");
        }
        EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden).size(), 2)
            << "no temporary file is left behind";
        chmodOf(dir, 0755);
    }
}
