#include "app/Startup.h"

#include <QDateTime>
#include <QFileInfo>
#include <algorithm>
#include <cstdio>
#include <optional>

#include "app/ConsoleMode.h"
#include "app/ExitCodes.h"
#include "app/MainFormModel.h"
#include "app/RunEnd.h"
#include "app/RunPreparation.h"
#include "app/RunSequence.h"
#include "app/RunValidation.h"
#include "config/RunSettings.h"
#include "dts/PackageRun.h"
#include "engine/PackageFactory.h"
#include "history/JobRecord.h"
#include "util/FileUtils.h"
#include "util/JournalStream.h"
#include "util/RunLog.h"
#include "util/RunTargets.h"
#include "util/StatusFile.h"
#include "util/StopFlags.h"
#include "util/TextFiles.h"

bool ParseArgument(StartupValues& v, const QString& name, const QString& value) {
    QString option = name.toLower();
    if (option.startsWith('-') && option.size() > 1)
        option.remove(0, 1);
    if (option == QLatin1String("configfile")) {
        v.ConfigFile = value;
    } else if (option == QLatin1String("config")) {
        v.JobConfigFile = value;
        v.StartInConfigMode = true;
        v.JobConfigMode = true;
    } else if (option == QLatin1String("statusfile")) {
        v.StatusFile = value;
    } else if (option == QLatin1String("logfile")) {
        v.LogFile = value;
    } else if (option == QLatin1String("summaryfile")) {
        v.SummaryFile = value;
    } else if (option == QLatin1String("job_id")) {
        v.JobId = value;
    } else if (option == QLatin1String("help") || option == QLatin1String("?")) {
        v.HelpRequested = true;
    } else if (option == QLatin1String("h")) {
        v.LinuxHelp = true;
    } else if (option == QLatin1String("validate")) {
        v.Validate = true;
    } else if (option == QLatin1String("open")) {
        // The window, as without options, with this configuration opened (the desktop entry's
        // command for a .etl file).
        v.OpenFile = value;
        v.StartInConfigMode = true;
        return true;
    } else {
        return false;
    }
    v.CommandLineGiven = true;
    return true;
}

StartupValues ParseCommandLine(const QStringList& arguments, int maxArguments) {
    StartupValues v;
    const QStringList args = arguments.mid(0, maxArguments);
    // Empty words alone (`pendrill ""`) are no arguments, as a quoted nothing on a command line.
    if (std::all_of(args.cbegin(), args.cend(), [](const QString& a) { return a.isEmpty(); })) {
        v.StartInConfigMode = true;
        return v;
    }
    bool previousTakesValue = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        const bool isValue = previousTakesValue;
        previousTakesValue = false;
        if (arg == QLatin1String("--help"))
            v.LinuxHelp = true;
        if (arg == QLatin1String("--version")) {
            v.ShowVersion = true;
            continue;
        }
        if (!arg.startsWith('-'))
            continue;
        // An option at the end has the empty text as its value (never a null text, which the
        // job history would store as "no value").
        const QString value = i + 1 < args.size() ? args.at(i + 1) : QStringLiteral("");
        if (ParseArgument(v, arg.mid(1), value)) {
            static const QStringList withValue = {"configfile",  "config", "statusfile", "logfile",
                                                  "summaryfile", "job_id", "open"};
            QString name = arg.mid(1).toLower();
            if (name.startsWith('-'))
                name.remove(0, 1);
            previousTakesValue = withValue.contains(name);
        } else if (!isValue) {
            v.UnknownOptions << arg;
        }
    }
    return v;
}

