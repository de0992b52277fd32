// The commands of the window and of the program entry: start-up, Open, Save, Save As, Execute,
// Close, the run of the window's values, the error file and the system log, the job file.

#include <QFile>

#include "app/MainFormModel.h"
#include "app/RunSequence.h"
#include "datasources/DataLinkCatalogue.h"
#include "util/OperatorInterface.h"
#include "util/RunLog.h"
#include "util/StopFlags.h"
#include "util/TextFiles.h"

void MainFormModel::InitFormFields() {
    if (!PendrillConfigFile.isEmpty())
        LoadConfiguration(PendrillConfigFile);
    else
        NewConfiguration();
    CheckDTSInfo();
    CheckDWInfo();
}

void MainFormModel::RunWith(RunSequence& run) {
    MainFormView& view = View();
    view.SetMousePointer(MainFormView::ArrowHourglassPointer);
    Running = true;
    Enabled.executeButton = false;
    Enabled.saveButton = false;
    FormToSettings();
    run.Execute();
    Enabled.executeButton = true;
    Enabled.saveButton = true;
    Running = false;
    view.SetMousePointer(MainFormView::DefaultPointer);
}

void MainFormModel::OpenConfiguration(const QString& file) {
    MainFormView& view = View();
    view.SetMousePointer(MainFormView::HourglassPointer);
    LoadConfiguration(file);
    CheckDTSInfo();
    CheckDWInfo();
    StoreLastUsedConfigFile();
    dataLinksOutdated_ = true;
    RefreshDataLinks();
    view.SetMousePointer(MainFormView::DefaultPointer);
}

void MainFormModel::DropFile(const QString& file) {
    LoadConfiguration(file);
}

void MainFormModel::SaveConfiguration(const QString& chosenFile) {
    MainFormView& view = View();
    view.SetMousePointer(MainFormView::HourglassPointer);
    SaveConfigurationFile(chosenFile);
    StoreLastUsedConfigFile();
    Warehouse.SaveAll();
    view.SetMousePointer(MainFormView::DefaultPointer);
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
        Log.Message(
            QStringLiteral("Please fill in DTS package, DTS server and data warehouse database"),
            true, 16, QStringLiteral("Connect to data warehouse server"));
        if (packages.Text().isEmpty()) {
            CurrentPage = PackagePage;
            View().ShowPage(PackagePage);
            View().FocusControl(QStringLiteral("packages"));
        } else {
            CurrentPage = WarehousePage;
            View().ShowPage(WarehousePage);
            View().FocusControl(QStringLiteral("warehouseServerWidget"));
        }
        return;
    }
    if (errorFile.isEmpty()) {
        Log.Message(QStringLiteral("Please fill in error file before executing DTS package"), true,
                    16, QStringLiteral("DTS package info check input"));
        CurrentPage = PackagePage;
        View().ShowPage(PackagePage);
        View().FocusControl(QStringLiteral("errorFile"));
        return;
    }
    if (!DataSourceInfoPresent() && !getDataLinkInfo())
        return;
    Warehouse.SaveAll();
    SetFormStatus(QStringLiteral("Start"));
    RunSequence run(Settings, JobHistory(), {PendrillConfigFile, LogFile}, Log);
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
    Log.Info(QStringLiteral("Waiting for end of execution"));
    StopFlags::RemoteStopRequested = true;
}

void MainFormModel::ShowErrorFile() {
    if (!Settings.ExceptionLogFile.isEmpty())
        View().OpenInTextEditor(Settings.ExceptionLogFile);
}

void MainFormModel::ShowEventViewer() {
    if (!View().OpenSystemLogViewer())
        Operator().ShowMessageBox(NoLogViewerText(), 64, QStringLiteral("Pendrill"));
}

QString MainFormModel::NoLogViewerText() {
    return QStringLiteral(
        "No system-log viewer (gnome-logs, ksystemlog) is installed.\r\n"
        "The completion events of the packages are in the system log; read them with:\r\n"
        "journalctl -t Pendrill");
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
