#include "util/TextFiles.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <thread>

#include "util/Errors.h"
#include "util/UniqueFd.h"

QStringList SplitLines(const QString& text) {
    static const QRegularExpression breaks(QStringLiteral("\r\n|\n|\r"));
    return text.split(breaks);
}

QString DecodeUtf8OrLatin1(const QByteArray& bytes) {
    QString text = QString::fromUtf8(bytes);
    if (text.contains(QChar::ReplacementCharacter))
        text = QString::fromLatin1(bytes);
    return text;
}

bool AppendLines(const QString& path, const QString& text, QString* error) {
    if (path.isEmpty())
        return Fail(error, QStringLiteral("no file is named"));
    QByteArray block;
    for (const QString& line : SplitLines(text))
        block += line.toUtf8() + "\r\n";
    UniqueFd fd = OpenForAppend(path, error);
    if (!fd.valid())
        return false;
    const char* p = block.constData();
    qsizetype left = block.size();
    while (left > 0) {
        const ssize_t n = ::write(fd.get(), p, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return Fail(error, ErrnoText());
        }
        p += n;
        left -= n;
    }
    return fd.reset() || Fail(error, ErrnoText());
}

UniqueFd OpenForAppend(const QString& path, QString* error) {
    UniqueFd fd(::open(
        QFile::encodeName(path).constData(),
        O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0644));
    if (!fd.valid())
        SetError(error, errno == ELOOP ? QStringLiteral("it is a symbolic link") : ErrnoText());
    return fd;
}

