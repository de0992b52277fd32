#pragma once

#include <QString>
#include <memory>

#include "app/MainFormView.h"
#include "app/RunPreparation.h"
#include "app/ServerConnectionModel.h"
#include "config/RunSettings.h"
#include "config/SettingsStore.h"
#include "datasources/ChoiceList.h"
#include "datasources/WarehouseSession.h"
#include "dts/PackageRun.h"
#include "util/RunLog.h"

class DataLink;
class PackageCatalogue;
class JobRecord;
class RunSequence;

// The main window's logic without widgets: the window's state and commands. The Qt window binds
// its controls to these fields and forwards its events to the operations below; a run without a
// window never builds one (app/RunPreparation.h, app/RunSequence.h). Message boxes and the status
// bar go through Operator() (util/OperatorInterface.h); the mouse pointer, the keyboard focus and
// page changes through its view (app/MainFormView.h), which the window hands it.
//
// Its methods are defined in four files, each calling only the ones below it:
// MainFormModel.cpp (window state, texts, checks; bottom), MainFormDataLinks.cpp (lists, data
// links, panels), MainFormConfig.cpp (the settings and the configuration file) and
// MainFormCommands.cpp (the commands of the window and of the program entry; top).
class MainFormModel {
  public:
    // The editor panels of the data-source page; which one is shown follows the chosen data
    // link's type.
    enum class DataLinkPanel {
        None,
        SQLServer,  // sqlServerPanel: type 1
        FlatFile,   // flatFilePanel: types 3 and 8
        Excel,      // excelFilesPanel: type 4
        Access,     // accessFilesPanel: type 5
        Oracle,     // oraclePanel: type 6
        UDL,        // udlPanel: type 9
        XMLFiles,   // xmlFilesPanel: type 10
    };
    // The pages of the tab control pages.
    static constexpr int PackagePage = 0;
    static constexpr int WarehousePage = 1;
    static constexpr int DataSourcePage = 2;

    MainFormModel();
    ~MainFormModel();
    MainFormModel(const MainFormModel&) = delete;
    MainFormModel& operator=(const MainFormModel&) = delete;

    // ---- Start-up properties, set by the program entry.
    QString PendrillConfigFile;  // current run configuration file; empty when none
    QString JobConfigFile;       // the scheduler's job file (job-configuration mode)
    QString StatusFile;
    QString LogFile;  // the run log is copied here at the end of an unattended run
    QString JobID = QStringLiteral("0");  // "0" means none
    bool StartInConfigMode = false;       // interactive: no unattended run
    bool JobConfigMode = false;

    // Captions of the two buttons that job-configuration mode relabels.
    QString executeCaption() const;  // "E&xecute", or "E&xit" in job-configuration mode
    QString closeCaption() const;    // "&Close", or "&Cancel" in job-configuration mode
    // True while a data-link editor panel is shown.
    bool DataSourceInfoPresent() const { return currentPanel_ != DataLinkPanel::None; }

    // ---- Value-carrying controls.
    ServerConnectionModel packageServerWidget;    // DTS server: where the packages are stored
    ServerConnectionModel warehouseServerWidget;  // data-warehouse server and database
    StringChoiceList models;                      // models of the DTS server's packages
    StringChoiceList packages;   // packages of the chosen model; Text() is the package
    StringChoiceList dataLinks;  // data sources of the chosen package's model
    QString errorFile;           // exception file, which is also the run log
    QString logFilesDir;         // log-files directory (shown, never edited)
    bool truncateErrorFile = true;
    bool useDefaultLogFilesDir = true;  // hidden; carries UseDefaultLogFileDir
    bool writeCompletionEvent = false;

    // Enabled states of the controls whose state changes.
    struct EnabledStates {
        bool truncateErrorFile = false;
        bool showErrorFileButton = false;
        bool executeButton = true;
        bool saveButton = true;
        bool logFilesDir = false;
        bool logFilesDirButton = false;
    } Enabled;

    bool Page2Available = false;  // the data-source page can be selected
    int CurrentPage = PackagePage;
    QString Caption = QStringLiteral("Pendrill");  // window caption
    QString StatusText;                            // status bar
    bool Unloaded = false;                         // the window was closed (ends the program)
    bool Running = false;  // a run is in progress (set and cleared by RunWith)

