#pragma once

#include <QDate>
#include <QString>
#include <memory>
#include <vector>

#include "app/RunRemoteData.h"
#include "app/ServerConnectionModel.h"
#include "datasources/ChoiceList.h"
#include "datasources/WarehouseSession.h"
#include "dts/PackageRun.h"

class JobRecord;
class RunLocks;
class RunLog;
class RunSettings;
class RunValidationReport;

// One run of a configured package: its locks, the run-log header, the data links of an ETL
// model, remote data, the execution, and the outcome in the run log, the status file, the
// job-history record and the exit status (app/ExitCodes.h). The values of the run are those of
// the run settings it is given (prepared from the configuration file, app/RunPreparation.h, or
// copied from the window's fields); it never reaches the window. Used by the unattended run
// (Startup), by the window's Execute and, for its execute step, by pendrill-admin package run.
class RunSequence {
  public:
    struct Files {
        QString ConfigFile;  // the run configuration; empty when the window has none
        QString LogFile;     // -logfile: the run log is copied here at the end of the run
    };

    // Borrows the settings, the record and the run log (where its lines go: the window's) for
    // its lifetime.
    RunSequence(RunSettings& settings, JobRecord& record, Files files, const RunLog& log);
    ~RunSequence();
    RunSequence(const RunSequence&) = delete;
    RunSequence& operator=(const RunSequence&) = delete;

    // What makes the package object (the engine's CreatePackage2, or a test's fake).
    PackageRun::Factory PackageFactory;

    // The list the data links of an ETL model are loaded into (the window's data-link list);
    // without one the run uses a list of its own.
    void SetDataLinkList(ChoiceList* list) { dataLinkList_ = list; }
    // The warehouse connection and data links the run uses (the window's, so that the data links
    // the operator edited are the ones saved and used); without one the run uses its own.
    void SetWarehouseSession(WarehouseSession* session) {
        session_ = session != nullptr ? session : &ownSession_;
    }
    // The run log (the exception file) as it stands before the run settings name it.
    void SetRunLogFile(const QString& file) { runLogFile_ = file; }

    // Locks, loads the package, writes the run-log header, brings the data links of an ETL model
    // to dwm_data_link, fetches remote data, executes, and records the outcome in the run log,
    // the status file and the job-history record. Returns the exit status; OutcomeText() is its
    // failure text (empty after success) for the scheduler's own log.
    int Execute();
    // The execute step of a run (Execute's, and pendrill-admin package run's): executes the
    // loaded package. The log merge makes the log directory the current directory; the caller's
    // directory is restored afterwards, so that relative names given to the program keep their
    // meaning. False with the package's reason in `*error` (empty when it gave none).
    static bool ExecutePackage(PackageRun& package, QString* error = nullptr);
    // -validate: goes the run's road up to the remote data without changing anything (no status
    // file, run log, job-history record or catalogue row written): prepares the settings from the
    // configuration file (app/RunPreparation.h; the settings' JobID stays), asks the repository,
    // checks the required settings, loads the package and reaches the warehouse and the data
    // links of its model on a connection of its own. One line per check in `report`. Returns
    // ExitOk when the run could start, else the exit status it would end with.
    int Validate(RunValidationReport& report);
    // The run cannot start because required settings are missing: `error` (and `reason`, why
    // the package is not listed, when known) goes to the run log and "failure" to the status
    // file. Exit status ExitSettingsMissing.
    void RefuseSettings(const QString& error, const QString& reason);
    // The end of an unattended run: the run log is copied to the -logfile (or, when another
    // run holds the files, this run's one line is written there), then the locks are released.
    void Finish();

    // The configuration file is missing: the record is closed with status 2, the -logfile gets
    // the message, the status file "failure". Returns ExitNotLoaded.
    int MissingConfiguration(const QString& jobId);
    // The repository cannot be reached: logged (and shown in interactive mode), "failure",
    // the record closed with status 1, the run log copied. Returns ExitNotReachable.
    int RepositoryUnreachable(const QString& errorText, const QString& packageName,
                              bool interactive);
    // Closes the record when SIGTERM or SIGINT ended the run before an outcome was recorded.
    static void CloseStopped(JobRecord& record, const QString& packageName);

    int ExitStatus() const { return exitStatus_; }
    const QString& OutcomeText() const { return outcomeText_; }
    // The package's steps as its execution ended; empty when it did not execute.
    const std::vector<DtsStep>& Steps() const { return steps_; }
    // What the remote-data pass fetched, one entry per data link; empty when it did not run.
    const std::vector<RemoteDataFetched>& RemoteData() const { return remoteData_; }
    // The run log (the exception file) of the run.
    const QString& RunLogFile() const { return runLogFile_; }
    // Where the scheduler finds the run's log: the -logfile copy, else the run log; empty when
    // neither exists.
    QString LogForScheduler() const;

    // Copies the run log to the -logfile unless that is empty or the same file; a copy that
    // fails is reported as a problem of the run.
    void CopyRunLog() const;
    // Takes the run's locks (app/RunLocks.h) on the configuration file, the log directory and
    // the run log. False, with "Another run (process N) is using FILE" in `*message`, when another
    // run holds one of them.
    bool LockRunFiles(QString* message);

    // The first two header lines of the run log: the product banner, and the date as
    // "Sunday, Dec 6 2026" with English names whatever the locale.
    static QString BannerLine();
    static QString HeaderDate(const QDate& date);

    // Connects `session` to the warehouse and loads the data links of the package's model into
    // it and their names into `list` (and, with a configuration file, applies its data-source
    // sections); rows left out are named in the run log. False after logging why; the record is
    // then closed (status 1: the warehouse is out of reach; 2: its dwm_data_link table is
    // missing or cannot be read) with `recordPackage` as the package, and the status file says
    // "failure".
    static bool LoadDataLinks(WarehouseSession& session, const ServerConnectionModel& warehouse,
                              const QString& package, const QString& recordPackage,
                              const QString& configFile, ChoiceList& list, JobRecord& record,
                              const RunLog& log);

  private:
    class SignalledStop;
    int runSteps(SignalledStop& stop);

    RunSettings& settings_;
    JobRecord& record_;
    const RunLog& log_;
    Files files_;
    QString runLogFile_;
    ChoiceList* dataLinkList_ = nullptr;
    StringChoiceList ownDataLinks_;
    WarehouseSession ownSession_;
    WarehouseSession* session_ = &ownSession_;
    std::unique_ptr<RunLocks> locks_;
    int exitStatus_ = 0;
    QString outcomeText_;
    std::vector<DtsStep> steps_;
    std::vector<RemoteDataFetched> remoteData_;
    bool logCopyFailed_ = false;  // the -logfile of a missing configuration
};
