#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <atomic>

#include "history/JobRecord.h"
#include "remote/LocalFileCopy.h"
#include "remote/RemoteTestSupport.h"
#include "remote/ShareTransfer.h"
#include "support/TestSupport.h"
#include "util/StopFlags.h"

using remotetest::InstalledOperator;
using remotetest::JobRecords;
using remotetest::OpenDirectory;
using testsupport::readAll;
using testsupport::writeAll;

namespace {

class Share : public remotetest::RemoteTest {
  protected:
    void SetUp() override {
        RemoteTest::SetUp();
        QDir().mkpath(site);
    }
    // Directories under "open/" of the home that any account may use (for tests as "nobody").
    QString openDirectory(const QString& name) {
        ::chmod(QFile::encodeName(home.path()).constData(), 0755);
        OpenDirectory(home.file("open"));
        return OpenDirectory(home.file("open/" + name));
    }
    QString site = home.file("site/"), local = home.file("local");
};

TEST_F(Share, ReadStatus) {
    const QString dir = home.file("site");
    const struct {
        const char* name;
        QString remote;                    // the directory text given ("/" is appended)
        std::optional<QByteArray> status;  // at dir/status; nullopt: none
        short code;
        QString failure;
    } cases[] = {
        {"missing status file", dir, std::nullopt, 1, ""},
        {"ready", dir, "ready\r\n", 2, ""},
        {"a final slash is kept", dir + "/", "running\r\nready\r\n", 1, ""},
        {"only the first line counts", dir, "\r\nready", 1, ""},
        {"LF line ends", dir, "stop\nready\n", 0, ""},
        {"a long first line", dir, "ready" + QByteArray(5000, ' '), 2, ""},
        {"Latin-1 text", dir, "ready caf\xe9", 2, ""},
        {"missing directory", dir + "/gone", std::nullopt, 0, "Path not found: " + dir + "/gone/"},
        {"status is a directory", dir + "/sub", std::nullopt, 0, "Is a directory"},
        {"status is a pipe: not waited on", dir + "/fifo", std::nullopt, 0,
         "Not a regular file: " + dir + "/fifo/status"},
    };
    QDir().mkpath(dir + "/sub/status");
    QDir().mkpath(dir + "/fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir + "/fifo/status").constData(), 0600), 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(logPath);
        QFile::remove(dir + "/status");
        if (c.status)
            writeAll(dir + "/status", *c.status);
        QString remote = c.remote, failure;
        EXPECT_EQ(ShareReadStatus(remote, notes, &failure), c.code);
        EXPECT_EQ(remote, c.remote.endsWith('/') ? c.remote : c.remote + "/");
        EXPECT_EQ(failure, c.failure);
        EXPECT_EQ(log().isEmpty(), c.status || c.code != 1) << "only the wait is noted";
    }
}

TEST_F(Share, ReadStatusWithoutReadRights) {
    const QString dir = openDirectory("site");
    writeAll(dir + "/status", "ready\r\n");
    ::chmod(QFile::encodeName(dir + "/status").constData(), 0600);
    const int rc = testsupport::forkUnprivileged([&] {
        QString remote = dir, failure;
        const short code = ShareReadStatus(remote, notes, &failure);
        return code == 0 && failure == "Permission denied" ? 0 : 10 + code;
    });
    EXPECT_EQ(rc, 0);
}

TEST_F(Share, WriteStatus) {
    const QString dir = home.file("site");
    writeAll(dir + "/status", "ready with a long old line\r\n");

    QString remote = dir;
    EXPECT_TRUE(ShareWriteStatus(remote, "idle"));
    EXPECT_EQ(readAll(dir + "/status"), "idle\r\n\r\n");
    EXPECT_EQ(fileNames(dir), QStringList{"status"}) << "no temporary file left";

    QString missing = dir + "/gone", why;
    EXPECT_FALSE(ShareWriteStatus(missing, "ready", &why));
    EXPECT_EQ(missing, dir + "/gone/") << "the separator is appended";
    EXPECT_EQ(why, "Status file not found");
}

TEST_F(Share, WriteStatusInADirectoryThatTakesNoNewFiles) {
    // The site lets the account rewrite its status file but not create files beside it.
    const QString dir = openDirectory("site");
    writeAll(dir + "/status", "ready\r\n");
    ::chmod(QFile::encodeName(dir + "/status").constData(), 0666);
    ::chmod(QFile::encodeName(dir).constData(), 0555);
    const int rc = testsupport::forkUnprivileged([&] {
        QString remote = dir;
        return ShareWriteStatus(remote, "idle") ? 0 : 1;
    });
    ::chmod(QFile::encodeName(dir).constData(), 0777);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(readAll(dir + "/status"), "idle\r\n\r\n");
}

TEST_F(Share, CopyRemoteData) {
    const QString remote = site, local = home.file("target/deeper");
    QDir().mkpath(remote + "sub");
    writeAll(remote + "a.txt", "alpha\r\n");
    writeAll(remote + "name with blanks.csv", QByteArray(70000, 'x'));
    writeAll(remote + "status", "idle\r\n\r\n");
    writeAll(remote + ".hidden", "not data");
    writeAll(remote + "sub/inner.txt", "not entered");
    QDir().mkpath(local);
    writeAll(local + "/a.txt", "an older and longer alpha\r\n");
    // Symbolic links are followed neither on the share nor under a temporary name.
    writeAll(home.file("secret"), "keep");
    QFile::link(home.file("secret"), remote + "link.csv");
    QFile::link(home.file("secret"), local + "/.a.txt.pendrill-part");

    // A file open to all on the share lands no more open than the local directory.
    ::chmod(QFile::encodeName(remote + "a.txt").constData(), 0666);
    ::chmod(QFile::encodeName(local).constData(), 0750);

    JobRecord record;
    record.setSourcePath(remote);
    EXPECT_TRUE(ShareCopyRemoteData(remote, local, record, notes));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(local + "/a.txt").constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(readAll(home.file("secret")), "keep");
    EXPECT_EQ(fileNames(local), (QStringList{"a.txt", "name with blanks.csv", "status"}));
    EXPECT_EQ(readAll(local + "/a.txt"), "alpha\r\n") << "replaced";
    EXPECT_EQ(readAll(local + "/name with blanks.csv").size(), 70000);
    remotetest::ExpectCopyRecords({{"a.txt", 7}, {"name with blanks.csv", 70000}, {"status", 8}},
                                  "bytes copied", "Pendrill Copy", remote);
}

TEST_F(Share, FileNamesThatAreNoUtf8KeepTheirBytes) {
    // A supplier's file named in Latin-1 ("Bestellübersicht" with the single byte FC).
    const QByteArray name =
        "Bestell\xfc"
        "bersicht.csv";
    const QByteArray remote = QFile::encodeName(site) + name;
    const int fd = ::open(remote.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "1;2\n", 4), 4);
    ::close(fd);
    JobRecord record;
    ASSERT_TRUE(ShareCopyRemoteData(site, local, record, notes)) << log().toStdString();
    struct stat st {};
    EXPECT_EQ(::stat((QFile::encodeName(local) + "/" + name).constData(), &st), 0);
    EXPECT_EQ(st.st_size, 4);
    EXPECT_EQ(JobRecords().size(), 1);
}