    // The window that shows the form (not owned; nullptr: none, the view then does nothing).
    void SetView(MainFormView* view) { view_ = view; }
    MainFormView& View();

    // ---- Owned objects.
    SettingsStore Registry;  // company "Tessaly", application "Pendrill"
    RunSettings Settings;
    // The run log: lines go to the file named in errorFile and every text to the status bar
    // (SetFormStatus); start-up says whether the run is interactive. Handed to the run and to
    // everything that logs.
    RunLog Log;
    // The data-warehouse connection and the loaded data links of the data-source page; the
    // window's Execute runs on it.
    WarehouseSession Warehouse;
    // Makes the package a run loads: the package engine's CreatePackage2; tests put fakes here.
    PackageRun::Factory PackageFactory;

    // ---- Private state, readable for the window and tests.
    PackageCatalogue* Packages() const { return packageCatalogue_.get(); }
    DataLink* CurrentDataSource() const { return currentDataSource_; }
    DataLinkPanel CurrentPanel() const { return currentPanel_; }
    // The data source the shown panel edits (nullptr when no panel is shown).
    DataLink* PanelDataSource() const { return panelDataSource_; }
    bool DataLinksOutdated() const { return dataLinksOutdated_; }
    bool DTSCheckResult() const { return dtsCheckResult_; }
    bool DWCheckResult() const { return dwCheckResult_; }

    // The run's job-history record (program-wide, created by the program entry). Without one
    // given, the window uses a record of its own.
    void SetJobHistory(JobRecord* record);
    JobRecord& JobHistory();
    // Fills the record's opening fields from the window's values (FillRecordOpeningFields,
    // app/RunPreparation.h).
    void FillJobHistoryOpeningFields();

    // ---- Start-up and window texts.
    // Loads PendrillConfigFile, or sets up a new configuration; then runs both checks.
    void InitFormFields();
    // Caption "Pendrill : " + text.
    void SetFormTitle(const QString& text);
    // Status-bar text; pending window events run before it returns.
    void SetFormStatus(const QString& text);

    // ---- Checks of required input. On failure `*error` gets the reason; on success it is
    // left as it is. CheckRunnable enables or disables Execute and Save together and returns
    // their state; its text is the DTS check's, else the warehouse check's (empty when both
    // pass).
    bool CheckDTSInfo(QString* error = nullptr);
    bool CheckDWInfo(QString* error = nullptr);
    bool CheckRunnable(QString* error = nullptr);
    // Why the configured package is not listed (PackageNotListedReason, app/RunPreparation.h);
    // empty when it is.
    QString PackageNotListedReason() const;

    // ---- Model, package and data links.
    // The model list opens: reads the DTS server's packages into a new catalogue and lists the
    // models; no package stays selected.
    void OpenModelList();
    // The package list opens: lists the chosen model's packages (nothing before the model list
    // was opened once).
    void OpenPackageList();
    // Selects an entry (-1: none) and reacts as to the operator's choice.
    void ChooseModel(int index);
    void ChoosePackage(int index);
    void ChooseDataLink(int index);
    // The operator selects a page; selecting the data-source page reloads outdated data links.
    void ChangePage(int page);
    // Connects to the warehouse database and loads the data links of the package's model (and,
    // with a configuration file, its data-source sections). False after reporting why; the
    // job-history record is then closed and the status file says "failure".
    bool getDataLinkInfo();
    void RefreshDataLinks();
    void ClearDataLinks();
    // logFilesDir = temporary directory + "Pendrill/" + package + "/".
    void SetDefaultLogFilesDir();

    // ---- Log file box.
    // The text changes (typing): "Truncate log file" follows whether it holds more than blanks.
    void SetLogFileText(const QString& text);
    // The box loses the focus: trimmed, a relative name put under the temporary directory, its
    // directory created; then CheckDTSInfo.
    void LeaveLogFileBox();
    // A file chosen in the browse dialog (empty: nothing chosen).
    void BrowsedLogFile(const QString& file);

