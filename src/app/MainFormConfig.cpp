// The commands that act on a run configuration as a whole: New, Open, Save, Save As, Execute and
// Close, and the copies between the window and the run settings.

#include <QFile>

#include "app/MainFormModel.h"
#include "app/RunSequence.h"
#include "config/InstallPaths.h"
#include "config/ValueChecks.h"
#include "datasources/DataLinkCatalogue.h"
#include "datasources/DataLinks.h"
#include "datasources/DataSourceSections.h"
#include "datasources/DatabaseLists.h"
#include "util/FileUtils.h"
#include "util/OperatorInterface.h"
#include "util/RunLog.h"
#include "util/StopFlags.h"
#include "util/TextFiles.h"

namespace {

const QString kLastUsedSection = QStringLiteral("Pendrill");
const QString kLastUsedKey = QStringLiteral("LastUsedConfigFile");
const QString kErrorTitle = QStringLiteral("Pendrill error");

// Why the settings cannot be saved as they stand: a password the scrambling would change (it
// keeps printable ASCII only), of the run or of a data link. Empty when they can.
QString unscramblablePassword(const RunSettings& s, const DataLinks* sources) {
    QString why = ScrambledValueRefusal(QStringLiteral("DTSPwd"), s.DTSLoginPassword);
    if (why.isEmpty())
        why = ScrambledValueRefusal(QStringLiteral("DWPwd"), s.DWServerLoginPassword);
    if (sources != nullptr && why.isEmpty()) {
        for (const DataLink& ds : sources->All()) {
            const QString of = QStringLiteral(" of data link ") + ds.name;
            for (const auto& [key, value] :
                 {std::pair{QStringLiteral("Password"), ds.password},
                  std::pair{QStringLiteral("ConnectString"), ds.connectString},
                  std::pair{QStringLiteral("FTPPassword"), ds.ftpPassword}})
                if (why.isEmpty())
                    why = ScrambledValueRefusal(key + of, value);
        }
    }
    return why;
}

}  // namespace

void MainFormModel::StoreLastUsedConfigFile() {
    Registry.SaveSetting(kLastUsedSection, kLastUsedKey, PendrillConfigFile);
}

QString MainFormModel::LastUsedConfigFile() const {
    return Registry.GetSetting(kLastUsedSection, kLastUsedKey);
}

void MainFormModel::NewConfiguration() {
    packageServerWidget.ServerName.clear();
    models.Clear();
    packages.Clear();
    SetLogFileText(QString());
    logFilesDir.clear();
    useDefaultLogFilesDir = true;
    truncateErrorFile = true;
    Enabled.logFilesDirButton = false;
    SetDefaultLogFilesDir();
    Enabled.logFilesDir = false;
    if (warehouseServerWidget.Status == ServerConnectionModel::StatusConnected)
        warehouseServerWidget.ResetToLocal();
    writeCompletionEvent = false;
    dataLinks.Clear();
    ChooseDataLink(-1);
}

void MainFormModel::OpenConfiguration(const QString& file) {
    OperatorInterface& op = Operator();
    op.SetMousePointer(OperatorInterface::HourglassPointer);
    LoadConfiguration(file);
    CheckDTSInfo();
    CheckDWInfo();
    StoreLastUsedConfigFile();
    dataLinksOutdated_ = true;
    RefreshDataLinks();
    op.SetMousePointer(OperatorInterface::DefaultPointer);
}

void MainFormModel::DropFile(const QString& file) {
    LoadConfiguration(file);
}

bool MainFormModel::LoadConfiguration(const QString& file) {
    Settings.PendrillConfigFile = file;
    bool loaded = false;
    if (!file.isEmpty()) {
        loaded = Settings.ReadConfigFile();
        if (!loaded) {
            LogMessage(QStringLiteral("Error: Can't load config file ") + file, true, 16,
                       kErrorTitle);
        } else {
            SettingsToForm();
            SetFormTitle(QLatin1Char('[') + FileNameOfPath(file) + QLatin1Char(']'));
        }
    }
    PendrillConfigFile = file;
    return loaded;
}