TEST_F(Share, RecordsFollowTheFilesInOrderUpToAFailure) {
    // Thirty files of different sizes; the local side has a directory where the 21st must go,
    // so that file cannot take its name. Every record is in the repository when the copy returns.
    const QString remote = site;
    for (int i = 0; i < 30; ++i)
        writeAll(remote + QString("f%1").arg(i, 2, 10, QChar('0')), QByteArray(i * 100 + 1, 'd'));
    QDir().mkpath(local + "/f20");

    JobRecord record;
    EXPECT_FALSE(ShareCopyRemoteData(remote, local, record, notes));
    const QList<QJsonObject> records = JobRecords();
    ASSERT_EQ(records.size(), 21);
    for (int i = 0; i < 21; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(records[i]["ObjectName"].toString(), QString("f%1").arg(i, 2, 10, QChar('0')));
        EXPECT_EQ(records[i]["Quantity"].toDouble(), i < 20 ? i * 100 + 1 : 0) << "what arrived";
        EXPECT_EQ(records[i]["Status"].toInt(), i < 20 ? 0 : 3);
        EXPECT_EQ(records[i]["Message"].toString(),
                  i < 20 ? QString() : "Couldn't copy file " + remote + "f20");
    }
    EXPECT_EQ(fileNames(local).size(), 20) << "nothing after the failure, no temporary file";
    EXPECT_EQ(log(), "Couldn't copy file " + remote + "f20\r\n");
}