    // ---- Notifications of the server-connection controls.
    void DTSConnectionChanged();
    void DWConnectionChanged();
    // Tries the control's server; a failure is reported ("Pendrill"), success says nothing.
    void TestConnection(const ServerConnectionModel& control);

    // ---- File dialogs. The window shows them as described here and reports the chosen file.
    struct FileDialogSettings {
        QString Title;             // empty: the dialog's own title
        QString Filter;            // "Description (*.ext)"
        QString DefaultExtension;  // appended to a name typed without one; empty: none
        QString Directory;         // initial directory; empty: the dialog's own choice
        QString FileName;          // proposed file
        bool Save = false;         // a save dialog (no overwrite prompt), else an open dialog
    };
    // cdOpenSaveConfig for Open (`save` false) or Save and Save As. It proposes the file last
    // chosen in it, or at first the last-used configuration of the settings store.
    FileDialogSettings ConfigFileDialog(bool save) const;
    // The file chosen in cdOpenSaveConfig; proposed again the next time it opens.
    void ConfigFileChosen(const QString& file) { configDialogFile_ = file; }
    // cdDTSBrowseForFile, the log file's browse dialog.
    FileDialogSettings LogFileDialog() const;

    // ---- Configuration-file commands. Dialogs belong to the window: it asks for the file and
    // calls these with the answer (a cancelled dialog calls nothing).
    void NewConfiguration();
    // Open with a chosen file: load, check, remember it, reload the data links.
    void OpenConfiguration(const QString& file);
    // A file dropped onto the window.
    void DropFile(const QString& file);
    // Reads the file into the settings and the window; false (after saying so) when it cannot be
    // read. PendrillConfigFile names the file in either case.
    bool LoadConfiguration(const QString& file);
    // The window's fields, the model and package lists and the package catalogue from the
    // settings a RunPreparation read (the catalogue is taken over); JobID and RunFromUI stay.
    void SettingsToForm(RunPreparation& prepared);
    void FormToSettings();
    // Settings with the window's fields copied in, Settings itself unchanged.
    RunSettings SettingsFromForm() const;
    // Writes the configuration to `file` (empty: the current one). False when nothing was
    // written.
    bool SaveConfigurationFile(const QString& file);
    // Save (empty name: the current file) and Save As (the chosen file): writes the file,
    // remembers it, saves the data sources back to the warehouse.
    void SaveConfiguration(const QString& chosenFile = QString());
    // Whether Save must ask for a name first.
    bool SaveNeedsName() const { return PendrillConfigFile.isEmpty(); }
    // Execute in either mode (job-configuration mode: save and write the job file, then close).
    void Execute();
    // Close in either mode; during a run only asks the run to stop.
    void Close();
    // Replaces the file's content by the text and a line end; errors are ignored.
    static void WriteJobConfigFile(const QString& file, const QString& text);
    // Opens the run settings' exception file (that of the last load, save or run) in the text
    // editor; nothing when it is empty.
    void ShowErrorFile();
    // Opens the system-log viewer; where none is installed, says where the completion events are
    // ("journalctl").
    void ShowEventViewer();
    static QString NoLogViewerText();
    // The last-used configuration file in the settings store.
    void StoreLastUsedConfigFile();
    QString LastUsedConfigFile() const;

    // ---- The run (app/RunSequence.h).
    // Copies the window's fields into Settings and performs `run` while the window shows a run
    // in progress (busy pointer, Execute and Save disabled, Close asks the run to stop).
    void RunWith(RunSequence& run);
    // The window goes away (the end of an unattended run, Close, the job file written).
    void Unload();

  private:
    void ShowPanel(DataLinkPanel panel);

    std::unique_ptr<PackageCatalogue> packageCatalogue_;
    DataLink* currentDataSource_ = nullptr;
    DataLink* panelDataSource_ = nullptr;
    DataLinkPanel currentPanel_ = DataLinkPanel::None;
    bool dataLinksOutdated_ = false;
    bool dtsCheckResult_ = false;
    bool dwCheckResult_ = false;
    std::unique_ptr<JobRecord> ownJobHistory_;
    JobRecord* jobHistory_ = nullptr;
    QString configDialogFile_;
    MainFormView* view_ = nullptr;
    RunLogTargets logTargets_;  // Log for the code it is not handed to; after Log
};
