#include "util/TextFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <cerrno>
#include <cstring>
#include <functional>

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

bool AppendLines(const QString& path, const QString& text) {
    if (path.isEmpty())
        return false;
    QByteArray block;
    for (const QString& line : SplitLines(text))
        block += line.toUtf8() + "\r\n";
    UniqueFd fd(::open(QFile::encodeName(path).constData(),
                       O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (!fd.valid())
        return false;
    const char* p = block.constData();
    qsizetype left = block.size();
    while (left > 0) {
        const ssize_t n = ::write(fd.get(), p, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= n;
    }
    return fd.reset();
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
bool writeInPlace(const QString& path, const ContentWriter& write, QString* error) {
    // O_NOFOLLOW: a symbolic link put in the file's place meanwhile is not written through.
    UniqueFd fd(
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC));
    QFile file;
    if (!fd.valid() || !file.open(fd.get(), QIODevice::WriteOnly, QFileDevice::AutoCloseHandle))
        return Fail(error, QString::fromLocal8Bit(std::strerror(errno)));
    fd.release();  // the file closes it now
    QString why;
    if (!write(file, &why)) {
        SetError(error, why);
        return false;
    }
    if (!file.flush() || ::fsync(file.handle()) != 0) {
        SetError(error, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    file.close();
    return true;
}

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
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        if (!existed && newFileMode != -1) {
            // The temporary file is renamed into place, so its mode becomes the file's mode.
            ::fchmod(file.handle(), static_cast<mode_t>(newFileMode));
        }
        if (existed && (before.st_uid != ::geteuid() || before.st_gid != ::getegid())) {
            // The replacement keeps the file's owner and group where this account may give them
            // (root may): root changing a service account's file leaves it the account's. The
            // mode is set again, as a change of owner clears set-id bits.
            if (::fchown(file.handle(), before.st_uid, before.st_gid) == 0)
                ::fchmod(file.handle(), before.st_mode & 07777);
        }
        QString why;
        if (!write(file, &why)) {
            file.cancelWriting();
            SetError(error, why);
            return false;
        }
        if (file.commit()) {
            syncDirectoryOf(path);
            return true;
        }
    }
    // A temporary file that could not be created or renamed into place means the directory
    // refuses new entries (no write access, or a sticky directory and another owner). A file
    // that exists and may be written is then written in place, so that it never keeps its old
    // content; any other failure leaves the old file untouched.
    const bool directoryRefused =
        file.error() == QFileDevice::OpenError || file.error() == QFileDevice::RenameError;
    const QString reason = file.errorString();
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
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly)) {
        SetError(error, QStringLiteral("%1: %2").arg(from, in.errorString()));
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
