// PackageRun: loading the package from its server, handing it the run's settings as global
// variables, executing it and judging its steps. The log merge is in LogMerge.cpp.

#include "dts/PackageRun.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "config/RunSettings.h"
#include "dts/DtsPackage.h"
#include "dts/RunVariables.h"
#include "util/Errors.h"
#include "util/FileUtils.h"
#include "util/PrivateFiles.h"
#include "util/RunTargets.h"
#include "util/StatusFile.h"

namespace {

// The display order of GlobalVariablesText: the passwords are left out.
constexpr const char* kDisplayedVariables[] = {
    "ExceptionFilePath",
    "DTSServer",
    "DTSServerTrustedLogin",
    "DTSServerLoginUserName",
    "DestinationServer",
    "DestServerTrustedLogin",
    "DestServerLoginUserName",
    "DestServerDatabaseName",
    "JobID",
    "WriteCompletionStatusToNT",
    "OverwriteGlobalSettings",
};

// A package value compared with the run's value of the same kind. A boolean variable holding
// text is read the way a boolean setting is ("false" in any case and "0" are false).
bool SameValue(const QVariant& current, const QVariant& wanted, RunVariableKind kind) {
    if (!current.isValid())
        return false;
    if (kind == RunVariableKind::Boolean) {
        if (current.typeId() == QMetaType::QString) {
            const QString t = current.toString().trimmed();
            const bool b = !(t.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0 ||
                             t == QLatin1String("0") || t.isEmpty());
            return b == wanted.toBool();
        }
        return current.toBool() == wanted.toBool();
    }
    return current.toString() == wanted.toString();
}

// The text of a value as the display shows it: booleans as "True"/"False".
QString DisplayText(const QVariant& value) {
    if (value.typeId() == QMetaType::Bool)
        return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    return value.toString();
}

}  // namespace

void PackageRun::release() {
    if (!package_)
        return;
    package_->UnInitialize();
    package_.reset();
}

