#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class MainFormModel;

// Start-up values taken from the command line.
struct StartupValues {
    QString ConfigFile;                   // -configfile
    QString JobConfigFile;                // -config
    QString StatusFile;                   // -statusfile
    QString LogFile;                      // -logfile
    QString SummaryFile;                  // -summaryfile
    QString OpenFile;                     // -open: a configuration the window opens
    QString JobId = QStringLiteral("0");  // -job_id; "0" means none
    bool StartInConfigMode = false;
    bool JobConfigMode = false;
    bool HelpRequested = false;     // -help or -?: the usage text with its Enter prompt
    bool CommandLineGiven = false;  // at least one recognised option
    bool LinuxHelp = false;         // --help
    bool ShowVersion = false;       // --version
    bool Validate = false;          // -validate: check the configuration, run nothing
    QStringList UnknownOptions;     // options not recognised, as written: ignored, but named
};

// Interprets one option. The name is compared without regard to case; a name that starts with a
// further "-" (from "--name") is taken without it. Unknown names are ignored; false for them.
bool ParseArgument(StartupValues& values, const QString& name, const QString& value);

// Interprets the program's arguments (without the program name), each element one argument as
// the shell split it. At most `maxArguments` are looked at. No argument at all, or only empty
// ones: interactive. An option at the end has the empty text as its value. An unknown option is
// kept in UnknownOptions unless it is the value of the option before it.
StartupValues ParseCommandLine(const QStringList& arguments, int maxArguments = 50);

// Whether a person can be asked anything: a display is named (DISPLAY or WAYLAND_DISPLAY).
bool OperatorCanBeAsked();

// A command line that would write over one of its own files: -statusfile, -logfile or
// -summaryfile naming the configuration file, -logfile or -summaryfile naming the status file, or
// -summaryfile naming the -logfile (one file by device and inode, or one path for files that do
// not exist yet). The one line that says so, or the empty text.
QString ConflictingFiles(const StartupValues& values);

// The usage text on the console, then waits for Enter.
void ShowUsage();

// The help of --help: every option, the exit codes, the files read and written.
QString LinuxHelpText();

// Shows the main window of `form` while the mode's work is done: the operator's session in
// interactive and job-configuration mode (until the window is unloaded), the run in unattended
// mode (`unattendedRun`, empty in the other modes). The program entry installs one when a window
// can be shown; without one an unattended run goes on without a window.
using MainWindowHost =
    std::function<void(MainFormModel& form, const std::function<void()>& unattendedRun)>;
void SetMainWindowHost(MainWindowHost host);

// The program entry after the application object exists: returns the exit status. After SIGTERM
// or SIGINT it is ExitStopped (unless an unattended run had already ended "ok"), the status file
// says "failure" and an unattended run's record is closed if the run had not closed it.
int RunnerMain(const QStringList& arguments);
