#pragma once

#include <QString>
#include <QtGlobal>

// Advisory locks between processes, held by the kernel: a lock of a process that ends, killed
// or not, is gone with it, so a stale lock never blocks.
//
// A file that is written by replacing it (a temporary file renamed over it) cannot be locked
// itself: the next writer opens the new file and would not see the lock on the old one. Such a
// file is guarded by its companion lock file, FILE + ".lock", which is never replaced or removed.
// The companion carries two independent locks:
// - Role::Write, an open-file-description lock (fcntl F_OFD_SETLK) held for one
//   read-change-replace of the file; writers wait for each other.
// - Role::Run, a flock(2) lock held by a run for its whole duration. It works with a lock file
//   that may only be read, and the holder's process id can be looked up (/proc/locks); the
//   holder also writes its id into the companion when it may.
// The two kinds do not exclude each other: a configuration can be edited while a run of it goes
// on. A directory is locked itself (flock on the directory), nothing is written into it.
//
// Locks are re-entrant within one process: a second FileLock of the same lock file and role
// succeeds at once and releases nothing until the first one is released.
class FileLock {
  public:
    enum class Role { Write, Run };

    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;

    // Locks the companion of `file` for `role`, waiting up to `waitMs` milliseconds (0: not at
    // all). A missing companion is created with the read/write permission bits and the group of
    // the file (0600 when the file does not exist yet), and, when root creates it, its owner.
    // When the companion cannot be created (the directory refuses new files), a Write lock is
    // taken on the file itself, which can then only be written in place. False when another
    // process holds the lock (HeldElsewhere(), HolderPid()) or the lock file cannot be opened,
    // with the reason in `*error`.
    bool Lock(const QString& file, Role role, int waitMs, QString* error = nullptr);
    // Locks the directory itself (the Run kind of lock). False as Lock.
    bool LockDirectory(const QString& directory, int waitMs, QString* error = nullptr);
    void Unlock();

    bool IsLocked() const { return fd_ >= 0; }
    // After a failed Lock: true when another process holds the lock.
    bool HeldElsewhere() const { return heldElsewhere_; }
    // After a failed Lock: the process id of the holder, 0 when it cannot be found out.
    qint64 HolderPid() const { return holderPid_; }
    // After a failed Lock: true when the companion lock file is there but is not a regular file
    // (a directory, a symbolic link, a pipe...), so that it can lock nothing.
    bool NotAFile() const { return notAFile_; }

  private:
    enum class Target { Companion, Itself, Directory };
    bool lockPath(const QString& path, Role role, int waitMs, Target target, QString* error);

    int fd_ = -1;
    Role role_ = Role::Write;
    quint64 dev_ = 0, ino_ = 0;
    bool heldElsewhere_ = false;
    qint64 holderPid_ = 0;
    bool notAFile_ = false;
};

// The companion lock file of `file`: FILE + ".lock".
QString LockFilePath(const QString& file);

// The id of a process that holds a flock(2) lock on the file or directory, 0 when none is found.
qint64 FlockHolderPid(const QString& path);
