// The run configuration: a new one, reading and writing the file, the copies between the window
// and the run settings, the last-used file in the settings store and the file dialog's proposal.

#include "app/MainFormModel.h"
#include "config/InstallPaths.h"
#include "config/ValueChecks.h"
#include "datasources/DataLinkCatalogue.h"
#include "datasources/DataLinks.h"
#include "datasources/DataSourceSections.h"
#include "datasources/DatabaseLists.h"
#include "datasources/PackageCatalogue.h"
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

bool MainFormModel::LoadConfiguration(const QString& file) {
    Settings.PendrillConfigFile = file;
    bool loaded = false;
    if (!file.isEmpty()) {
        // Read and looked up as the run without a window prepares itself; a file that cannot be
        // read is reported there and leaves the settings as they are.
        RunPreparation prepared;
        loaded = prepared.Read(file, Log);
        if (loaded) {
            SettingsToForm(prepared);
            SetFormTitle(QLatin1Char('[') + FileNameOfPath(file) + QLatin1Char(']'));
        }
    }
    PendrillConfigFile = file;
    return loaded;
}

void MainFormModel::SettingsToForm(RunPreparation& prepared) {
    const QString jobId = Settings.JobID;
    const bool runFromWindow = Settings.RunFromUI;
    Settings = prepared.Settings;
    Settings.JobID = jobId;
    Settings.RunFromUI = runFromWindow;
    const RunSettings& s = Settings;
    packageServerWidget.ServerName = s.DTSServer;
    packageServerWidget.TrustedLogin = s.DTSServerTrustedLogin;
    packageServerWidget.UserName = s.DTSLoginUserName;
    packageServerWidget.Password = s.DTSLoginPassword;

    // The lists as the package was looked up in them, chosen as the operator would choose.
    packageCatalogue_ = prepared.TakeCatalogue();
    models = prepared.Models;
    packages.SetCurrentIndex(-1);
    ChooseModel(prepared.Models.CurrentIndex());
    packages = StringChoiceList(prepared.Packages.Items());
    ChoosePackage(prepared.Packages.CurrentIndex());

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
    Settings = SettingsFromForm();
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
        Log.Message(QStringLiteral("Error: Can't save config file ") + PendrillConfigFile +
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
        Log.Message(QStringLiteral("Error: Can't save config file ") + PendrillConfigFile, true, 16,
                    kErrorTitle);
        return false;
    }
    SetFormTitle(QLatin1Char('[') + FileNameOfPath(PendrillConfigFile) + QLatin1Char(']'));
    return true;
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