QString ConflictingFiles(const StartupValues& v) {
    const struct {
        const QString& file;
        const char* option;
        const QString& other;
        const char* otherName;
    } pairs[] = {
        {v.StatusFile, "-statusfile", v.ConfigFile, "the configuration file (-configfile)"},
        {v.LogFile, "-logfile", v.ConfigFile, "the configuration file (-configfile)"},
        {v.LogFile, "-logfile", v.StatusFile, "the status file (-statusfile)"},
        {v.SummaryFile, "-summaryfile", v.ConfigFile, "the configuration file (-configfile)"},
        {v.SummaryFile, "-summaryfile", v.StatusFile, "the status file (-statusfile)"},
        {v.SummaryFile, "-summaryfile", v.LogFile, "the log file (-logfile)"},
    };
    for (const auto& p : pairs)
        if (SameFile(p.file, p.other))
            return QStringLiteral("%1 %2 names %3; nothing was run or written")
                .arg(QLatin1String(p.option), p.file, QLatin1String(p.otherName));
    return QString();
}

bool OperatorCanBeAsked() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

void ShowUsage() {
    OpenConsole(QStringLiteral("Pendrill"));
    ConsoleWrite(QStringLiteral("Usage Pendrill : Configurate and Execute DTS Packages\r\n\r\n"));
    ConsoleWrite(QStringLiteral("      Pendrill [ -configfile <Pendrill Configuration File>\r\n"));
    ConsoleWrite(QStringLiteral("Press enter to exit\r\n"));
    ConsoleReadLine();
    CloseConsole();
}

QString LinuxHelpText() {
    return QStringLiteral(
        "Usage: pendrill [OPTION]...\n"
        "Configure and execute ETL packages that load a data warehouse.\n"
        "\n"
        "Without options the main window opens for an operator. With options a scheduler runs\n"
        "the configured package unattended and the program ends when the run is over.\n"
        "\n"
        "Options (one or two leading hyphens; names in any letter case; values kept as given):\n"
        "  -configfile FILE   run the configuration FILE (.etl) unattended\n"
        "  -config FILE       job-configuration mode: prepare a run in the window; Execute\n"
        "                     writes the scheduler's command line into FILE\n"
        "  -statusfile FILE   write the run's status word into FILE: running, ok or failure\n"
        "  -logfile FILE      copy the run log (the configuration's exception file) to FILE\n"
        "                     at the end of the run\n"
        "  -summaryfile FILE  write a JSON summary of the run into FILE at its end, also\n"
        "                     after a failure or a stop (see docs/run-summary.md)\n"
        "  -job_id ID         the scheduler's job number, kept in the job history\n"
        "  -open FILE         open the window (as without options) with the configuration\n"
        "                     FILE loaded; runs nothing (the desktop entry opens .etl files\n"
        "                     so)\n"
        "  -validate          with -configfile: check everything a run needs before it\n"
        "                     fetches remote data and executes (configuration, repository,\n"
        "                     required settings, package, warehouse, dwm_data_link, every\n"
        "                     data link of the model), one line per check; runs nothing and\n"
        "                     writes no status file, run log or job history. Exit status 0\n"
        "                     when the run could start, else the status the run would end with\n"
        "  -help, -?          show the short usage text and wait for Enter\n"
        "  --help, -h         show this help and exit; nothing is run\n"
        "  --version          show the version and exit\n"
        "\n"
        "Exit status:\n"
        "  0  the run ended \"ok\"; usage; the window of interactive or job-configuration\n"
        "     mode was closed; -validate found that the run can start\n"
        "  1  the package execution failed\n"
        "  2  configuration file missing, package not loaded or data-link table missing\n"
        "  3  repository or data-warehouse server not reachable\n"
        "  4  required settings missing (package, DTS server, log file, warehouse server or\n"
        "     database); or the command line names one file twice (-statusfile, -logfile or\n"
        "     -summaryfile the configuration file, -logfile or -summaryfile the status file,\n"
        "     -summaryfile the -logfile): refused, nothing written\n"
        "  5  remote data not obtained\n"
        "  6  stopped by the operator or by SIGTERM/SIGINT\n"
        "  7  interactive or job-configuration mode without a display (DISPLAY and\n"
        "     WAYLAND_DISPLAY unset): nobody can be asked; nothing is written\n"
        "  8  another run is using the configuration file, the log directory or the run\n"
        "     log (\"Another run (process N) is using FILE\")\n"
        "The status file says \"failure\" for every status but 0. An unattended run prints\n"
        "nothing when it ends \"ok\", else one line on standard error with the reason and the\n"
        "run log. Unknown options are ignored, each named on standard error\n"
        "(\"pendrill: unknown option -configfle (ignored)\").\n"
        "After an unattended run the on-failure or on-success command of the settings store\n"
        "runs, if set (pendrill-admin settings set on-failure COMMAND); its output goes to the\n"
        "run log, and it never changes the run's outcome.\n"
        "\n"
        "Files:\n"
        "  FILE of -configfile          the run configuration, read\n"
        "  FILE.lock beside it          its lock file, kept: a run holds it for its\n"
        "                               duration, every change of FILE for the change\n"
        "  FILE of -statusfile          replaced with one word and CR LF\n"
        "  FILE of -logfile             replaced with a copy of the run log\n"
        "  FILE of -summaryfile         replaced with the run's summary (JSON)\n"
        "  the configuration's LogFile  the run log, appended to\n"
        "  $XDG_CONFIG_HOME/pendrill/registry.ini\n"
        "                               settings store: last used configuration, server\n"
        "                               aliases, repository location\n"
        "  $XDG_DATA_HOME/pendrill/repository.db\n"
        "                               job-history repository (default location)\n"
        "  $XDG_DATA_HOME/pendrill/servers/local/\n"
        "                               the embedded local server\n"
        "Without XDG_CONFIG_HOME and XDG_DATA_HOME, ~/.config and ~/.local/share are used.\n");
}

