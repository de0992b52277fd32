#include "util/PrivateFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "util/Errors.h"
#include "util/RunTargets.h"
#include "util/UniqueFd.h"

namespace {

QString octal(unsigned mode) {
    return QStringLiteral("0%1").arg(mode & 0777, 3, 8, QLatin1Char('0'));
}

}  // namespace

bool MakePrivateDirectory(const QString& directory, QString* error) {
    if (directory.isEmpty()) {
        SetError(error, QStringLiteral("no directory name"));
        return false;
    }
    const QString absolute = QDir::cleanPath(QDir(directory).absolutePath());
    if (QFileInfo(absolute).isDir())
        return true;
    // Parents first; each one made here is created 0700 (mkdir honours the umask, chmod not).
    const qsizetype slash = absolute.lastIndexOf(QLatin1Char('/'));
    if (slash > 0 && !MakePrivateDirectory(absolute.left(slash), error))
        return false;
    const QByteArray path = QFile::encodeName(absolute);
    if (::mkdir(path.constData(), kPrivateDirectoryMode) == 0) {
        ::chmod(path.constData(), kPrivateDirectoryMode);
        return true;
    }
    if (errno == EEXIST && QFileInfo(absolute).isDir())
        return true;
    SetError(error,
             QStringLiteral("cannot create the directory %1: %2").arg(absolute, ErrnoText()));
    return false;
}

bool CreatePrivateFile(const QString& path, QString* error) {
    const QByteArray name = QFile::encodeName(path);
    const UniqueFd fd(
        ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kPrivateFileMode));
    if (!fd.valid()) {
        if (errno == EEXIST)
            return true;
        SetError(error, QStringLiteral("cannot create %1: %2").arg(path, ErrnoText()));
        return false;
    }
    ::fchmod(fd.get(), kPrivateFileMode);
    return true;
}

bool RestrictToOwner(const QString& path, QString* error) {
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    // A symbolic link is left alone (lstat): its target's mode is not this file's to change, and
    // the write that follows refuses the link.
    if (::lstat(name.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return true;
    if ((st.st_mode & 077) == 0)
        return true;
    if (::chmod(name.constData(), kPrivateFileMode) != 0) {
        SetError(error, QStringLiteral("cannot make %1 private: %2").arg(path, ErrnoText()));
        return false;
    }
    PrivateFileNotice(QStringLiteral("%1 could be read by other users (mode %2); it holds a "
                                     "password and is now readable by its owner only (mode 0600)")
                          .arg(path, octal(st.st_mode)));
    return true;
}

void PrivateFileNotice(const QString& text) {
    if (RunTargets::Current().privateFileNotice) {
        RunTargets::Current().privateFileNotice(text);
        return;
    }
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, text.toLocal8Bit().constData());
}
