#pragma once

#include <QString>

#include "config/ExecDTSPackage.h"

// Values of the server-connection control of the main window: the DTS server and the
// data-warehouse server each have one.
struct RookConnectFields {
    QString ServerName;
    bool TrustedLogin = false;
    QString UserName;
    QString Password;
    QString DatabaseName;
};

// The main window's logic without widgets. It holds a run's values in every mode; the Qt window
// binds its controls to these fields, and an unattended run without a display uses it alone.
class frmRunnerMain {
  public:
    frmRunnerMain();
    ~frmRunnerMain();
    frmRunnerMain(const frmRunnerMain&) = delete;
    frmRunnerMain& operator=(const frmRunnerMain&) = delete;

    // Start-up properties set by the program entry.
    QString PendrillConfigFile;
    QString RookJobConfigFile;
    QString StatusFile;
    QString LogFile;
    QString JobID = QStringLiteral("0");
    bool StartInConfigMode = false;
    bool StartInRookJobConfigMode = false;

    // Fields of the window.
    RookConnectFields uRookConnectDTS;
    RookConnectFields uRookConnectDW;
    QString cmbETLPackage;    // text of the package list
    QString txtDTSErrorFile;  // exception file, which is also the run log
    QString txtLogFilesDir;
    bool cbTruncateErrorFile = false;
    bool cbDefaultLogFilesDir = false;
    bool cbWriteWinNTEvent = false;

    // The run settings the window owns for its whole life.
    ExecDTSPackage Settings;

    // Fills the fields from the configuration file, or with a new configuration's values.
    void InitFormFields();
    // Reads PendrillConfigFile into the settings and the fields; on failure says so in the run
    // log ("Error: Can't load config file ...") and returns false.
    bool LoadConfiguration();
    // Copies between the run settings and the fields.
    void SettingsToForm();
    void FormToSettings();

    // Asks the repository whether it can be reached; on failure `errorText` says why in the
    // operator's words.
    bool IsConnectToRookRepository(QString& errorText);
};
