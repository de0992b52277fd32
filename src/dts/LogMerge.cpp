// Gathering the log files a package wrote into the log directory into the exception file.

#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <filesystem>
#include <vector>

#include "dts/PackageRun.h"
#include "util/FileUtils.h"
#include "util/RunLog.h"
#include "util/TextFiles.h"

namespace {

// Bulk-load error files are XML documents; once converted their text joins the merge.
bool IsBulkLoadErrorFile(const QString& name) {
    return name.contains(QLatin1String("_Bulkload"), Qt::CaseInsensitive) &&
           !name.endsWith(QLatin1String(".log"));
}

// Appends the files, in order, to `target`, with large buffered copies. A source that does not
// exist (or cannot be read) is left out; the target is created only when some source exists, as
// COPY does when every source is missing. The target itself is never a source.
void AppendFiles(const QString& target, const QStringList& sources) {
    const std::filesystem::path targetPath = ToFsPath(target);
    QFile out;
    // As every append to the run log: never through a symbolic link, never waiting.
    auto openOut = [&] {
        QString why;
        UniqueFd fd = OpenForAppend(target, &why);
        if (!fd.valid()) {
            RunLog::ReportUnwritable(target, why);
            return false;
        }
        if (!out.open(fd.get(), QIODevice::WriteOnly | QIODevice::Unbuffered,
                      QFileDevice::AutoCloseHandle)) {
            RunLog::ReportUnwritable(target, out.errorString());
            return false;
        }
        fd.release();
        return true;
    };
    std::vector<char> buffer(1 << 20);
    for (const QString& source : sources) {
        std::error_code ec;
        const std::filesystem::path sourcePath = ToFsPath(source);
        if (!std::filesystem::is_regular_file(sourcePath, ec))
            continue;
        if (std::filesystem::equivalent(sourcePath, targetPath, ec))
            continue;
        QFile in(source);
        if (!in.open(QIODevice::ReadOnly))
            continue;
        if (!out.isOpen() && !openOut())
            return;
        for (;;) {
            const qint64 n = in.read(buffer.data(), static_cast<qint64>(buffer.size()));
            if (n <= 0)
                break;
            if (out.write(buffer.data(), n) != n) {
                RunLog::ReportUnwritable(target, out.errorString());
                return;
            }
        }
    }
}

}  // namespace

QString PackageRun::ConvertBulkLoadLog(const QString& fileName, const QString& directory) {
    QString dir = directory;
    if (!dir.isEmpty())
        AddBackslash(dir);
    QFile file(dir + fileName);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QDomDocument document;
    if (!document.setContent(&file))
        return QString();

    QStringList descriptions;
    const QDomElement root = document.documentElement();
    for (QDomElement child = root.firstChildElement(); !child.isNull();
         child = child.nextSiblingElement()) {
        for (QDomElement d = child.firstChildElement(QStringLiteral("Description")); !d.isNull();
             d = d.nextSiblingElement(QStringLiteral("Description"))) {
            // A server's message may run over several lines; the exception file, like every
            // file of the run, ends each of its lines with CR LF.
            QString text = d.text();
            text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
            text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
            descriptions << text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
        }
    }
    if (descriptions.isEmpty())
        return QString();

    const QString target = dir + fileName + QStringLiteral("__.log");
    const QString record =
        QLatin1Char('"') + descriptions.join(QStringLiteral("\r\n")) + QStringLiteral("\"\r\n");
    if (!WriteFileAtomically(target, record.toUtf8()))
        return QString();
    return target;
}

void PackageRun::mergeLogFiles() {
    if (loadedLogDir_.trimmed().isEmpty() || loadedExceptionFile_.isEmpty())
        return;
    // Relative paths mean what they meant while the run log was written, before the log
    // directory becomes the current directory (and stays so).
    const QString logDir = QDir(loadedLogDir_).absolutePath();
    const QString exceptionFile = QFileInfo(loadedExceptionFile_).absoluteFilePath();
    QDir::setCurrent(logDir);

    const QString packageLog = loadedPackageName_ + QStringLiteral(".log");
    QStringList names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(ToFsPath(logDir), ec), end; !ec && it != end;
         it.increment(ec)) {
        // A symbolic link is no log the package wrote: it is not followed into the run log.
        std::error_code fileEc;
        if (it->symlink_status(fileEc).type() == std::filesystem::file_type::regular)
            names << QFile::decodeName(it->path().filename().c_str());
    }

    QDir dir(logDir);
    QStringList sources{dir.filePath(packageLog)};
    for (QString name : names) {
        if (IsBulkLoadErrorFile(name))
            name = ConvertBulkLoadLog(name, logDir);
        if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") ||
            name == packageLog)
            continue;
        sources << dir.filePath(name);
    }
    // The exception file keeps its old content; the package log follows, then the other logs.
    AppendFiles(exceptionFile, sources);
}
