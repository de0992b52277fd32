#include "app/frmRunnerMain.h"

#include "engine/PackageFactory.h"
#include "rook/RookRepositoryConnection.h"
#include "util/ErrLogging.h"
#include "util/ProgramState.h"

frmRunnerMain::frmRunnerMain() {
    Settings.PackageFactory = CreatePackage2;
    // Run-log lines go to the file named in the exception-file field.
    ProgramState::SetExceptionFileSource([this] { return txtDTSErrorFile; });
}

frmRunnerMain::~frmRunnerMain() {
    ProgramState::SetExceptionFileSource(nullptr);
}

void frmRunnerMain::InitFormFields() {
    // Without a configuration file every field keeps the default of a new configuration.
    if (!PendrillConfigFile.isEmpty())
        LoadConfiguration();
}

bool frmRunnerMain::LoadConfiguration() {
    Settings.PendrillConfigFile = PendrillConfigFile;
    if (!Settings.ReadConfigFile()) {
        LogMessage(QStringLiteral("Error: Can't load config file ") + PendrillConfigFile, true, 16,
                   QStringLiteral("Pendrill error"));
        return false;
    }
    SettingsToForm();
    return true;
}

void frmRunnerMain::SettingsToForm() {
    const ExecDTSPackage& s = Settings;
    uRookConnectDTS.ServerName = s.DTSServer;
    uRookConnectDTS.TrustedLogin = s.DTSServerTrustedLogin;
    uRookConnectDTS.UserName = s.DTSLoginUserName;
    uRookConnectDTS.Password = s.DTSLoginPassword;
    uRookConnectDW.ServerName = s.DWServer;
    uRookConnectDW.TrustedLogin = s.DWServerTrustedLogin;
    uRookConnectDW.UserName = s.DWServerLoginUserName;
    uRookConnectDW.Password = s.DWServerLoginPassword;
    uRookConnectDW.DatabaseName = s.DWDatabaseName;
    cmbETLPackage = s.DTSPackageName;
    txtDTSErrorFile = s.ExceptionLogFile;
    txtLogFilesDir = s.LogFileDir;
    cbDefaultLogFilesDir = s.UseDefaultLogFileDir;
    cbTruncateErrorFile = s.TruncateExceptionLogFile;
    cbWriteWinNTEvent = s.WriteCompletionStatusToNT;
}

void frmRunnerMain::FormToSettings() {
    ExecDTSPackage& s = Settings;
    s.ExceptionLogFile = txtDTSErrorFile;
    s.LogFileDir = txtLogFilesDir;
    s.JobID = JobID;
    s.TruncateExceptionLogFile = cbTruncateErrorFile;
    s.UseDefaultLogFileDir = cbDefaultLogFilesDir;
    s.DTSServer = uRookConnectDTS.ServerName;
    s.DTSServerTrustedLogin = uRookConnectDTS.TrustedLogin;
    s.DTSLoginUserName = uRookConnectDTS.UserName;
    s.DTSLoginPassword = uRookConnectDTS.Password;
    s.DTSPackageName = cmbETLPackage;
    s.DWServer = uRookConnectDW.ServerName;
    s.DWServerTrustedLogin = uRookConnectDW.TrustedLogin;
    s.DWServerLoginUserName = uRookConnectDW.UserName;
    s.DWServerLoginPassword = uRookConnectDW.Password;
    s.DWDatabaseName = uRookConnectDW.DatabaseName;
    s.WriteCompletionStatusToNT = cbWriteWinNTEvent;
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
