#include "util/FileUtils.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QRegularExpression>
#include <cerrno>
#include <system_error>

#include "util/TextFiles.h"

namespace fs = std::filesystem;

namespace {
bool endsWithSeparator(const QString& s) {
    return s.endsWith('/') || s.endsWith('\\');
}

qsizetype lastSeparator(const QString& s) {
    return std::max(s.lastIndexOf('/'), s.lastIndexOf('\\'));
}
}  // namespace

fs::path ToFsPath(const QString& path) {
    return fs::path(NameBytes(path).toStdString());
}

QString NameFromBytes(QByteArrayView bytes) {
    QString name;
    name.reserve(bytes.size());
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* const end = p + bytes.size();
    while (p != end) {
        char32_t code = 0;
        const int length = Utf8SequenceAt(p, end, &code);
        if (length == 0) {
            name += QChar(char16_t(0xDC00 + *p++));
            continue;
        }
        name += QString::fromUcs4(&code, 1);
        p += length;
    }
    return name;
}

QByteArray NameBytes(QStringView name) {
    QByteArray bytes;
    bytes.reserve(name.size());
    qsizetype run = 0;  // start of the characters not written yet
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t unit = name[i].unicode();
        const bool paired = i > 0 && QChar::isHighSurrogate(name[i - 1].unicode());
        if (unit < 0xDC80 || unit > 0xDCFF || paired)
            continue;
        bytes += name.sliced(run, i - run).toUtf8();
        bytes += char(unit - 0xDC00);
        run = i + 1;
    }
    bytes += name.sliced(run).toUtf8();
    return bytes;
}

QString AddBackslash(QString& path) {
    if (!endsWithSeparator(path))
        path += '/';
    return path;
}

QString AddSlash(QString& path) {
    if (!endsWithSeparator(path))
        path += '/';
    return path;
}

QString FileNameOfPath(const QString& path) {
    const qsizetype i = lastSeparator(path);
    return (i < 0 ? path : path.mid(i + 1)).trimmed();
}

QString DirectoryOfPath(const QString& path) {
    const qsizetype i = lastSeparator(path);
    return i < 0 ? QString() : path.left(i + 1);
}

bool FileExists(const QString& path) {
    if (path.isEmpty())
        return false;
    std::error_code ec;
    (void)fs::file_size(ToFsPath(path), ec);
    return !ec;
}

bool FileOrFolderExists(const QString& path) {
    if (path.isEmpty())
        return false;
    std::error_code ec;
    return fs::exists(ToFsPath(path), ec) && !ec;
}

bool PathExists(const QString& path) {
    if (path.isEmpty())
        return false;
    std::error_code ec;
    if (endsWithSeparator(path)) {
        return fs::is_directory(ToFsPath(path.left(path.size() - 1) + '/'), ec);
    }
    const QString name = FileNameOfPath(path);
    if (!name.contains('*') && !name.contains('?'))
        return fs::exists(ToFsPath(path), ec) && !ec;
    QString dir = DirectoryOfPath(path);
    if (dir.isEmpty())
        dir = QStringLiteral(".");
    const QRegularExpression re(
        QRegularExpression::anchoredPattern(QRegularExpression::wildcardToRegularExpression(
            name, QRegularExpression::UnanchoredWildcardConversion)));
    for (fs::directory_iterator it(ToFsPath(dir), ec), end; !ec && it != end; it.increment(ec)) {
        if (re.match(QString::fromStdString(it->path().filename().string())).hasMatch())
            return true;
    }
    return false;
}

bool SameFile(const QString& a, const QString& b) {
    if (a.isEmpty() || b.isEmpty())
        return false;
    struct stat sa {
    }, sb{};
    if (::stat(ToFsPath(a).c_str(), &sa) == 0 && ::stat(ToFsPath(b).c_str(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    std::error_code ea, eb;
    const fs::path pa = fs::weakly_canonical(fs::absolute(ToFsPath(a), ea), ea);
    const fs::path pb = fs::weakly_canonical(fs::absolute(ToFsPath(b), eb), eb);
    return !ea && !eb && pa == pb;
}

bool RemoveFileOrLink(const QString& path) {
    struct stat st {};
    const QByteArray name = QFile::encodeName(path);
    if (path.isEmpty() || ::lstat(name.constData(), &st) != 0)
        return true;
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode))
        return false;
    return ::unlink(name.constData()) == 0 || errno == ENOENT;
}

void MakeDirectory(const QString& directory) {
    if (directory.trimmed().isEmpty())
        return;
    std::error_code ec;
    fs::create_directories(ToFsPath(directory), ec);
}

unsigned ModeWithinDirectory(int dirFd, unsigned requested) {
    struct stat st {};
    if (::fstat(dirFd, &st) != 0)
        return requested;
    return requested & (st.st_mode & 0666);
}
