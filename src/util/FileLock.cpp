#include "util/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QMutex>
#include <QThread>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <tuple>

#include "util/Errors.h"
#include "util/UniqueFd.h"

namespace {

// The locks this process holds, by lock file and role: the descriptor that carries the lock and
// how many FileLock objects share it. The process id is part of the key: a forked child inherits
// the table but not the right to the parent's locks.
using Key = std::tuple<qint64, quint64, quint64, int>;
struct Held {
    UniqueFd fd;  // closing the only descriptor of the lock releases it
    int count = 0;
};

QMutex& registryMutex() {
    static QMutex mutex;
    return mutex;
}

std::map<Key, Held>& registry() {
    static std::map<Key, Held> held;
    return held;
}

bool isWritable(int fd) {
    return (::fcntl(fd, F_GETFL) & O_ACCMODE) == O_RDWR;
}

// One attempt at the lock; true when taken. `busy` tells a conflict from an error.
bool tryOnce(int fd, FileLock::Role role, bool& busy, int& code) {
    busy = false;
    int rc = 0;
    if (role == FileLock::Role::Write) {
        struct flock fl {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        fl.l_start = 0;
        fl.l_len = 1;
        rc = ::fcntl(fd, F_OFD_SETLK, &fl);
        busy = rc != 0 && (errno == EAGAIN || errno == EACCES);
    } else {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
        busy = rc != 0 && errno == EWOULDBLOCK;
    }
    code = rc == 0 ? 0 : errno;
    return rc == 0;
}

// The companion is created with the permission bits and group (and, when root creates it, the
// owner) of the file it guards, so that whoever may write the file may also lock it.
UniqueFd createCompanion(const QByteArray& companion, const QByteArray& guarded) {
    UniqueFd fd(
        ::open(companion.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd.valid())
        return fd;
    struct stat st {};
    if (::stat(guarded.constData(), &st) == 0 && S_ISREG(st.st_mode)) {
        // Only root may give the file away; anyone may pass it to a group they belong to.
        (void)::fchown(fd.get(), ::geteuid() == 0 ? st.st_uid : static_cast<uid_t>(-1), st.st_gid);
        ::fchmod(fd.get(), st.st_mode & 0666);
    } else {
        ::fchmod(fd.get(), 0600);
    }
    return fd;
}

qint64 pidWrittenIn(int fd) {
    char buffer[32] = {};
    const ssize_t n = ::pread(fd, buffer, sizeof buffer - 1, 0);
    if (n <= 0)
        return 0;
    return QByteArray(buffer, static_cast<qsizetype>(n)).trimmed().toLongLong();
}

qint64 flockHolder(quint64 dev, quint64 ino) {
    // A /proc file has no size, so it is read as a stream to its end.
    std::ifstream locks("/proc/locks");
    if (!locks)
        return 0;
    const QByteArray wanted = QByteArray::number(major(dev), 16).rightJustified(2, '0') + ':' +
                              QByteArray::number(minor(dev), 16).rightJustified(2, '0') + ':' +
                              QByteArray::number(ino);
    // "1: FLOCK  ADVISORY  WRITE 1234 08:02:131090 0 EOF"; waiters are marked "->".
    for (std::string line; std::getline(locks, line);) {
        const QList<QByteArray> words = QByteArray::fromStdString(line).simplified().split(' ');
        if (words.size() < 6 || words.at(1) != "FLOCK")
            continue;
        if (words.at(5) == wanted)
            return words.at(4).toLongLong();
    }
    return 0;
}

}  // namespace

QString LockFilePath(const QString& file) {
    return file + QStringLiteral(".lock");
}

qint64 FlockHolderPid(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return 0;
    return flockHolder(st.st_dev, st.st_ino);
}

FileLock::~FileLock() {
    Unlock();
}

FileLock::FileLock(FileLock&& other) noexcept {
    *this = std::move(other);
}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        Unlock();
        fd_ = std::exchange(other.fd_, -1);
        role_ = other.role_;
        dev_ = other.dev_;
        ino_ = other.ino_;
        heldElsewhere_ = other.heldElsewhere_;
        holderPid_ = other.holderPid_;
    }
    return *this;
}

