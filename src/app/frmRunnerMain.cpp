#include "app/frmRunnerMain.h"

#include <QDateTime>
#include <QDir>

#include "app/RunLocks.h"
#include "datasources/ETLPackages.h"
#include "datasources/cDataSource.h"
#include "engine/PackageFactory.h"
#include "rook/RookJobHistory.h"
#include "rook/RookRepositoryConnection.h"
#include "util/ErrLogging.h"
#include "util/FileUtils.h"
#include "util/OperatorInterface.h"
#include "util/PrivateFiles.h"
#include "util/ProgramState.h"

frmRunnerMain::frmRunnerMain() {
    Settings.PackageFactory = CreatePackage2;
    Registry.SetCompany(QStringLiteral("Tessaly"));
    Registry.SetAppName(QStringLiteral("Pendrill"));
    // Run-log lines go to the file named in the exception-file field.
    ProgramState::SetExceptionFileSource([this] { return txtDTSErrorFile; });
    // Every logged text also goes to the status bar.
    ProgramState::SetStatusTextSink([this](const QString& text) { SetFormStatus(text); });
    // A configuration file made private when a password is saved into it: run log, status bar.
    SetPrivateFileNoticeHandler([](const QString& text) { LogInfo(text); });
}

frmRunnerMain::~frmRunnerMain() {
    ProgramState::SetExceptionFileSource(nullptr);
    ProgramState::SetStatusTextSink(nullptr);
    SetPrivateFileNoticeHandler(nullptr);
}

QString frmRunnerMain::cmdExecuteCaption() const {
    return StartInRookJobConfigMode ? QStringLiteral("E&xit") : QStringLiteral("E&xecute");
}

QString frmRunnerMain::cmdCloseCaption() const {
    return StartInRookJobConfigMode ? QStringLiteral("&Cancel") : QStringLiteral("&Close");
}

void frmRunnerMain::SetJobHistory(RookJobHistory* record) {
    jobHistory_ = record;
}

RookJobHistory& frmRunnerMain::JobHistory() {
    if (jobHistory_ != nullptr)
        return *jobHistory_;
    if (!ownJobHistory_)
        ownJobHistory_ = std::make_unique<RookJobHistory>();
    return *ownJobHistory_;
}

void frmRunnerMain::FillJobHistoryOpeningFields() {
    RookJobHistory& record = JobHistory();
    const RookConnectModel& dts = uRookConnectDTS;
    const RookConnectModel& dw = uRookConnectDW;
    record.setSourceServer(dts.ServerName);
    record.setSourceDatabase(QStringLiteral("DTS Local Packages"));
    record.setSourceUser(dts.TrustedLogin ? record.CurrentUserName() : dts.UserName);
    record.setTargetServer(dw.ServerName);
    record.setTargetDatabase(dw.DatabaseName);
    record.setTargetUser(dw.TrustedLogin ? record.CurrentUserName() : dw.UserName);
    record.setExceptionFile(txtDTSErrorFile);
    record.setStartTime(QDateTime::currentDateTime());
    // "0" and a missing value are recorded as the empty text, never as NULL.
    record.setJobIdentifier(JobID == QLatin1String("0") ? QStringLiteral("") : JobID);
}

void frmRunnerMain::InitFormFields() {
    if (!PendrillConfigFile.isEmpty())
        LoadConfiguration(PendrillConfigFile);
    else
        NewConfiguration();
    QString message;
    CheckDTSInfo(message);
    CheckDWInfo(message);
}

bool frmRunnerMain::IsConnectToRookRepository(QString& errorText) {
    RookRepositoryConnection connection;
    const int state = connection.State();
    if (state == 3) {
        errorText.clear();
        return true;
    }
    if (state == 1)
        errorText = QStringLiteral("Cannot connect to the Rook Repository.   ");
    else
        errorText = QStringLiteral(
            "No repository found !\r\nUse Repository Manager to specify "
            "your Rook Repository. ");
    return false;
}

void frmRunnerMain::SetFormTitle(const QString& text) {
    Caption = QStringLiteral("Pendrill : ") + text;
}

void frmRunnerMain::SetFormStatus(const QString& text) {
    StatusText = text;
    OperatorInterface& op = Operator();
    op.SetStatusText(text);
    op.ProcessPendingEvents();
}

bool frmRunnerMain::CheckDTSInfo(QString& message) {
    dtsCheckResult_ = false;
    if (cmbETLPackage.Text().isEmpty())
        message = QStringLiteral("DTS Package not filled");
    else if (uRookConnectDTS.ServerName.isEmpty())
        message = QStringLiteral("DTS Server not filled");
    else if (txtDTSErrorFile.isEmpty())
        message = QStringLiteral("DTS Error file not filled");
    else
        dtsCheckResult_ = true;
    return dtsCheckResult_;
}

bool frmRunnerMain::CheckDWInfo(QString& message) {
    dwCheckResult_ = false;
    if (uRookConnectDW.ServerName.isEmpty())
        message = QStringLiteral("Data warehouse server not filled");
    else if (uRookConnectDW.DatabaseName.isEmpty())
        message = QStringLiteral("Data warehouse database not filled");
    else
        dwCheckResult_ = true;
    return dwCheckResult_;
}

bool frmRunnerMain::CheckRunnable(QString& error) {
    QString dtsMessage, dwMessage;
    const bool dts = CheckDTSInfo(dtsMessage);
    const bool dw = CheckDWInfo(dwMessage);
    Enabled.cmdExecute = dts && dw;
    Enabled.cmdSave = Enabled.cmdExecute;
    error = dtsMessage.isEmpty() ? dwMessage : dtsMessage;
    return Enabled.cmdExecute;
}

void frmRunnerMain::SetDefaultLogFilesDir() {
    // The temporary directory as the platform gives it, with its trailing separator.
    txtLogFilesDir = QDir::tempPath() + QLatin1Char('/') + QStringLiteral("Pendrill/") +
                     cmbETLPackage.Text() + QLatin1Char('/');
}

void frmRunnerMain::SetLogFileText(const QString& text) {
    txtDTSErrorFile = text;
    Enabled.cbTruncateErrorFile = !text.trimmed().isEmpty();
}

void frmRunnerMain::LeaveLogFileBox() {
    QString file = txtDTSErrorFile.trimmed();
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
    QString message;
    CheckDTSInfo(message);
}

void frmRunnerMain::BrowsedLogFile(const QString& file) {
    if (!file.isEmpty())
        SetLogFileText(file);
    QString message;
    CheckDTSInfo(message);
}

void frmRunnerMain::DTSConnectionChanged() {
    ClearDataLinks();
}

void frmRunnerMain::DWConnectionChanged() {
    ClearDataLinks();
    dataLinksOutdated_ = true;
}

void frmRunnerMain::TestConnection(const RookConnectModel& control) {
    OperatorInterface& op = Operator();
    op.SetMousePointer(OperatorInterface::HourglassPointer);
    QString errorText;
    if (!control.TryConnection(errorText))
        LogMessage(QStringLiteral("Error while connecting to : ") + control.ServerName +
                       QStringLiteral("\r\n") + errorText,
                   true, 16, QStringLiteral("Pendrill"));
    op.SetMousePointer(OperatorInterface::DefaultPointer);
}

void frmRunnerMain::Unload() {
    Unloaded = true;
    Operator().UnloadAllForms();
}
