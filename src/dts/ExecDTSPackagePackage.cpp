// The package half of ExecDTSPackage: loading the package from its server, handing it the run's
// settings as global variables, executing it and judging its steps. The log merge is in
// LogMerge.cpp.

#include <QDir>
#include <QFile>
#include <filesystem>

#include "config/ExecDTSPackage.h"
#include "dts/DtsPackage.h"
#include "util/ErrLogging.h"
#include "util/FileUtils.h"
#include "util/PrivateFiles.h"

namespace {

enum class Kind { Text, Boolean };

struct GlobalSetting {
    const char* name;
    Kind kind;
};

// The global variables every package of a run receives, in the order they are compared and
// written. JobID and OverwriteGlobalSettings are written after the compared ones.
constexpr GlobalSetting kComparedVariables[] = {
    {"ExceptionFilePath", Kind::Text},
    {"DTSServer", Kind::Text},
    {"DTSServerTrustedLogin", Kind::Boolean},
    {"DTSServerLoginUserName", Kind::Text},
    {"DTSServerLoginPassword", Kind::Text},
    {"DestinationServer", Kind::Text},
    {"DestServerTrustedLogin", Kind::Boolean},
    {"DestServerLoginUserName", Kind::Text},
    {"DestServerLoginPassword", Kind::Text},
    {"DestServerDatabaseName", Kind::Text},
    {"WriteCompletionStatusToNT", Kind::Boolean},
};
constexpr const char* kJobID = "JobID";
constexpr const char* kOverwrite = "OverwriteGlobalSettings";

// The display order of GetGlobalVariableValuesAsString: the passwords are left out.
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
bool SameValue(const QVariant& current, const QVariant& wanted, Kind kind) {
    if (!current.isValid())
        return false;
    if (kind == Kind::Boolean) {
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

void ExecDTSPackage::ReleasePackage() {
    if (!package_)
        return;
    package_->UnInitialize();
    package_.reset();
}

void ExecDTSPackage::PrepareLogFiles() {
    if (TruncateExceptionLogFile && !ExceptionLogFile.isEmpty())
        QFile::remove(ExceptionLogFile);
    loadedPackageName_ = DTSPackageName;
    loadedExceptionFile_ = ExceptionLogFile;
    loadedLogDir_ = LogFileDir;
    // An empty log directory would name the current (or root) directory; it is never emptied.
    if (LogFileDir.trimmed().isEmpty())
        return;
    MakePrivateDirectory(LogFileDir);
    std::error_code ec;
    for (std::filesystem::directory_iterator it(ToFsPath(LogFileDir), ec), end; !ec && it != end;
         it.increment(ec)) {
        std::error_code fileEc;
        if (it->is_regular_file(fileEc))
            std::filesystem::remove(it->path(), fileEc);
    }
}

ExecDTSPackage::ExecDTSPackage() = default;
ExecDTSPackage::~ExecDTSPackage() = default;
ExecDTSPackage::ExecDTSPackage(ExecDTSPackage&&) noexcept = default;
ExecDTSPackage& ExecDTSPackage::operator=(ExecDTSPackage&&) noexcept = default;

bool ExecDTSPackage::LoadPackage() {
    ReleasePackage();
    if (PackageFactory)
        package_ = PackageFactory();
    PrepareLogFiles();

    QString error;
    bool loaded = false;
    if (package_) {
        if (DTSServerTrustedLogin) {
            loaded = package_->LoadFromSQLServer(DTSServer, QString(), QString(),
                                                 DTSSQLStgFlag_UseTrustedConnection, QString(),
                                                 QString(), QString(), DTSPackageName, &error);
        } else {
            loaded = package_->LoadFromSQLServer(DTSServer, DTSLoginUserName, DTSLoginPassword,
                                                 DTSSQLStgFlag_Default, QString(), QString(),
                                                 QString(), DTSPackageName, &error);
        }
    }
    if (!loaded) {
        lastError_ = QStringLiteral("Can not load DTS Package from SQL Server : ") + DTSPackageName;
        return false;
    }
    // Names are looked up without regard to case, but the package writes its log under its own
    // name: the merge must find that file whatever spelling the run was given.
    if (!package_->Name().isEmpty())
        loadedPackageName_ = package_->Name();
    return true;
}

bool ExecDTSPackage::ExecPackage() {
    lastError_.clear();
    if (!package_) {
        lastError_ = QStringLiteral("Internal error : no Package loaded.");
        return false;
    }

    // A package that cannot receive every setting of the run is not executed.
    QStringList missing;
    for (const GlobalSetting& v : kComparedVariables) {
        if (!package_->HasGlobalVariable(QLatin1String(v.name)))
            missing << QLatin1String(v.name);
    }
    for (const char* name : {kJobID, kOverwrite}) {
        if (!package_->HasGlobalVariable(QLatin1String(name)))
            missing << QLatin1String(name);
    }
    if (!missing.isEmpty()) {
        const QString packageName = package_->Name().isEmpty() ? DTSPackageName : package_->Name();
        for (const QString& name : missing) {
            lastError_ += QStringLiteral("Global variable '") + name +
                          QStringLiteral("' is missing in DTS package '") + packageName +
                          QStringLiteral("'.\r\n");
        }
        ReleasePackage();
        return false;
    }

    AddBackslash(LogFileDir);
    const QVariant runValues[] = {
        LogFileDir,
        DTSServer,
        DTSServerTrustedLogin,
        DTSLoginUserName,
        DTSLoginPassword,
        DWServer,
        DWServerTrustedLogin,
        DWServerLoginUserName,
        DWServerLoginPassword,
        DWDatabaseName,
        WriteCompletionStatusToNT,
    };
    static_assert(std::size(runValues) == std::size(kComparedVariables));

    bool changed = false;
    for (size_t i = 0; i < std::size(kComparedVariables); ++i) {
        const QString name = QLatin1String(kComparedVariables[i].name);
        if (!SameValue(package_->GlobalVariableValue(name), runValues[i],
                       kComparedVariables[i].kind)) {
            package_->SetGlobalVariableValue(name, runValues[i]);
            changed = true;
        }
    }
    package_->SetGlobalVariableValue(QLatin1String(kJobID), JobID);
    package_->SetGlobalVariableValue(QLatin1String(kOverwrite), changed);

    // From here on errors do not end the execution: the step results decide.
    package_->Execute();
    MergeLogFiles();
    const bool result = CheckStepResults();
    ReleasePackage();
    return result;
}

bool ExecDTSPackage::CheckStepResults() {
    bool result = true;
    if (!package_)
        return false;
    const int count = package_->StepCount();
    for (int i = 1; i <= count; ++i) {
        const std::optional<DtsStep> step = package_->StepItem(i);
        if (!step)
            return false;  // reading the steps failed: no verdict, no text
        if (step->ExecutionStatus == DTSStepExecStat_Completed &&
            step->ExecutionResult == DTSStepExecResult_Failure) {
            result = false;
            lastError_ += step->Name + QStringLiteral(" in '") + package_->Name() +
                          QStringLiteral("' failed.\r\n");
        }
    }
    return result;
}

QString ExecDTSPackage::GetGlobalVariableValuesAsString() const {
    QString text;
    if (!package_)
        return text;
    for (const char* name : kDisplayedVariables) {
        text += QLatin1String(name) + QStringLiteral(" = ") +
                DisplayText(package_->GlobalVariableValue(QLatin1String(name)));
    }
    return text;
}