namespace {

MainWindowHost& mainWindowHost() {
    static MainWindowHost host;
    return host;
}

}  // namespace

void SetMainWindowHost(MainWindowHost host) {
    mainWindowHost() = std::move(host);
}

namespace {

// What standard error says of an unattended run that did not end "ok": one line, with the reason
// and the log that tells the rest.
struct RunSummary {
    QString reason;
    QString logFile;
    QString runLog;              // the run log itself (the configuration's exception file)
    std::vector<DtsStep> steps;  // the package's steps, when it executed
    std::vector<RemoteDataFetched> remoteData;  // what the remote-data pass fetched
};

// Interactive and job-configuration mode ask a person; without a display nobody can answer.
int nobodyToAsk(const StartupValues& v) {
    if (v.JobConfigMode) {
        std::fprintf(stderr,
                     "pendrill: job-configuration mode (-config) needs a display to ask for the "
                     "job's settings, and DISPLAY and WAYLAND_DISPLAY are unset; nothing was "
                     "written to %s.\n"
                     "pendrill: on a server without a screen, write the configuration with "
                     "pendrill-admin config and put -configfile \"FILE\" into the job file.\n",
                     v.JobConfigFile.toLocal8Bit().constData());
    } else {
        std::fprintf(stderr,
                     "pendrill: the main window needs a display, and DISPLAY and "
                     "WAYLAND_DISPLAY are unset.\n"
                     "pendrill: to run a configuration unattended: pendrill -configfile FILE "
                     "(see pendrill --help).\n");
    }
    return ExitNoDisplay;
}

// The reason of a run's outcome in one line: its non-empty lines, trimmed, joined by a space.
QString reasonLine(const QString& reason) {
    QStringList parts;
    for (const QString& line : SplitLines(reason))
        if (!line.trimmed().isEmpty())
            parts << line.trimmed();
    return parts.join(QLatin1Char(' '));
}

// The one line on standard error of an unattended run that did not end "ok"; with the journal's
// priority prefix for an error when standard error is the journal.
void reportFailure(int status, const RunSummary& summary) {
    const QString reason = reasonLine(summary.reason);
    QString text = QStringLiteral("the run ended with \"failure\" (exit status %1)").arg(status);
    if (!reason.isEmpty())
        text += QStringLiteral(": ") + reason;
    if (!summary.logFile.isEmpty())
        text += QStringLiteral("; run log: ") + summary.logFile;
    // One line whatever the texts hold (a NUL byte would cut it short, a line break forge one).
    for (QChar& c : text)
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char('?');
    std::fprintf(stderr, "%spendrill: %s\n", StandardErrorIsJournal() ? "<3>" : "",
                 text.toLocal8Bit().constData());
}

// The summary file and the hook of an unattended run that has ended.
void announceRunEnd(const StartupValues& v, const QString& packageName, int status,
                    const RunSummary& summary, const QDateTime& startTime) {
    RunEnd end;
    end.jobId = v.JobId;
    end.configFile =
        v.ConfigFile.isEmpty() ? QString() : QFileInfo(v.ConfigFile).absoluteFilePath();
    end.package = packageName;
    end.reason = status == ExitOk ? QString() : reasonLine(summary.reason);
    end.runLog = summary.logFile;
    end.startTime = startTime;
    end.endTime = QDateTime::currentDateTime();
    end.exitStatus = status;
    end.steps = summary.steps;
    end.remoteData = summary.remoteData;
    QString why;
    if (!v.SummaryFile.isEmpty() && !WriteRunSummary(v.SummaryFile, end, &why))
        std::fprintf(stderr, "pendrill: cannot write the summary file %s: %s\n",
                     v.SummaryFile.toLocal8Bit().constData(), why.toLocal8Bit().constData());
    QStringList logFiles{summary.runLog};
    if (!summary.logFile.isEmpty() && QFileInfo(summary.logFile).absoluteFilePath() !=
                                          QFileInfo(summary.runLog).absoluteFilePath())
        logFiles << summary.logFile;
    RunEndHook(end, v.SummaryFile, logFiles);
}

// The endings before a run starts once its configuration is read, the same with a window and
// without: a repository out of reach, a stop by signal. The exit status, or none when the run
// may go on.
std::optional<int> endBeforeRun(const StartupValues& v, RunSequence& run,
                                const QString& packageName, const RunLog& log,
                                RunSummary& summary) {
    QString errorText;
    const bool reachable = RepositoryReachable(&errorText);
    if (!reachable && !StopFlags::TerminationSignalled) {
        const int status = run.RepositoryUnreachable(errorText, packageName, v.StartInConfigMode);
        summary.reason = run.OutcomeText();
        summary.logFile = run.LogForScheduler();
        return status;
    }
    if (StopFlags::TerminationSignalled) {
        // Stopped before the run began (perhaps while the repository was busy): the record is
        // closed as stopped by RunnerMain.
        log.Info(QStringLiteral("Execution stopped by the user"));
        run.CopyRunLog();
        summary.logFile = run.LogForScheduler();
        return ExitStopped;
    }
    return std::nullopt;
}

// The configuration file named on the command line does not exist.
int missingConfiguration(const StartupValues& v, RunSequence& run, RunSummary& summary) {
    const int status = run.MissingConfiguration(v.JobId);
    summary.reason = run.OutcomeText();
    summary.logFile = run.LogForScheduler();
    return status;
}

// What the summary, the hooks and the failure line take from a run that went as far as its
// checks; returns its exit status.
int takeOutcome(const RunSequence& run, RunSummary& summary) {
    summary.reason = run.OutcomeText();
    summary.logFile = run.LogForScheduler();
    summary.runLog = run.RunLogFile();
    summary.steps = run.Steps();
    summary.remoteData = run.RemoteData();
    return run.ExitStatus();
}

// The unattended run without a window: the run prepared from the configuration file, the check
// of required settings, the run, the run log for the scheduler.
int runWithoutWindow(const StartupValues& v, JobRecord& record, QString& packageName,
                     RunSummary& summary) {
    RunPreparation prepared;
    // Lines go to the exception file the configuration names.
    const RunLog log = OperatorRunLog([&prepared] { return prepared.Settings.ExceptionLogFile; });
    const RunLogTargets targets(log);
    RunSequence run(prepared.Settings, record, {v.ConfigFile, v.LogFile}, log);
    run.PackageFactory = [&log] { return CreatePackageLoggingTo(log); };
    if (!v.ConfigFile.isEmpty() && !FileExists(v.ConfigFile))
        return missingConfiguration(v, run, summary);
    prepared.Read(v.ConfigFile, log);
    // A run log that is another file of the run is never written: the run is refused.
    const QString clash = RunLogClash(prepared.Settings.ExceptionLogFile, v.ConfigFile);
    if (!clash.isEmpty())
        prepared.Settings.ExceptionLogFile.clear();
    prepared.Settings.JobID = v.JobId;
    packageName = prepared.ListedPackage;
    if (v.CommandLineGiven)
        FillRecordOpeningFields(record, prepared.Settings);
    run.SetRunLogFile(prepared.Settings.ExceptionLogFile);
    if (const std::optional<int> status = endBeforeRun(v, run, packageName, log, summary))
        return *status;
    QString error;
    if (!clash.isEmpty()) {
        run.RefuseSettings(clash, QString());
    } else if (prepared.CheckRunnable(&error)) {
        prepared.ReadyForRun();
        run.Execute();
    } else {
        run.RefuseSettings(error, prepared.NotListedReason());
    }
    run.Finish();
    return takeOutcome(run, summary);
}

// The unattended run with the window's values: the check of required settings, the run, the
// run log for the scheduler; then the window goes away.
void runUnattended(MainFormModel& form, RunSequence& run) {
    QString error;
    if (form.CheckRunnable(&error))
        form.RunWith(run);
    else
        run.RefuseSettings(error, form.PackageNotListedReason());
    run.Finish();
    form.Unload();
}

// The main window: interactive and job-configuration mode, and an unattended run on a display,
// which the window shows while it goes on.
int runWithWindow(const StartupValues& v, JobRecord& record, QString& packageName,
                  RunSummary& summary) {
    MainFormModel form;
    form.Log.interactive = v.StartInConfigMode;
    RunSequence run(form.Settings, record, {v.ConfigFile, v.LogFile}, form.Log);
    run.PackageFactory = form.PackageFactory;
    if (!v.ConfigFile.isEmpty() && !FileExists(v.ConfigFile))
        return missingConfiguration(v, run, summary);
    form.SetJobHistory(&record);
    form.PendrillConfigFile = v.OpenFile.isEmpty() ? v.ConfigFile : v.OpenFile;
    form.JobConfigFile = v.JobConfigFile;
    form.StatusFile = v.StatusFile;
    form.LogFile = v.LogFile;
    form.JobID = v.JobId;
    form.StartInConfigMode = v.StartInConfigMode;
    form.JobConfigMode = v.JobConfigMode;
    form.InitFormFields();
    packageName = form.packages.Text();
    if (v.CommandLineGiven)
        form.FillJobHistoryOpeningFields();
    run.SetDataLinkList(&form.dataLinks);
    run.SetWarehouseSession(&form.Warehouse);
    run.SetRunLogFile(form.errorFile);
    if (const std::optional<int> status = endBeforeRun(v, run, packageName, form.Log, summary))
        return *status;
    const std::function<void()> unattended = [&form, &run] { runUnattended(form, run); };
    if (mainWindowHost())
        mainWindowHost()(form, form.StartInConfigMode ? std::function<void()>() : unattended);
    if (form.StartInConfigMode)
        return ExitOk;
    return takeOutcome(run, summary);
}

// -validate: the run's checks, one line each on standard output; nothing reaches the run log.
int validateRun(const StartupValues& v) {
    RunValidationReport report;
    const RunLog log = OperatorRunLog(nullptr);
    const RunLogTargets targets(log);
    RunSettings settings;
    settings.JobID = v.JobId;
    JobRecord record;
    RunSequence run(settings, record, {v.ConfigFile, QString()}, log);
    run.PackageFactory = CreatePackage2;
    return report.End(run.Validate(report));
}

int runStartup(const StartupValues& v, JobRecord& record, QString& packageName,
               RunSummary& summary) {
    if (v.LinuxHelp) {
        std::fputs(LinuxHelpText().toLocal8Bit().constData(), stdout);
        return ExitOk;
    }
    if (v.ShowVersion) {
        std::printf("pendrill %s\n", PENDRILL_VERSION);
        return ExitOk;
    }
    if (v.HelpRequested) {
        ShowUsage();
        return ExitOk;
    }
    if (v.Validate)
        return validateRun(v);
    if (v.StartInConfigMode && !OperatorCanBeAsked())
        return nobodyToAsk(v);
    RunTargets::Current().statusFile = v.StatusFile;
    RunTargets::Current().summaryFile = v.SummaryFile;
    StatusRunning();
    // The window is shown when a host can show it; a run without one needs no form.
    if (mainWindowHost() || v.StartInConfigMode)
        return runWithWindow(v, record, packageName, summary);
    return runWithoutWindow(v, record, packageName, summary);
}

// The exit status once SIGTERM or SIGINT is taken into account.
int finishRun(const StartupValues& v, JobRecord& record, const QString& packageName, int status,
              RunSummary& summary) {
    if (!StopFlags::TerminationSignalled)
        return status;
    // SIGTERM or SIGINT arrived: whatever the run was doing has ended. Only an unattended run
    // that finished "ok" keeps its outcome; anything else is a stopped run. A run that got as far
    // as its package has closed its record itself; one that ended before is closed here.
    // -validate opens no record (and sets no status file, so StatusFailure writes nothing).
    const bool unattended = !v.StartInConfigMode && !v.HelpRequested && !v.Validate;
    if (status == ExitOk && !v.StartInConfigMode && !v.HelpRequested)
        return status;
    StatusFailure();
    if (!record.IsClosed() && unattended)
        RunSequence::CloseStopped(record, packageName);
    if (summary.reason.isEmpty() || status != ExitStopped)
        summary.reason = QStringLiteral("Execution stopped by the user");
    return ExitStopped;
}

}  // namespace

