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
#include "util/RunTargets.h"

using testsupport::chmodOf;
using testsupport::modeOf;
using testsupport::readAll;
using testsupport::writeAll;

namespace {

enum class Target { FileWrite, FileRun, Directory };

bool lockTarget(FileLock& lock, Target target, const QString& path) {
    if (target == Target::Directory)
        return lock.LockDirectory(path, 0);
    return lock.Lock(path, target == Target::FileRun ? FileLock::Role::Run : FileLock::Role::Write,
                     0);
}

// A child process that takes the lock, reports through a pipe and waits to be killed.
struct Holder {
    pid_t pid = -1;
    bool locked = false;

    Holder(Target target, const QString& path) {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        if ((pid = ::fork()) == 0) {
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
        if (pid > 0 && ::kill(pid, SIGKILL) == 0)
            ::waitpid(pid, nullptr, 0);
        pid = -1;
    }
    ~Holder() { Kill(); }
};

}  // namespace

// Every kind of lock: held by another process it refuses at once and names the holder (the two
// kinds a run takes), leaves the other kind free, and is gone the moment its holder is killed.
TEST(FileLock, HeldElsewhereUntilTheHolderIsKilled) {
    for (const Target target : {Target::FileWrite, Target::FileRun, Target::Directory}) {
        SCOPED_TRACE(static_cast<int>(target));
        QTemporaryDir dir;
        const QString path = dir.filePath(target == Target::Directory ? "logs" : "job.etl");
        ASSERT_TRUE(target != Target::Directory || QDir().mkpath(path));
        Holder holder(target, path);
        ASSERT_TRUE(holder.locked);

        FileLock lock;
        EXPECT_FALSE(lockTarget(lock, target, path));
        EXPECT_TRUE(lock.HeldElsewhere());
        EXPECT_EQ(lock.HolderPid(), target == Target::FileWrite ? 0 : holder.pid);
        if (target != Target::Directory) {
            // Writers and runs do not exclude each other: a run does not freeze its configuration.
            FileLock other;
            QString error;
            EXPECT_TRUE(other.Lock(
                path, target == Target::FileRun ? FileLock::Role::Write : FileLock::Role::Run, 0,
                &error))
                << error.toStdString();
            EXPECT_TRUE(QFile::exists(path + ".lock"));
        }
        // A waiting writer gets the lock as soon as the holder is gone.
        holder.Kill();
        EXPECT_TRUE(lockTarget(lock, target, path));
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
    ASSERT_TRUE(FileLock().Lock(file, FileLock::Role::Write, 0));
    EXPECT_FALSE(Holder(Target::FileWrite, file).locked) << "the inner release kept the outer lock";
    outer.reset();
    EXPECT_TRUE(Holder(Target::FileWrite, file).locked);
}

// An account that may write a file but not its directory cannot make the companion: it locks
// the file itself, for both kinds of lock, and the file's content stays as it was.
TEST(FileLock, FileInAClosedDirectoryIsLockedItself) {
    QTemporaryDir dir;
    const QString closed = dir.filePath("closed"), file = closed + "/job.etl";
    ASSERT_TRUE(QDir().mkdir(closed) && writeAll(file, "[Package Info]\r\n"));
    ASSERT_TRUE(chmodOf(dir.path(), 0755) && chmodOf(file, 0666) && chmodOf(closed, 0555));
    const int status = testsupport::forkUnprivileged([&] {
        FileLock run, write;
        return run.Lock(file, FileLock::Role::Run, 0) &&
                       write.Lock(file, FileLock::Role::Write, 0) &&
                       FlockHolderPid(file) == ::getpid()
                   ? 0
                   : 1;
    });
    chmodOf(closed, 0755);
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(QFile::exists(file + ".lock"));
    EXPECT_EQ(readAll(file), "[Package Info]\r\n");
}

// Directories and files made private get 0700 / 0600 under a permissive and a strict umask;
// existing ones keep their mode unless a password is about to go into them.
TEST(PrivateFiles, ModesWhateverTheUmask) {
    for (const mode_t mask : {mode_t(000), mode_t(077)}) {
        SCOPED_TRACE(mask);
        const mode_t before = ::umask(mask);
        QTemporaryDir dir;
        const QString deep = dir.filePath("a/b/c"), shared = dir.filePath("shared");
        ASSERT_TRUE(MakePrivateDirectory(deep));
        for (const QString& d : {dir.filePath("a"), dir.filePath("a/b"), deep})
            EXPECT_EQ(modeOf(d), 0700u) << d.toStdString();
        ASSERT_TRUE(CreatePrivateFile(deep + "/repository.db"));
        EXPECT_EQ(modeOf(deep + "/repository.db"), 0600u);
        ASSERT_TRUE(QDir().mkdir(shared) && chmodOf(shared, 0755) && MakePrivateDirectory(shared));
        EXPECT_EQ(modeOf(shared), 0755u) << "an existing directory keeps its mode";
        ::umask(before);
    }
}

TEST(PrivateFiles, RestrictToOwnerTightensAndSaysSo) {
    QTemporaryDir dir;
    const QString file = dir.filePath("job.etl");
    ASSERT_TRUE(writeAll(file, ""));
    QStringList notices;
    RunTargets::Current().privateFileNotice = ([&](const QString& text) { notices << text; });
    for (const mode_t mode : {0644, 0660, 0600, 0400}) {
        SCOPED_TRACE(mode);
        const bool tightened = mode & 077;
        ASSERT_TRUE(chmodOf(file, mode));
        EXPECT_TRUE(RestrictToOwner(file));
        EXPECT_EQ(modeOf(file), tightened ? 0600u : mode);
        ASSERT_EQ(notices.size(), tightened ? 1 : 0);
        EXPECT_TRUE(!tightened ||
                    notices.takeFirst().startsWith(file + " could be read by other users"));
    }
    RunTargets::Current().privateFileNotice = (nullptr);
    EXPECT_TRUE(RestrictToOwner("/no/such/file")) << "a file yet to be written is no failure";
}