TEST_F(Share, NothingToCopy) {
    InstalledOperator op;
    runLog.interactive = true;
    const struct {
        const char* name;
        QString remote;
        const char* logged;
    } cases[] = {
        {"empty directory", home.file("empty/"), ""},
        {"only subdirectories", home.file("subs/"), ""},
        {"missing directory", home.file("gone/"), "Dir doesn't exist : "},
    };
    QDir().mkpath(home.file("empty"));
    QDir().mkpath(home.file("subs/one"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(logPath);
        JobRecord record;
        EXPECT_FALSE(ShareCopyRemoteData(c.remote, local, record, notes));
        EXPECT_TRUE(QFileInfo(local).isDir()) << "the local directory is made";
        EXPECT_EQ(log(), QString(c.logged).isEmpty() ? "" : c.logged + c.remote + "\r\n");
    }
    EXPECT_EQ(op.boxes, QStringList{"0||Dir doesn't exist : " + home.file("gone/")});
    EXPECT_TRUE(JobRecords().isEmpty());
}

TEST_F(Share, UnreadableFileEndsTheCopy) {
    const QString remote = openDirectory("site") + "/";
    const QString local = openDirectory("local");
    const QString data = openDirectory("data");
    logPath = home.file("open/run.log");
    writeAll(remote + "a.txt", "first");
    writeAll(remote + "b.txt", "locked");
    writeAll(remote + "c.txt", "never reached");
    ::chmod(QFile::encodeName(remote + "a.txt").constData(), 0644);
    ::chmod(QFile::encodeName(remote + "b.txt").constData(), 0);
    ::chmod(QFile::encodeName(remote + "c.txt").constData(), 0644);
    const int rc = testsupport::forkUnprivileged([&] {
        qputenv("XDG_DATA_HOME", data.toLocal8Bit());
        JobRecord record;
        if (ShareCopyRemoteData(remote, local, record, notes))
            return 1;
        if (record.Status() != 3 || record.Message() != "Couldn't copy file " + remote + "b.txt" ||
            record.ObjectName() != "b.txt" || record.Quantity() != 0)
            return 2;
        return 0;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(fileNames(local), QStringList{"a.txt"}) << "no partial b.txt, nothing after it";
    EXPECT_EQ(log(), "Couldn't copy file " + remote + "b.txt\r\n");
}

// Cancel in the progress window, and SIGTERM or SIGINT: the copy begins no further file; the
// copied file keeps its record.
TEST_F(Share, CancelAndTerminationSignalEndTheCopy) {
    for (const char* name : {"a", "b", "c"})
        writeAll(site + name, name);
    for (const bool signalled : {false, true}) {
        SCOPED_TRACE(signalled);
        QDir(local).removeRecursively();
        QFile::remove(logPath);
        InstalledOperator op;
        op.cancelAfterLabels = signalled ? -1 : 1;
        StopFlags::TerminationSignalled = signalled;
        JobRecord record;
        QObject owner;
        const bool copied = ShareCopyRemoteData(site, local, record, notes, &owner);
        StopFlags::TerminationSignalled = false;
        EXPECT_FALSE(copied);
        EXPECT_EQ(fileNames(local), signalled ? QStringList() : QStringList{"a"});
        EXPECT_EQ(log(), "Copying aborted\r\n");
    }
    EXPECT_EQ(JobRecords().size(), 1);
}

}  // namespace

// Both ways a file lands (an unnamed file named when complete; a hidden temporary name renamed)
// replace a file of the same name with the complete copy and follow no symbolic link: neither a
// source that is one nor one planted at the temporary name. A source that is a pipe is refused
// without waiting for a writer; a stopped copy names nothing.
TEST(LocalFileCopy, BothWaysLandCompleteFilesAndFollowNoLink) {
    testsupport::IsolatedHome home;
    const QString from = home.file("from"), to = home.file("to");
    QDir().mkpath(from);
    QDir().mkpath(to);
    const int size = 3 << 20;
    writeAll(from + "/data.csv", QByteArray(size, 'd'));
    writeAll(home.file("secret"), "keep");
    QFile::link(home.file("secret"), from + "/link.csv");
    ASSERT_EQ(::mkfifo(QFile::encodeName(from + "/pipe.csv").constData(), 0644), 0);
    const UniqueFd dir(::open(QFile::encodeName(to).constData(), O_RDONLY | O_DIRECTORY));
    ASSERT_TRUE(UnnamedFilesWork(dir.get()));
    WriteBehind writeBehind;
    const std::atomic<bool> go{false}, stop{true};
    for (const bool unnamed : {true, false}) {
        writeAll(to + "/data.csv", "older");
        QFile::link(home.file("secret"), to + "/.data.csv.pendrill-part");
        auto copy = [&](const QString& name, QString* why) -> qint64 {
            qint64 copied = 0;
            UniqueFd out;
            const bool ok = unnamed ? CopyToUnnamed(from + "/" + name, dir.get(), out, copied,
                                                    writeBehind, go, why) &&
                                          NameCopy(out.get(), dir.get(), name, why)
                                    : CopyThroughTemporary(from + "/" + name, dir.get(), name,
                                                           copied, writeBehind, why);
            return ok ? copied : -1;
        };
        QString why;
        EXPECT_EQ(copy("data.csv", &why), size) << why.toStdString();
        EXPECT_EQ(readAll(to + "/data.csv"), QByteArray(size, 'd'));
        EXPECT_EQ(copy("link.csv", &why), -1);
        EXPECT_EQ(why, "not a regular file");
        EXPECT_EQ(copy("pipe.csv", &why), -1);
        EXPECT_EQ(readAll(home.file("secret")), "keep");
        EXPECT_EQ(QDir(to).entryList(QDir::Files | QDir::Hidden | QDir::System),
                  QStringList{"data.csv"})
            << (unnamed ? "unnamed" : "temporary name");
    }
    UniqueFd out;
    qint64 copied = 0;
    QString why;
    EXPECT_FALSE(
        CopyToUnnamed(from + "/data.csv", dir.get(), out, copied, writeBehind, stop, &why));
    EXPECT_FALSE(out.valid());
    EXPECT_EQ(QDir(to).entryList(QDir::Files | QDir::Hidden | QDir::System),
              QStringList{"data.csv"});
}
