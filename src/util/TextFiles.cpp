#include "util/TextFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

#include "util/Errors.h"

QStringList SplitLines(const QString& text) {
    static const QRegularExpression breaks(QStringLiteral("\r\n|\n|\r"));
    return text.split(breaks);
}

bool AppendLines(const QString& path, const QString& text) {
    if (path.isEmpty())
        return false;
    QByteArray block;
    for (const QString& line : SplitLines(text))
        block += line.toUtf8() + "\r\n";
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const char* p = block.constData();
    qsizetype left = block.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ::close(fd);
            return false;
        }
        p += n;
        left -= n;
    }
    return ::close(fd) == 0;
}

static void syncDirectoryOf(const QString& path) {
    const QString dir = QFileInfo(path).absolutePath();
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

bool WriteFileAtomically(const QString& path, const QByteArray& content, int newFileMode,
                         QString* error) {
    if (path.isEmpty())
        return Fail(error, QStringLiteral("no file name"));
    const bool existed = QFileInfo::exists(path);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return Fail(error, file.errorString());
    if (!existed && newFileMode != -1) {
        // The temporary file is renamed into place, so its mode becomes the file's mode.
        ::fchmod(file.handle(), static_cast<mode_t>(newFileMode));
    }
    if (file.write(content) != content.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return Fail(error, reason);
    }
    if (!file.commit())
        return Fail(error, file.errorString());
    syncDirectoryOf(path);
    return true;
}

QString RemoveLineBreaks(const QString& text) {
    QString s = text;
    return s.remove(QStringLiteral("\r\n"));
}

bool CopyFileReplacing(const QString& from, const QString& to) {
    if (from.isEmpty() || to.isEmpty())
        return false;
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    QSaveFile out(to);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    char buffer[1 << 16];
    for (;;) {
        const qint64 n = in.read(buffer, sizeof buffer);
        if (n < 0 || (n > 0 && out.write(buffer, n) != n)) {
            out.cancelWriting();
            return false;
        }
        if (n == 0)
            break;
    }
    if (!out.commit())
        return false;
    syncDirectoryOf(to);
    return true;
}