void MainFormModel::SettingsToForm() {
    const RunSettings& s = Settings;
    packageServerWidget.ServerName = s.DTSServer;
    packageServerWidget.TrustedLogin = s.DTSServerTrustedLogin;
    packageServerWidget.UserName = s.DTSLoginUserName;
    packageServerWidget.Password = s.DTSLoginPassword;

    OpenModelList();
    ChooseModel(FindComboItem(models, GetEtlModelName(s.DTSPackageName)));
    OpenPackageList();
    ChoosePackage(FindComboItem(packages, s.DTSPackageName));

    SetLogFileText(s.ExceptionLogFile);
    logFilesDir = s.LogFileDir;
    useDefaultLogFilesDir = s.UseDefaultLogFileDir;
    truncateErrorFile = s.TruncateExceptionLogFile;

    warehouseServerWidget.ServerName = s.DWServer;
    warehouseServerWidget.DatabaseName = s.DWDatabaseName;
    warehouseServerWidget.TrustedLogin = s.DWServerTrustedLogin;
    warehouseServerWidget.UserName = s.DWServerLoginUserName;
    warehouseServerWidget.Password = s.DWServerLoginPassword;

    writeCompletionEvent = s.WriteCompletionStatusToNT;
}

void MainFormModel::FormToSettings() {
    RunSettings& s = Settings;
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
}

bool MainFormModel::SaveConfigurationFile(const QString& file) {
    if (!file.isEmpty())
        PendrillConfigFile = file;
    Settings.PendrillConfigFile = PendrillConfigFile;
    FormToSettings();
    if (PendrillConfigFile.isEmpty())
        return false;
    // A configuration is only saved together with data links read from the warehouse.
    if (!DataSourceInfoPresent() && !getDataLinkInfo())
        return false;
    if (const QString why = unscramblablePassword(Settings, Warehouse.Links()); !why.isEmpty()) {
        LogMessage(QStringLiteral("Error: Can't save config file ") + PendrillConfigFile +
                       QStringLiteral("\r\n") + why,
                   true, 16, kErrorTitle);
        return false;
    }
    bool written = false;
    const bool saved = Settings.WriteConfigFile(&written);
    // The data links' sections follow the fixed ones in every file that was written.
    if (written && Warehouse.Links() != nullptr)
        WriteDataSourceSections(Settings.PendrillConfigFile, *Warehouse.Links());
    if (!saved) {
        LogMessage(QStringLiteral("Error: Can't save config file ") + PendrillConfigFile, true, 16,
                   kErrorTitle);
        return false;
    }
    SetFormTitle(QLatin1Char('[') + FileNameOfPath(PendrillConfigFile) + QLatin1Char(']'));
    return true;
}

void MainFormModel::SaveConfiguration(const QString& chosenFile) {
    OperatorInterface& op = Operator();
    op.SetMousePointer(OperatorInterface::HourglassPointer);
    SaveConfigurationFile(chosenFile);
    StoreLastUsedConfigFile();
    Warehouse.SaveAll();
    op.SetMousePointer(OperatorInterface::DefaultPointer);
}