bool OpenRegularFile(const QString& path, QFile& file, QString* error) {
    UniqueFd fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0)
        return Fail(error, ErrnoText());
    if (!S_ISREG(st.st_mode))
        return Fail(error, QStringLiteral("it is not a regular file"));
    if (!file.open(fd.get(), QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return Fail(error, file.errorString());
    fd.release();  // the file closes it now
    return true;
}

namespace {

void syncDirectoryOf(const QString& path) {
    const QString dir = QFileInfo(path).absolutePath();
    const UniqueFd fd(
        ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid())
        ::fsync(fd.get());
}

// Writes the whole content through `write`, which fills the device and returns false (with the
// device's error) when something could not be written.
using ContentWriter = std::function<bool(QFileDevice&, QString*)>;

// The file is written where it stands: truncated, filled, flushed to disk. Used only when the
// directory refuses the temporary file or the rename, so the file keeps its owner and mode.
// `createMode` (not -1): the file does not exist yet and is created here with that mode.
bool writeInPlace(const QString& path, const ContentWriter& write, QString* error,
                  int createMode = -1) {
    // O_NOFOLLOW: a symbolic link put in the file's place meanwhile is not written through.
    const int flags =
        O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC | (createMode == -1 ? 0 : O_CREAT | O_EXCL);
    UniqueFd fd(::open(QFile::encodeName(path).constData(), flags,
                       static_cast<mode_t>(createMode == -1 ? 0 : createMode)));
    QFile file;
    if (!fd.valid() || !file.open(fd.get(), QIODevice::WriteOnly, QFileDevice::AutoCloseHandle))
        return Fail(error, ErrnoText());
    fd.release();  // the file closes it now
    QString why;
    if (!write(file, &why)) {
        SetError(error, why);
        return false;
    }
    if (!file.flush() || ::fsync(file.handle()) != 0) {
        SetError(error, ErrnoText());
        return false;
    }
    file.close();
    return true;
}

// A character device or a pipe in the file's place (a status file of /dev/null) is written as it
// stands, never replaced by a file; a pipe without a reader is an error, not a wait for ever.
bool writeToDevice(const QString& path, const ContentWriter& write, QString* error) {
    UniqueFd fd(::open(QFile::encodeName(path).constData(),
                       O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
    QFile file;
    if (!fd.valid() || !file.open(fd.get(), QIODevice::WriteOnly | QIODevice::Unbuffered,
                                  QFileDevice::AutoCloseHandle))
        return Fail(error, ErrnoText());
    fd.release();
    QString why;
    if (!write(file, &why)) {
        SetError(error, why);
        return false;
    }
    return true;
}

// A replacement's file is named ".NAME.pendrill-new" only for the moment of its rename over NAME
// (or, where the file system has no unnamed files, while it is written). A kill in that moment
// leaves it behind; the next write of NAME removes it.
QByteArray pendingNameOf(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    return path.left(slash + 1) + '.' + path.mid(slash + 1) + ".pendrill-new";
}

enum class Pending { Clear, Busy, InTheWay };

// Makes way for a replacement's name. A writer holds its file locked while it stands under the
// name, so a file there that nobody holds was left by a writer that died: it is removed. Busy:
// another writer of the same file is renaming its file; InTheWay: something that is not a
// replacement's file (a link, a directory, a file with other names) has the name.
Pending clearPending(const QByteArray& pending) {
    const UniqueFd fd(::open(pending.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid())
        return errno == ENOENT ? Pending::Clear : Pending::InTheWay;
    struct stat held {};
    if (::fstat(fd.get(), &held) != 0 || !S_ISREG(held.st_mode) || held.st_nlink != 1)
        return Pending::InTheWay;
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
        return Pending::Busy;
    struct stat named {};
    if (::lstat(pending.constData(), &named) != 0)
        return errno == ENOENT ? Pending::Clear : Pending::InTheWay;
    if (named.st_ino != held.st_ino || named.st_dev != held.st_dev)
        return Pending::Busy;  // renamed and taken again meanwhile: looked at anew
    return ::unlink(pending.constData()) == 0 || errno == ENOENT ? Pending::Clear
                                                                 : Pending::InTheWay;
}

// Waits (at most a few seconds: another writer holds the name only for its rename) until the
// name is free. False when it does not become free.
bool makeWayFor(const QByteArray& pending) {
    for (int tries = 0; tries < 5000; ++tries) {
        switch (clearPending(pending)) {
            case Pending::Clear:
                return true;
            case Pending::InTheWay:
                return false;
            case Pending::Busy:
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                break;
        }
    }
    return false;
}

// The new content of a file, written beside it and then put in its place. Until Commit the
// file has no name where the file system allows it (O_TMPFILE), so that a kill leaves nothing.
class Replacement {
  public:
    explicit Replacement(const QString& path)
        : path_(QFile::encodeName(path)),
          pending_(pendingNameOf(path_)),
          directory_(QFile::encodeName(QFileInfo(path).absolutePath())) {}
    ~Replacement() {
        if (named_ && !committed_)
            ::unlink(pending_.constData());
    }
    Replacement(const Replacement&) = delete;
    Replacement& operator=(const Replacement&) = delete;

    // False when the directory refuses a new file (errno tells why).
    bool Open(mode_t mode) {
        fd_ = UniqueFd(::open(directory_.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
        if (!fd_.valid() && (errno == EOPNOTSUPP || errno == EISDIR)) {
            // No unnamed files here: the file is named from the start.
            if (!makeWayFor(pending_)) {
                errno = EEXIST;
                return false;
            }
            fd_ = UniqueFd(::open(pending_.constData(),
                                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
            named_ = fd_.valid();
        }
        return fd_.valid() && ::flock(fd_.get(), LOCK_EX) == 0;
    }
    int handle() const { return fd_.get(); }

    // Flushes the content to disk and renames it over the file. False when the directory
    // refused the name or the rename (errno tells why); the file is then untouched.
    bool Commit() {
        if (::fsync(fd_.get()) != 0)
            return false;
        if (!named_) {
            for (;;) {
                if (!makeWayFor(pending_)) {
                    errno = EEXIST;
                    return false;
                }
                if (LinkUnnamedFile(fd_.get(), AT_FDCWD, pending_.constData()))
                    break;
                if (errno != EEXIST)
                    return false;
            }
            named_ = true;
        }
        if (::rename(pending_.constData(), path_.constData()) != 0)
            return false;
        committed_ = true;
        return true;
    }

  private:
    QByteArray path_;
    QByteArray pending_;
    QByteArray directory_;
    UniqueFd fd_;
    bool named_ = false;
    bool committed_ = false;
};

bool replaceFile(const QString& path, int newFileMode, const ContentWriter& write, QString* error) {
    if (path.isEmpty()) {
        SetError(error, QStringLiteral("no file name"));
        return false;
    }
    struct stat before {};
    const bool existed = ::lstat(QFile::encodeName(path).constData(), &before) == 0;
    // A symbolic link in the file's place would have the file it points to overwritten (and, for
    // root, given the link's owner): it is refused, never followed.
    if (existed && S_ISLNK(before.st_mode)) {
        SetError(error, QStringLiteral("%1 is a symbolic link; it is not replaced").arg(path));
        return false;
    }
    if (existed && (S_ISCHR(before.st_mode) || S_ISFIFO(before.st_mode)))
        return writeToDevice(path, write, error);
    if (existed && !S_ISREG(before.st_mode) && !S_ISDIR(before.st_mode)) {
        SetError(error, QStringLiteral("%1 is not a regular file; it is not replaced").arg(path));
        return false;
    }
    // An existing file's replacement stays private until it has the file's mode.
    Replacement replacement(path);
    bool directoryRefused = true;
    int failure = 0;
    QString reason;
    if (replacement.Open(existed ? 0600 : 0666)) {
        const int fd = replacement.handle();
        if (existed) {
            ::fchmod(fd, before.st_mode & 0777);
            if (before.st_uid != ::geteuid() || before.st_gid != ::getegid()) {
                // The replacement keeps the file's owner and group where this account may give
                // them (root may): root changing a service account's file leaves it the
                // account's. The mode is set again, as a change of owner clears set-id bits.
                if (::fchown(fd, before.st_uid, before.st_gid) == 0)
                    ::fchmod(fd, before.st_mode & 07777);
            }
        } else if (newFileMode != -1) {
            ::fchmod(fd, static_cast<mode_t>(newFileMode));
        }
        QFile file;
        if (!file.open(fd, QIODevice::WriteOnly, QFileDevice::DontCloseHandle)) {
            SetError(error, file.errorString());
            return false;
        }
        QString why;
        if (!write(file, &why)) {
            SetError(error, why);
            return false;
        }
        if (!file.flush()) {
            SetError(error, file.errorString());
            return false;
        }
        file.close();
        if (replacement.Commit()) {
            syncDirectoryOf(path);
            return true;
        }
        failure = errno;
        directoryRefused = errno == EACCES || errno == EPERM || errno == EEXIST;
        reason = ErrnoText();
        if (!directoryRefused) {
            SetError(error, reason);
            return false;
        }
    } else {
        failure = errno;
        reason = ErrnoText();
    }
    // Something that is not a replacement's file under the replacement's name (EEXIST) while the
    // file itself does not exist: the file is created in its place.
    if (!existed && failure == EEXIST)
        return writeInPlace(path, write, error, newFileMode == -1 ? 0666 : newFileMode);
    // A replacement that could not be created or renamed into place means the directory refuses
    // new entries (no write access, or a sticky directory and another owner). A file that exists
    // and may be written is then written in place, so that it never keeps its old content; any
    // other failure leaves the old file untouched.
    const QFileInfo target(path);
    if (directoryRefused && target.isFile() &&
        ::access(QFile::encodeName(path).constData(), W_OK) == 0)
        return writeInPlace(path, write, error);
    SetError(error, reason);
    return false;
}

bool writeAllOf(QFileDevice& out, const QByteArray& content, QString* why) {
    if (out.write(content) != content.size()) {
        SetError(why, out.errorString());
        return false;
    }
    return true;
}

}  // namespace

bool LinkUnnamedFile(int fd, int dirFd, const char* name) {
    char self[40];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    if (::linkat(AT_FDCWD, self, dirFd, name, AT_SYMLINK_FOLLOW) == 0)
        return true;
    return errno == ENOENT && ::linkat(fd, "", dirFd, name, AT_EMPTY_PATH) == 0;
}

bool WriteFileAtomically(const QString& path, const QByteArray& content, int newFileMode,
                         QString* error) {
    return replaceFile(
        path, newFileMode,
        [&content](QFileDevice& out, QString* why) { return writeAllOf(out, content, why); },
        error);
}

QString RemoveLineBreaks(const QString& text) {
    QString s = text;
    return s.remove(QStringLiteral("\r\n"));
}

bool CopyFileReplacing(const QString& from, const QString& to, QString* error) {
    if (from.isEmpty() || to.isEmpty()) {
        SetError(error, QStringLiteral("no file name"));
        return false;
    }
    QFile in;
    QString why;
    if (!OpenRegularFile(from, in, &why)) {
        SetError(error, QStringLiteral("%1: %2").arg(from, why));
        return false;
    }
    return replaceFile(
        to, -1,
        [&in](QFileDevice& out, QString* why) {
            if (!in.seek(0)) {
                SetError(why, in.errorString());
                return false;
            }
            char buffer[1 << 16];
            for (;;) {
                const qint64 n = in.read(buffer, sizeof buffer);
                if (n < 0) {
                    SetError(why, in.errorString());
                    return false;
                }
                if (n == 0)
                    return true;
                if (out.write(buffer, n) != n) {
                    SetError(why, out.errorString());
                    return false;
                }
            }
        },
        error);
}
