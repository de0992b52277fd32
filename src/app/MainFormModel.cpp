// The form model's own state: start-up, captions and status text, the job-history record, the
// checks of required input, the log-file box, the connection test, the view.

#include "app/MainFormModel.h"

#include <QDateTime>
#include <QDir>

#include "datasources/PackageCatalogue.h"
#include "engine/PackageFactory.h"
#include "history/JobRecord.h"
#include "history/RepositoryConnection.h"
#include "util/Errors.h"
#include "util/FileUtils.h"
#include "util/OperatorInterface.h"
#include "util/PrivateFiles.h"
#include "util/RunTargets.h"

MainFormModel::MainFormModel() {
    PackageFactory = CreatePackage2;
    Registry.SetCompany(QStringLiteral("Tessaly"));
    Registry.SetAppName(QStringLiteral("Pendrill"));
    // Run-log lines go to the file named in the exception-file field.
    Log.file = [this] { return errorFile; };
    // Every logged text also goes to the status bar.
    Log.statusText = [this](const QString& text) { SetFormStatus(text); };
    // A configuration file made private when a password is saved into it: run log, status bar.
    RunTargets::Current().privateFileNotice = [this](const QString& text) { Log.Info(text); };
    RunTargets::Current().windowRunLog = &Log;
}

MainFormModel::~MainFormModel() {
    RunTargets::Current().privateFileNotice = nullptr;
    RunTargets::Current().windowRunLog = nullptr;
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

void MainFormModel::FillJobHistoryOpeningFields() {
    JobRecord& record = JobHistory();
    const ServerConnectionModel& dts = packageServerWidget;
    const ServerConnectionModel& dw = warehouseServerWidget;
    record.setSourceServer(dts.ServerName);
    record.setSourceDatabase(QStringLiteral("DTS Local Packages"));
    record.setSourceUser(dts.TrustedLogin ? record.CurrentUserName() : dts.UserName);
    record.setTargetServer(dw.ServerName);
    record.setTargetDatabase(dw.DatabaseName);
    record.setTargetUser(dw.TrustedLogin ? record.CurrentUserName() : dw.UserName);
    record.setExceptionFile(errorFile);
    record.setStartTime(QDateTime::currentDateTime());
    // "0" and a missing value are recorded as the empty text, never as NULL.
    record.setJobIdentifier(JobID == QLatin1String("0") ? QStringLiteral("") : JobID);
}

bool MainFormModel::ConnectToRepository(QString* error) {
    RepositoryConnection connection;
    const int state = connection.State();
    if (state == 3)
        return true;
    if (state == 1)
        SetError(error, QStringLiteral("Cannot connect to the Rook Repository.   "));
    else
        SetError(error, QStringLiteral("No repository found !\r\nUse Repository Manager to specify "
                                       "your Rook Repository. "));
    return false;
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
    dtsCheckResult_ = false;
    if (packages.Text().isEmpty())
        SetError(error, QStringLiteral("DTS Package not filled"));
    else if (packageServerWidget.ServerName.isEmpty())
        SetError(error, QStringLiteral("DTS Server not filled"));
    else if (errorFile.isEmpty())
        SetError(error, QStringLiteral("DTS Error file not filled"));
    else
        dtsCheckResult_ = true;
    return dtsCheckResult_;
}

bool MainFormModel::CheckDWInfo(QString* error) {
    dwCheckResult_ = false;
    if (warehouseServerWidget.ServerName.isEmpty())
        SetError(error, QStringLiteral("Data warehouse server not filled"));
    else if (warehouseServerWidget.DatabaseName.isEmpty())
        SetError(error, QStringLiteral("Data warehouse database not filled"));
    else
        dwCheckResult_ = true;
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