void MainFormModel::Execute() {
    StopFlags::StopRequested = false;
    FillJobHistoryOpeningFields();
    SetFormStatus(QString());
    StoreLastUsedConfigFile();
    OperatorInterface& op = Operator();

    if (JobConfigMode) {
        if (PendrillConfigFile.isEmpty()) {
            op.ShowMessageBox(
                QStringLiteral("You did not save your current settings to an Pendrill config "
                               "file.\r\nSettings must be saved, because Pendrill will read this "
                               "info when \r\nthe job is executed."),
                16, QStringLiteral("Pendrill config mode"));
            return;
        }
        SaveConfiguration();
        WriteJobConfigFile(JobConfigFile, QStringLiteral("-configfile \"") + PendrillConfigFile +
                                              QLatin1Char('"'));
        Unload();
        return;
    }

    if (packages.Text().isEmpty() || warehouseServerWidget.DatabaseName.isEmpty()) {
        LogMessage(
            QStringLiteral("Please fill in DTS package, DTS server and data warehouse database"),
            true, 16, QStringLiteral("Connect to data warehouse server"));
        if (packages.Text().isEmpty()) {
            CurrentPage = PackagePage;
            op.ShowMainWindowPage(PackagePage);
            op.SetFocusTo(QStringLiteral("packages"));
        } else {
            CurrentPage = WarehousePage;
            op.ShowMainWindowPage(WarehousePage);
            op.SetFocusTo(QStringLiteral("warehouseServerWidget"));
        }
        return;
    }
    if (errorFile.isEmpty()) {
        LogMessage(QStringLiteral("Please fill in error file before executing DTS package"), true,
                   16, QStringLiteral("DTS package info check input"));
        CurrentPage = PackagePage;
        op.ShowMainWindowPage(PackagePage);
        op.SetFocusTo(QStringLiteral("errorFile"));
        return;
    }
    if (!DataSourceInfoPresent() && !getDataLinkInfo())
        return;
    Warehouse.SaveAll();
    SetFormStatus(QStringLiteral("Start"));
    RunSequence run(Settings, JobHistory(), {PendrillConfigFile, LogFile});
    run.PackageFactory = PackageFactory;
    run.SetDataLinkList(&dataLinks);
    run.SetWarehouseSession(&Warehouse);
    RunWith(run);
    Enabled.showErrorFileButton = !errorFile.isEmpty();
}

void MainFormModel::Close() {
    StoreLastUsedConfigFile();
    if (!Running) {
        if (JobConfigMode)
            WriteJobConfigFile(JobConfigFile, QStringLiteral("canceled"));
        Unload();
        return;
    }
    StopFlags::StopRequested = true;
    LogInfo(QStringLiteral("Waiting for end of execution"));
    StopFlags::RemoteStopRequested = true;
}

void MainFormModel::ShowErrorFile() {
    if (!Settings.ExceptionLogFile.isEmpty())
        Operator().OpenInTextEditor(Settings.ExceptionLogFile);
}

void MainFormModel::ShowEventViewer() {
    OperatorInterface& op = Operator();
    if (!op.OpenSystemLogViewer())
        op.ShowMessageBox(NoLogViewerText(), 64, QStringLiteral("Pendrill"));
}

QString MainFormModel::NoLogViewerText() {
    return QStringLiteral(
        "No system-log viewer (gnome-logs, ksystemlog) is installed.\r\n"
        "The completion events of the packages are in the system log; read them with:\r\n"
        "journalctl -t Pendrill");
}

MainFormModel::FileDialogSettings MainFormModel::ConfigFileDialog(bool save) const {
    FileDialogSettings d;
    d.Title = save ? QStringLiteral("Pendrill: Save configuration")
                   : QStringLiteral("Pendrill: Open configuration");
    d.Filter = QStringLiteral("ETL Files (*.etl)");
    d.DefaultExtension = QStringLiteral("etl");
    d.Directory = DirectoryOfPath(PendrillConfigFile);
    // Without a recorded Quorra installation the path is just "/": no useful proposal.
    if (save && PendrillConfigFile.isEmpty() && DecisionSupportInstallDir() != QLatin1String("/"))
        d.Directory = DecisionSupportInstallDir();
    d.FileName = configDialogFile_.isEmpty() ? LastUsedConfigFile() : configDialogFile_;
    d.Save = save;
    return d;
}

MainFormModel::FileDialogSettings MainFormModel::LogFileDialog() const {
    FileDialogSettings d;
    d.Filter = QStringLiteral("Text (*.txt)");
    return d;
}

void MainFormModel::WriteJobConfigFile(const QString& file, const QString& text) {
    if (file.isEmpty())
        return;
    const QByteArray content = text.toUtf8() + "\r\n";
    if (WriteFileAtomically(file, content))
        return;
    // A directory that refuses new files may still hold a writable job file.
    QFile inPlace(file);
    if (inPlace.exists() && inPlace.open(QIODevice::WriteOnly | QIODevice::Truncate))
        inPlace.write(content);
}