namespace {

// The real directories a file's name sits in ("" when it cannot be found), with the file itself
// followed when it is a link, so that a file reached through a link counts where it lies.
QStringList RealDirectoriesOf(const QString& file) {
    QStringList dirs;
    if (file.trimmed().isEmpty())
        return dirs;
    const QFileInfo info(file);
    const QString named = QFileInfo(info.absolutePath()).canonicalFilePath();
    if (!named.isEmpty())
        dirs << named;
    const QString target = info.canonicalFilePath();
    if (!target.isEmpty())
        dirs << QFileInfo(target).absolutePath();
    return dirs;
}

// The account's home directories: the one of the password database and $HOME.
QStringList HomeDirectories() {
    QStringList homes;
    if (const passwd* pw = ::getpwuid(::geteuid()); pw != nullptr && pw->pw_dir != nullptr)
        homes << QFileInfo(QFile::decodeName(pw->pw_dir)).canonicalFilePath();
    homes << QFileInfo(QDir::homePath()).canonicalFilePath();
    return homes;
}

// The names of the files a package writes into its log directory: "<package>.log", and for its
// steps "<package>_<step>_Bulkload.xml" (with the "...xml__.log" text the merge makes of it) and
// "<package>_<step>_output.log". The package name is compared without regard to case, as
// packages are looked up.
bool IsPackageLogFile(const QString& name, const QString& package) {
    if (package.isEmpty() || !name.startsWith(package, Qt::CaseInsensitive))
        return false;
    const QString rest = name.mid(package.size());
    if (rest.compare(QLatin1String(".log"), Qt::CaseInsensitive) == 0)
        return true;
    if (!rest.startsWith('_'))
        return false;
    for (const char* suffix : {"_Bulkload.xml", "_Bulkload.xml__.log", "_output.log"}) {
        const QLatin1String end(suffix);
        if (rest.size() > end.size() + 1 && rest.endsWith(end, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

}  // namespace

QString RunLogClash(const QString& runLog, const QString& configFile) {
    const struct {
        QString file;
        const char* what;
    } others[] = {{configFile, "the configuration file"},
                  {StatusFilePath(), "the status file"},
                  {RunTargets::Current().summaryFile, "the summary file"}};
    for (const auto& other : others)
        if (SameFile(runLog, other.file))
            return QStringLiteral(
                       "The run log (LogFile) %1 is %2; choose a file of its own for "
                       "the run log.")
                .arg(runLog, QLatin1String(other.what));
    return QString();
}

bool PackageRun::prepareLogFiles(QString* error) {
    const QString& LogFileDir = settings_.LogFileDir;
    const QString& ExceptionLogFile = settings_.ExceptionLogFile;
    const bool TruncateExceptionLogFile = settings_.TruncateExceptionLogFile;
    loadedPackageName_ = settings_.DTSPackageName;
    loadedExceptionFile_ = ExceptionLogFile;
    loadedLogDir_ = LogFileDir;
    const QString clash = RunLogClash(ExceptionLogFile, settings_.PendrillConfigFile);
    if (!clash.isEmpty())
        return Fail(error, clash);
    // Truncating the run log deletes a file or a link of its name, never a device or a pipe.
    auto truncateRunLog = [&] {
        if (TruncateExceptionLogFile && !ExceptionLogFile.isEmpty())
            RemoveFileOrLink(ExceptionLogFile);
    };
    // An empty log directory would name the current (or root) directory; it is never emptied.
    if (LogFileDir.trimmed().isEmpty()) {
        truncateRunLog();
        return true;
    }
    MakePrivateDirectory(LogFileDir);
    // Only the files the package writes are deleted, and only in the directory's real place. A
    // directory whose files a run must never touch is refused before anything is deleted.
    const QString real = QFileInfo(LogFileDir).canonicalFilePath();
    if (!real.isEmpty()) {
        QString refusal;
        if (real == QLatin1String("/"))
            refusal = QStringLiteral("it is the root directory");
        else if (HomeDirectories().contains(real))
            refusal = QStringLiteral("it is the home directory");
        const struct {
            QString file;
            const char* what;
        } own[] = {{settings_.PendrillConfigFile, "the configuration file"},
                   {StatusFilePath(), "the status file"},
                   {ExceptionLogFile, "the run log"}};
        for (const auto& f : own)
            if (refusal.isEmpty() && RealDirectoriesOf(f.file).contains(real))
                refusal = QStringLiteral("it holds %1 %2").arg(QLatin1String(f.what), f.file);
        if (!refusal.isEmpty()) {
            SetError(error, QStringLiteral("The log directory %1 is not emptied: %2. Choose a "
                                           "directory of its own for the package's log files.")
                                .arg(LogFileDir, refusal));
            return false;
        }
    }
    truncateRunLog();
    // The directory is opened without following a link, and its entries are looked at and
    // deleted relative to it: a link among them is never followed (a link under a log file's
    // name is itself deleted, so the package cannot write through it), nor is a directory.
    const int dirFd = real.isEmpty() ? -1
                                     : ::open(QFile::encodeName(real).constData(),
                                              O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dirFd < 0)
        return true;
    const int listFd = ::dup(dirFd);
    DIR* listing = listFd < 0 ? nullptr : ::fdopendir(listFd);
    if (listing == nullptr) {
        if (listFd >= 0)
            ::close(listFd);
        ::close(dirFd);
        return true;
    }
    while (const dirent* entry = ::readdir(listing)) {
        const QString name = QFile::decodeName(entry->d_name);
        struct stat st {};
        if (IsPackageLogFile(name, settings_.DTSPackageName) &&
            ::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)))
            ::unlinkat(dirFd, entry->d_name, 0);
    }
    ::closedir(listing);
    ::close(dirFd);
    return true;
}

PackageRun::PackageRun(const RunSettings& settings, Factory factory)
    : settings_(settings), factory_(std::move(factory)) {}

PackageRun::~PackageRun() {
    release();
}

bool PackageRun::Load(QString* error) {
    release();
    if (factory_)
        package_ = factory_();
    if (!prepareLogFiles(error))
        return false;

    const RunSettings& s = settings_;
    bool loaded = false;
    QString why;
    if (package_) {
        if (s.DTSServerTrustedLogin) {
            loaded = package_->LoadFromSQLServer(s.DTSServer, QString(), QString(),
                                                 DTSSQLStgFlag_UseTrustedConnection, QString(),
                                                 QString(), QString(), s.DTSPackageName, &why);
        } else {
            loaded = package_->LoadFromSQLServer(
                s.DTSServer, s.DTSLoginUserName, s.DTSLoginPassword, DTSSQLStgFlag_Default,
                QString(), QString(), QString(), s.DTSPackageName, &why);
        }
    }
    if (!loaded)
        return Fail(error, QStringLiteral("Can not load DTS Package from SQL Server : ") +
                               s.DTSPackageName);
    // Names are looked up without regard to case, but the package writes its log under its own
    // name: the merge must find that file whatever spelling the run was given.
    if (!package_->Name().isEmpty())
        loadedPackageName_ = package_->Name();
    return true;
}

bool PackageRun::Execute(QString* error) {
    if (!package_)
        return Fail(error, QStringLiteral("Internal error : no Package loaded."));
    const RunSettings& s = settings_;

    // A package that cannot receive every setting of the run is not executed.
    QStringList missing;
    for (const RunVariable& v : kRunVariables) {
        if (!package_->HasGlobalVariable(QLatin1String(v.name)))
            missing << QLatin1String(v.name);
    }
    if (!missing.isEmpty()) {
        const QString packageName =
            package_->Name().isEmpty() ? s.DTSPackageName : package_->Name();
        QString text;
        for (const QString& name : missing) {
            text += QStringLiteral("Global variable '") + name +
                    QStringLiteral("' is missing in DTS package '") + packageName +
                    QStringLiteral("'.\r\n");
        }
        release();
        return Fail(error, text);
    }

    // No log directory: the package writes no log files (a separator alone would name the root).
    QString logDir = s.LogFileDir.trimmed().isEmpty() ? QString() : s.LogFileDir;
    if (!logDir.isEmpty())
        AddBackslash(logDir);
    const QVariant runValues[] = {
        logDir,
        s.DTSServer,
        s.DTSServerTrustedLogin,
        s.DTSLoginUserName,
        s.DTSLoginPassword,
        s.DWServer,
        s.DWServerTrustedLogin,
        s.DWServerLoginUserName,
        s.DWServerLoginPassword,
        s.DWDatabaseName,
        s.WriteCompletionStatusToNT,
    };
    static_assert(std::size(runValues) == kComparedRunVariables);

    bool changed = false;
    for (size_t i = 0; i < kComparedRunVariables; ++i) {
        const QString name = QLatin1String(kRunVariables[i].name);
        if (!SameValue(package_->GlobalVariableValue(name), runValues[i], kRunVariables[i].kind)) {
            package_->SetGlobalVariableValue(name, runValues[i]);
            changed = true;
        }
    }
    package_->SetGlobalVariableValue(QLatin1String(kRunVariables[kJobIdVariable].name), s.JobID);
    package_->SetGlobalVariableValue(QLatin1String(kRunVariables[kOverwriteVariable].name),
                                     changed);

    // From here on errors do not end the execution: the step results decide.
    package_->Execute();
    mergeLogFiles();
    QString text;
    const bool result = judgeSteps(text);
    release();
    if (error != nullptr)
        *error = text;
    return result;
}

bool PackageRun::judgeSteps(QString& text) {
    bool result = true;
    stepResults_.clear();
    if (!package_)
        return false;
    const int count = package_->StepCount();
    for (int i = 1; i <= count; ++i) {
        const std::optional<DtsStep> step = package_->StepItem(i);
        if (!step)
            return false;  // reading the steps failed: no verdict, no text
        stepResults_.push_back(*step);
        if (step->ExecutionStatus == DTSStepExecStat_Completed &&
            step->ExecutionResult == DTSStepExecResult_Failure) {
            result = false;
            text += step->Name + QStringLiteral(" in '") + package_->Name() +
                    QStringLiteral("' failed.\r\n");
        }
    }
    return result;
}

QString PackageRun::GlobalVariablesText() const {
    QString text;
    if (!package_)
        return text;
    for (const char* name : kDisplayedVariables) {
        text += QLatin1String(name) + QStringLiteral(" = ") +
                DisplayText(package_->GlobalVariableValue(QLatin1String(name)));
    }
    return text;
}