int RunnerMain(const QStringList& arguments) {
    JobRecord record;
    const StartupValues v = ParseCommandLine(arguments);
    for (const QString& option : v.UnknownOptions)
        std::fprintf(stderr, "pendrill: unknown option %s (ignored)\n",
                     option.toLocal8Bit().constData());
    const bool writes = !v.LinuxHelp && !v.ShowVersion && !v.HelpRequested;
    if (const QString conflict = ConflictingFiles(v); writes && !conflict.isEmpty()) {
        std::fprintf(stderr, "pendrill: %s\n", conflict.toLocal8Bit().constData());
        return ExitSettingsMissing;
    }
    // An unattended run says on standard error only how it ended, in one line, and nothing when
    // it ended "ok"; the problems met on the way go to its run log.
    const bool run =
        !v.LinuxHelp && !v.ShowVersion && !v.HelpRequested && !v.Validate && !v.StartInConfigMode;
    QStringList problems;
    if (run)
        RunTargets::Current().problem = ([&problems](const QString& text) {
            // A problem met twice (the status file at every word) is said once on standard
            // error; the run log gets it whenever it is met, as it may not exist yet (before the
            // form model exists, and after it is gone, only the status bar gets it).
            if (!problems.contains(text))
                problems << text;
            RunTargets::WindowRunLog().Info(text);
        });
    QString packageName;
    RunSummary summary;
    const QDateTime startTime = QDateTime::currentDateTime();
    int status = runStartup(v, record, packageName, summary);
    status = finishRun(v, record, packageName, status, summary);
    record.StoreOutcome(status);  // beside a stored record: its exit status and duration
    RunTargets::Current().problem = (nullptr);
    if (!run)
        return status;
    if (status != ExitOk)
        reportFailure(status, summary);
    else
        for (const QString& problem : problems)
            RunTargets::ReportProblem(problem);
    announceRunEnd(v, packageName, status, summary, startTime);
    return status;
}
