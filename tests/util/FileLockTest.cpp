// Locks between processes (a forked child holds the lock, then is killed) and the modes of
// private files and directories under any umask.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "support/TestSupport.h"
#include "util/FileLock.h"
#include "util/PrivateFiles.h"

namespace {

enum class Target { FileWrite, FileRun, Directory };

bool lockTarget(FileLock& lock, Target target, const QString& path) {
    switch (target) {
        case Target::FileWrite:
            return lock.Lock(path, FileLock::Role::Write, 0);
        case Target::FileRun:
            return lock.Lock(path, FileLock::Role::Run, 0);
        case Target::Directory:
            return lock.LockDirectory(path, 0);
    }
    return false;
}

// A child process that takes the lock, reports through a pipe and waits to be killed.
struct Holder {
    pid_t pid = -1;
    bool locked = false;

    Holder(Target target, const QString& path) {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        pid = ::fork();
        if (pid == 0) {
            ::close(fds[0]);
            FileLock lock;
            const char ok = lockTarget(lock, target, path) ? '1' : '0';
            (void)!::write(fds[1], &ok, 1);
            for (;;)
                ::pause();
        }
        ::close(fds[1]);
        char ok = '0';
        locked = ::read(fds[0], &ok, 1) == 1 && ok == '1';
        ::close(fds[0]);
    }
    void Kill() {
        if (pid <= 0)
            return;
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        pid = -1;
    }
    ~Holder() { Kill(); }
};

unsigned modeOf(const QString& path) {
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_mode & 07777;
}

}  // namespace

// Every kind of lock: held by another process it refuses at once and names the holder (the two
// kinds a run takes), leaves the other kind free, and is gone the moment its holder is killed.
TEST(FileLock, HeldElsewhereUntilTheHolderIsKilled) {
    const struct {
        Target target;
        bool namesHolder;
    } cases[] = {
        {Target::FileWrite, false},
        {Target::FileRun, true},
        {Target::Directory, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.target));
        QTemporaryDir dir;
        const QString path =
            c.target == Target::Directory ? dir.filePath("logs") : dir.filePath("job.etl");
        if (c.target == Target::Directory) {
            ASSERT_TRUE(QDir().mkpath(path));
        }
        Holder holder(c.target, path);
        ASSERT_TRUE(holder.locked);

        FileLock lock;
        QString error;
        EXPECT_FALSE(lockTarget(lock, c.target, path));
        EXPECT_TRUE(lock.HeldElsewhere());
        EXPECT_EQ(lock.HolderPid(), c.namesHolder ? holder.pid : 0);
        if (c.target != Target::Directory) {
            // Writers and runs do not exclude each other: a run does not freeze its configuration.
            FileLock other;
            const auto role =
                c.target == Target::FileRun ? FileLock::Role::Write : FileLock::Role::Run;
            EXPECT_TRUE(other.Lock(path, role, 0, &error)) << error.toStdString();
            EXPECT_TRUE(QFile::exists(path + ".lock"));
        }
        // A waiting writer gets the lock as soon as the holder is gone.
        holder.Kill();
        EXPECT_TRUE(lockTarget(lock, c.target, path));
        EXPECT_FALSE(lock.HeldElsewhere());
    }
}

// Nested locks of one process share the lock: the inner one succeeds, and the lock is released
// only with the outer one.
TEST(FileLock, ReentrantWithinAProcess) {
    QTemporaryDir dir;
    const QString file = dir.filePath("a.etl");
    auto outer = std::make_unique<FileLock>();
    ASSERT_TRUE(outer->Lock(file, FileLock::Role::Write, 0));
    {
        FileLock inner;
        ASSERT_TRUE(inner.Lock(file, FileLock::Role::Write, 0));
    }
    {
        Holder other(Target::FileWrite, file);
        EXPECT_FALSE(other.locked) << "the inner release kept the outer lock";
    }
    outer.reset();
    Holder other(Target::FileWrite, file);
    EXPECT_TRUE(other.locked);
}

// Directories and files made private get 0700 / 0600 under a permissive and a strict umask;
// existing ones keep their mode unless a password is about to go into them.
TEST(PrivateFiles, ModesWhateverTheUmask) {
    for (const mode_t mask : {mode_t(000), mode_t(077)}) {
        SCOPED_TRACE(mask);
        const mode_t before = ::umask(mask);
        QTemporaryDir dir;
        const QString deep = dir.filePath("a/b/c");
        ASSERT_TRUE(MakePrivateDirectory(deep));
        for (const QString& d : {dir.filePath("a"), dir.filePath("a/b"), deep})
            EXPECT_EQ(modeOf(d), 0700u) << d.toStdString();
        ASSERT_TRUE(CreatePrivateFile(deep + "/repository.db"));
        EXPECT_EQ(modeOf(deep + "/repository.db"), 0600u);

        const QString shared = dir.filePath("shared");
        ASSERT_TRUE(QDir().mkdir(shared));
        ::chmod(QFile::encodeName(shared).constData(), 0755);
        ASSERT_TRUE(MakePrivateDirectory(shared));
        EXPECT_EQ(modeOf(shared), 0755u) << "an existing directory keeps its mode";
        ::umask(before);
    }
}

TEST(PrivateFiles, RestrictToOwnerTightensAndSaysSo) {
    const struct {
        unsigned mode;
        bool noticed;
    } cases[] = {{0644, true}, {0660, true}, {0600, false}, {0400, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        QTemporaryDir dir;
        const QString file = dir.filePath("job.etl");
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.close();
        ::chmod(QFile::encodeName(file).constData(), c.mode);
        QStringList notices;
        SetPrivateFileNoticeHandler([&](const QString& text) { notices << text; });
        EXPECT_TRUE(RestrictToOwner(file));
        SetPrivateFileNoticeHandler(nullptr);
        EXPECT_EQ(modeOf(file), c.noticed ? 0600u : c.mode);
        ASSERT_EQ(notices.size(), c.noticed ? 1 : 0);
        if (c.noticed) {
            EXPECT_TRUE(notices[0].startsWith(file + " could be read by other users"));
        }
    }
    EXPECT_TRUE(RestrictToOwner("/no/such/file")) << "a file yet to be written is no failure";
}

// An account that may write a file but not its directory cannot make the companion: it locks
// the file itself, for both kinds of lock, and the file's content stays as it was.
TEST(FileLock, FileInAClosedDirectoryIsLockedItself) {
    QTemporaryDir dir;
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    const QString closed = dir.filePath("closed");
    ASSERT_TRUE(QDir().mkdir(closed));
    const QString file = closed + "/job.etl";
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[Package Info]\r\n");
    }
    ::chmod(QFile::encodeName(file).constData(), 0666);
    ::chmod(QFile::encodeName(closed).constData(), 0555);
    const int status = testsupport::forkUnprivileged([&] {
        FileLock run, write;
        if (!run.Lock(file, FileLock::Role::Run, 0) || !write.Lock(file, FileLock::Role::Write, 0))
            return 1;
        return FlockHolderPid(file) == ::getpid() ? 0 : 2;
    });
    ::chmod(QFile::encodeName(closed).constData(), 0755);
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(QFile::exists(file + ".lock"));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "[Package Info]\r\n");
}