bool FileLock::Lock(const QString& file, Role role, int waitMs, QString* error) {
    Unlock();
    heldElsewhere_ = false;
    holderPid_ = 0;
    notAFile_ = false;
    if (file.isEmpty()) {
        SetError(error, QStringLiteral("no file name"));
        return false;
    }
    const QString companion = LockFilePath(file);
    const QByteArray path = QFile::encodeName(companion);
    // Opened only to see that the companion is there (or made); lockPath opens it for the lock.
    UniqueFd fd(::open(path.constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
    if (!fd.valid() && errno == ENOENT) {
        fd = createCompanion(path, QFile::encodeName(file));
        if (!fd.valid() && errno == EEXIST)
            fd = UniqueFd(::open(path.constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
        if (!fd.valid() && (errno == EACCES || errno == EROFS || errno == EPERM)) {
            // The directory refuses the companion; a file there can only be written in place,
            // so the file itself keeps its identity and can carry the lock.
            const QByteArray target = QFile::encodeName(file);
            const UniqueFd itself(
                ::open(target.constData(),
                       (role == Role::Write ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NOFOLLOW));
            if (!itself.valid()) {
                SetError(error, QStringLiteral("cannot create the lock file %1: %2")
                                    .arg(companion, ErrnoText(EACCES)));
                return false;
            }
            return lockPath(file, role, waitMs, Target::Itself, error);
        }
    } else if (!fd.valid() && (errno == EACCES || errno == EROFS) && role == Role::Run) {
        fd = UniqueFd(::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    }
    struct stat st {};
    if (fd.valid() ? ::fstat(fd.get(), &st) == 0 && !S_ISREG(st.st_mode)
                   : errno == EISDIR || errno == ELOOP) {
        notAFile_ = true;
        SetError(error, QStringLiteral("the lock file %1 is not a regular file").arg(companion));
        return false;
    }
    if (!fd.valid()) {
        SetError(
            error,
            QStringLiteral("cannot open the lock file %1: %2").arg(companion, ErrnoText(errno)));
        return false;
    }
    fd.reset();
    return lockPath(companion, role, waitMs, Target::Companion, error);
}

bool FileLock::LockDirectory(const QString& directory, int waitMs, QString* error) {
    Unlock();
    heldElsewhere_ = false;
    holderPid_ = 0;
    return lockPath(directory, Role::Run, waitMs, Target::Directory, error);
}

bool FileLock::lockPath(const QString& path, Role role, int waitMs, Target target, QString* error) {
    const QByteArray name = QFile::encodeName(path);
    const bool directory = target == Target::Directory;
    // A Write lock needs a descriptor open for writing; a Run lock (flock) does not, and a file
    // locked itself is never written through the lock's descriptor.
    int flags = O_CLOEXEC;
    if (directory)
        flags |= O_RDONLY | O_DIRECTORY;
    else if (role == Role::Write || target == Target::Companion)
        flags |= O_NOFOLLOW | O_RDWR;
    else
        flags |= O_NOFOLLOW | O_RDONLY;
    UniqueFd fd(::open(name.constData(), flags));
    if (!fd.valid() && target == Target::Companion && (errno == EACCES || errno == EROFS) &&
        role == Role::Run)
        fd = UniqueFd(::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd.valid()) {
        SetError(error,
                 QStringLiteral("cannot open %1 to lock it: %2").arg(path, ErrnoText(errno)));
        return false;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        SetError(error, QStringLiteral("cannot lock %1: %2").arg(path, ErrnoText(errno)));
        return false;
    }
    const Key key{::getpid(), st.st_dev, st.st_ino, static_cast<int>(role)};
    QMutexLocker guard(&registryMutex());
    if (auto it = registry().find(key); it != registry().end()) {
        fd.reset();
        ++it->second.count;
        fd_ = it->second.fd.get();
    } else {
        guard.unlock();
        const QDeadlineTimer deadline(waitMs);
        bool busy = false;
        int code = 0;
        while (!tryOnce(fd.get(), role, busy, code)) {
            if (!busy) {
                SetError(error, QStringLiteral("cannot lock %1: %2").arg(path, ErrnoText(code)));
                return false;
            }
            if (deadline.hasExpired()) {
                heldElsewhere_ = true;
                if (role == Role::Run) {
                    holderPid_ = flockHolder(st.st_dev, st.st_ino);
                    if (holderPid_ == 0 && target == Target::Companion)
                        holderPid_ = pidWrittenIn(fd.get());
                }
                SetError(error, QStringLiteral("%1 is locked by another process").arg(path));
                return false;
            }
            QThread::msleep(5);
        }
        // Only the companion carries the holder's process id; it holds nothing else.
        if (role == Role::Run && target == Target::Companion && isWritable(fd.get())) {
            const QByteArray pid = QByteArray::number(::getpid()) + '\n';
            if (::ftruncate(fd.get(), 0) == 0)
                (void)!::pwrite(fd.get(), pid.constData(), static_cast<size_t>(pid.size()), 0);
        }
        guard.relock();
        fd_ = fd.get();
        registry()[key] = Held{std::move(fd), 1};
    }
    role_ = role;
    dev_ = st.st_dev;
    ino_ = st.st_ino;
    return true;
}

void FileLock::Unlock() {
    if (fd_ < 0)
        return;
    QMutexLocker guard(&registryMutex());
    const Key key{::getpid(), dev_, ino_, static_cast<int>(role_)};
    if (auto it = registry().find(key); it != registry().end() && --it->second.count == 0) {
        registry().erase(it);  // closes the descriptor, which releases the lock
    }
    fd_ = -1;
}
