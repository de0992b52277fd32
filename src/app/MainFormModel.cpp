// The form model's own state: start-up, captions and status text, the job-history record, the
// checks of required input, the log-file box, the connection test, the view.

#include "app/MainFormModel.h"

#include <QDateTime>
#include <QDir>

#include "datasources/PackageCatalogue.h"
#include "engine/PackageFactory.h"
#include "history/JobRecord.h"
#include "util/FileUtils.h"
#include "util/OperatorInterface.h"
#include "util/PrivateFiles.h"

MainFormModel::MainFormModel() : logTargets_(Log) {
    // The package notes what it skips in the window's run log.
    PackageFactory = [this] { return CreatePackageLoggingTo(Log); };
    Registry.SetCompany(QStringLiteral("Tessaly"));
    Registry.SetAppName(QStringLiteral("Pendrill"));
    // Run-log lines go to the file named in the exception-file field.
    Log.file = [this] { return errorFile; };
    // Every logged text also goes to the status bar.
    Log.statusText = [this](const QString& text) { SetFormStatus(text); };
}

MainFormModel::~MainFormModel() = default;

QString MainFormModel::PackageNotListedReason() const {
    return ::PackageNotListedReason(packages.Text(), Settings.DTSPackageName,
                                    packageServerWidget.ServerName, packageCatalogue_.get());
}

QString MainFormModel::executeCaption() const {
    return JobConfigMode ? QStringLiteral("E&xit") : QStringLiteral("E&xecute");
}

QString MainFormModel::closeCaption() const {
    return JobConfigMode ? QStringLiteral("&Cancel") : QStringLiteral("&Close");
}

MainFormView& MainFormModel::View() {
    static MainFormView none;
    return view_ != nullptr ? *view_ : none;
}

void MainFormModel::SetJobHistory(JobRecord* record) {
    jobHistory_ = record;
}

JobRecord& MainFormModel::JobHistory() {
    if (jobHistory_ != nullptr)
        return *jobHistory_;
    if (!ownJobHistory_)
        ownJobHistory_ = std::make_unique<JobRecord>();
    return *ownJobHistory_;
}

RunSettings MainFormModel::SettingsFromForm() const {
    RunSettings s = Settings;
    s.ExceptionLogFile = errorFile;
    s.LogFileDir = logFilesDir;
    s.JobID = JobID;
    s.TruncateExceptionLogFile = truncateErrorFile;
    s.UseDefaultLogFileDir = useDefaultLogFilesDir;
    s.DTSServer = packageServerWidget.ServerName;
    s.DTSServerTrustedLogin = packageServerWidget.TrustedLogin;
    s.DTSLoginUserName = packageServerWidget.UserName;
    s.DTSLoginPassword = packageServerWidget.Password;
    s.DTSPackageName = packages.Text();
    s.DWServer = warehouseServerWidget.ServerName;
    s.DWDatabaseName = warehouseServerWidget.DatabaseName;
    s.DWServerTrustedLogin = warehouseServerWidget.TrustedLogin;
    s.DWServerLoginUserName = warehouseServerWidget.UserName;
    s.DWServerLoginPassword = warehouseServerWidget.Password;
    s.WriteCompletionStatusToNT = writeCompletionEvent;
    return s;
}

void MainFormModel::FillJobHistoryOpeningFields() {
    FillRecordOpeningFields(JobHistory(), SettingsFromForm());
}

void MainFormModel::SetFormTitle(const QString& text) {
    Caption = QStringLiteral("Pendrill : ") + text;
}

void MainFormModel::SetFormStatus(const QString& text) {
    StatusText = text;
    OperatorInterface& op = Operator();
    op.SetStatusText(text);
    op.ProcessPendingEvents();
}

bool MainFormModel::CheckDTSInfo(QString* error) {
    dtsCheckResult_ =
        CheckPackageSettings(packages.Text(), packageServerWidget.ServerName, errorFile, error);
    return dtsCheckResult_;
}

bool MainFormModel::CheckDWInfo(QString* error) {
    dwCheckResult_ = CheckWarehouseSettings(warehouseServerWidget.ServerName,
                                            warehouseServerWidget.DatabaseName, error);
    return dwCheckResult_;
}

bool MainFormModel::CheckRunnable(QString* error) {
    QString dtsMessage, dwMessage;
    const bool dts = CheckDTSInfo(&dtsMessage);
    const bool dw = CheckDWInfo(&dwMessage);
    Enabled.executeButton = dts && dw;
    Enabled.saveButton = Enabled.executeButton;
    if (error != nullptr)
        *error = dtsMessage.isEmpty() ? dwMessage : dtsMessage;
    return Enabled.executeButton;
}

void MainFormModel::SetDefaultLogFilesDir() {
    // The temporary directory as the platform gives it, with its trailing separator.
    logFilesDir = QDir::tempPath() + QLatin1Char('/') + QStringLiteral("Pendrill/") +
                  packages.Text() + QLatin1Char('/');
}

void MainFormModel::SetLogFileText(const QString& text) {
    errorFile = text;
    Enabled.truncateErrorFile = !text.trimmed().isEmpty();
}

void MainFormModel::LeaveLogFileBox() {
    QString file = errorFile.trimmed();
    // Absolute: "/...", a drive ("X:..."), or a network path ("\\...").
    const bool absolute = file.startsWith(QLatin1Char('/')) ||
                          (file.size() >= 2 && file.at(1) == QLatin1Char(':')) ||
                          file.startsWith(QLatin1String("\\\\"));
    if (!file.isEmpty() && !absolute)
        file = QDir::tempPath() + QLatin1Char('/') + file;
    SetLogFileText(file);
    if (!file.isEmpty()) {
        const QString directory = DirectoryOfPath(file);
        if (!directory.isEmpty() && !FileOrFolderExists(directory))
            MakePrivateDirectory(directory);
    }
    CheckDTSInfo();
}

void MainFormModel::BrowsedLogFile(const QString& file) {
    if (!file.isEmpty())
        SetLogFileText(file);
    CheckDTSInfo();
}

void MainFormModel::TestConnection(const ServerConnectionModel& control) {
    MainFormView& view = View();
    view.SetMousePointer(MainFormView::HourglassPointer);
    QString errorText;
    if (!control.TryConnection(&errorText))
        Log.Message(QStringLiteral("Error while connecting to : ") + control.ServerName +
                        QStringLiteral("\r\n") + errorText,
                    true, 16, QStringLiteral("Pendrill"));
    view.SetMousePointer(MainFormView::DefaultPointer);
}

void MainFormModel::Unload() {
    Unloaded = true;
    View().CloseAllWindows();
}

MainFormModel::FileDialogSettings MainFormModel::LogFileDialog() const {
    FileDialogSettings d;
    d.Filter = QStringLiteral("Text (*.txt)");
    return d;
}
