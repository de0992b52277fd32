// The run of a configured package, from its locks to its exit status.

#include "app/RunSequence.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QTimer>
#include <cstdio>

#include "app/ExitCodes.h"
#include "app/RunLocks.h"
#include "app/RunRemoteData.h"
#include "config/RunSettings.h"
#include "datasources/DataLinkCatalogue.h"
#include "datasources/DataSourceSections.h"
#include "datasources/WarehouseSession.h"
#include "dts/PackageRun.h"
#include "history/JobRecord.h"
#include "util/FileUtils.h"
#include "util/OperatorInterface.h"
#include "util/RunLog.h"
#include "util/RunTargets.h"
#include "util/StatusFile.h"
#include "util/StopFlags.h"
#include "util/TextFiles.h"

namespace {

// Sets the outcome of the run's record and stores it.
void closeRecord(JobRecord& record, qint32 status, const QString& message,
                 const QString& packageName) {
    record.setStatus(status);
    record.setMessage(message);
    record.setEndTime(QDateTime::currentDateTime());
    record.Close(4, QStringLiteral("Pendrill"),
                 JobRecord::CloseArgumentsFor(QStringLiteral("DTS"), packageName));
}

const QString kConnectTitle = QStringLiteral("Connect to data warehouse server");

}  // namespace

// A termination signal only raises the stop flags; while a run is in progress this turns it into
// the stop request the window's Close command makes, logged once. The timer fires whenever the
// run lets pending events through (log lines, package steps, remote polling); Check() is also
// called where the run looks at the flags itself.
class RunSequence::SignalledStop {
  public:
    explicit SignalledStop(const RunLog& log) : log_(log) {
        if (QCoreApplication::instance() == nullptr)
            return;
        QObject::connect(&timer_, &QTimer::timeout, [this] { Check(); });
        timer_.start(100);
    }
    void Check() {
        if (!StopFlags::TerminationSignalled)
            return;
        // Polling clears the remote flag when it starts; the signal keeps it raised.
        StopFlags::StopRequested = true;
        StopFlags::RemoteStopRequested = true;
        if (logged_)
            return;
        logged_ = true;
        log_.Info(QStringLiteral("Waiting for end of execution"));
    }

  private:
    const RunLog& log_;
    QTimer timer_;
    bool logged_ = false;
};

RunSequence::RunSequence(RunSettings& settings, JobRecord& record, Files files, const RunLog& log)
    : settings_(settings), record_(record), log_(log), files_(std::move(files)) {}

RunSequence::~RunSequence() = default;

QString RunSequence::HeaderDate(const QDate& date) {
    // The header is read by people and tools alike: English names whatever the locale.
    return QLocale(QLocale::English, QLocale::UnitedStates)
        .toString(date, QStringLiteral("dddd, MMM d yyyy"));
}

QString RunSequence::BannerLine() {
    return QStringLiteral("Pendrill " PENDRILL_VERSION " - configure and execute ETL packages");
}

bool RunSequence::LockRunFiles(QString* message) {
    if (!locks_)
        locks_ = std::make_unique<RunLocks>();
    return locks_->Acquire(files_.ConfigFile, settings_.LogFileDir, runLogFile_, message);
}

void RunSequence::CopyRunLog() const {
    if (files_.LogFile.isEmpty() || runLogFile_ == files_.LogFile)
        return;
    QString why;
    if (!CopyFileReplacing(runLogFile_, files_.LogFile, &why))
        RunTargets::ReportProblem(
            QStringLiteral("cannot copy the run log to %1: %2").arg(files_.LogFile, why));
}

QString RunSequence::LogForScheduler() const {
    if (logCopyFailed_)
        return QString();
    if (!files_.LogFile.isEmpty() && FileExists(files_.LogFile))
        return files_.LogFile;
    return FileExists(runLogFile_) ? runLogFile_ : QString();
}

bool RunSequence::LoadDataLinks(WarehouseSession& session, const ServerConnectionModel& dw,
                                const QString& package, const QString& recordPackage,
                                const QString& configFile, ChoiceList& list, JobRecord& record,
                                const RunLog& log) {
    QString errorText;
    if (!session.Connect(dw.ServerName, dw.TrustedLogin, dw.UserName, dw.Password, dw.DatabaseName,
                         20, &errorText)) {
        log.Message(errorText, true, 16, kConnectTitle);
        closeRecord(record, 1, errorText, recordPackage);
        log.Info(errorText);
        StatusFailure();
        return false;
    }
    QStringList skipped;
    const bool loaded = LoadDataLinkList(session, package, list, &skipped, &errorText);
    for (const QString& note : skipped)
        log.Info(note);
    if (!loaded) {
        if (errorText == QLatin1String(DataLinkTableMissingText))
            log.Message(errorText, true, 16, QString::fromLatin1(DataLinkTableMissingTitle));
        closeRecord(
            record, 2,
            QStringLiteral("Table dwm_data_link not found in specified data warehouse database."),
            recordPackage);
        StatusFailure();
        return false;
    }
    if (!configFile.isEmpty())
        ReadDataSourceSections(configFile, *session.Links());
    return true;
}

int RunSequence::Execute() {
    outcomeText_.clear();
    runLogFile_ = settings_.ExceptionLogFile;
    {
        SignalledStop stop(log_);
        exitStatus_ = runSteps(stop);
    }
    if (exitStatus_ != ExitOk && StopFlags::StopRequested)
        exitStatus_ = ExitStopped;
    return exitStatus_;
}

bool RunSequence::ExecutePackage(PackageRun& package, QString* error) {
    // Relative names given to the program (status file, -logfile, a relative exception file)
    // keep meaning what they meant at start-up: the directory of the run is restored.
    const QString runDirectory = QDir::currentPath();
    const bool executed = package.Execute(error);
    QDir::setCurrent(runDirectory);
    return executed;
}

void RunSequence::RefuseSettings(const QString& error, const QString& reason) {
    log_.Info(error);
    outcomeText_ = error;
    // "DTS Package not filled" alone would hide why: a package missing from the server's store,
    // or a DTS server that is unknown or out of reach.
    if (!reason.isEmpty()) {
        log_.Info(reason);
        outcomeText_ += QStringLiteral(" (") + reason + QLatin1Char(')');
    }
    StatusFailure();
    exitStatus_ = ExitSettingsMissing;
}

void RunSequence::Finish() {
    if (exitStatus_ == ExitInUse) {
        // The run log belongs to the other run: the scheduler's log gets this run's one line
        // instead of a copy.
        if (!files_.LogFile.isEmpty() && QFileInfo(files_.LogFile).absoluteFilePath() !=
                                             QFileInfo(runLogFile_).absoluteFilePath())
            WriteFileAtomically(files_.LogFile, outcomeText_.toUtf8() + "\r\n");
    } else {
        // The exception file is the run log; the scheduler gets its copy under the -logfile name.
        CopyRunLog();
    }
    if (locks_)
        locks_->Release();
}

int RunSequence::MissingConfiguration(const QString& jobId) {
    const QString message = QStringLiteral("Can't find Config File ") + files_.ConfigFile;
    record_.setMessage(message);
    record_.setStatus(2);
    record_.setJobIdentifier(jobId);
    record_.setEndTime(QDateTime::currentDateTime());
    record_.Close(4, QStringLiteral("Pendrill"));
    outcomeText_ = message;
    QString why;
    logCopyFailed_ = !files_.LogFile.isEmpty() &&
                     !WriteFileAtomically(files_.LogFile, message.toUtf8() + "\r\n", -1, &why);
    if (logCopyFailed_)
        outcomeText_ +=
            QStringLiteral(" (the log file %1 cannot be written: %2)").arg(files_.LogFile, why);
    StatusFailure();
    exitStatus_ = ExitNotLoaded;
    return exitStatus_;
}

int RunSequence::RepositoryUnreachable(const QString& errorText, const QString& packageName,
                                       bool interactive) {
    log_.Message(errorText, true, 16, QStringLiteral("Pendrill"));
    StatusFailure();
    record_.setStatus(1);
    record_.setMessage(RemoveLineBreaks(errorText));
    record_.setEndTime(QDateTime::currentDateTime());
    record_.Close(4, QStringLiteral("Pendrill"),
                  JobRecord::CloseArgumentsFor(QStringLiteral("DTS"), packageName));
    CopyRunLog();
    outcomeText_ = errorText;
    // In interactive mode the box said it; standard error says it too, for the terminal.
    if (interactive)
        std::fprintf(stderr, "pendrill: %s\n",
                     RemoveLineBreaks(errorText).toLocal8Bit().constData());
    exitStatus_ = ExitNotReachable;
    return exitStatus_;
}

void RunSequence::CloseStopped(JobRecord& record, const QString& packageName) {
    closeRecord(record, 3, QStringLiteral("Execution stopped by the user"), packageName);
}

int RunSequence::runSteps(SignalledStop& stop) {
    RunSettings& settings = settings_;
    JobRecord& record = record_;

    // Another run of the same configuration, log directory or run log: this one ends before it
    // touches any of them (their run log included), so the other run's files stay its own.
    QString inUse;
    if (!LockRunFiles(&inUse)) {
        outcomeText_ = inUse;
        log_.ShowStatus(inUse);
        if (log_.interactive)
            Operator().ShowMessageBox(inUse, 16, QStringLiteral("Pendrill"));
        StatusFailure();
        closeRecord(record, 3, inUse, settings.DTSPackageName);
        return ExitInUse;
    }
    log_.Info(QStringLiteral("Loading DTS Package : ") + settings.DTSPackageName);
    PackageRun package(settings, PackageFactory);
    QString packageError;
    const bool loaded = package.Load(&packageError);

    log_.Info(BannerLine());
    log_.Info(QStringLiteral("Run at : ") + HeaderDate(QDate::currentDate()));
    log_.Info(QStringLiteral("DTS Server info         : ") + settings.DTSServer);
    log_.Info(QStringLiteral("DTS Package name        : ") + settings.DTSPackageName);
    log_.Info(QStringLiteral("Data Warehouse server   : ") + settings.DWServer);
    log_.Info(QStringLiteral("Data Warehouse database : ") + settings.DWDatabaseName);
    if (!files_.ConfigFile.isEmpty())
        log_.Info(QStringLiteral("Pendrill Config file      : ") + files_.ConfigFile);
    for (const QString& note : RunTargets::TakeRunLogNotes())
        log_.Info(note);

    if (!loaded) {
        outcomeText_ = QStringLiteral("Error: DTS package loading error\r\n") + packageError;
        log_.Message(outcomeText_, true, 16, QStringLiteral("DTS load error"));
        StatusFailure();
        closeRecord(record, 2, QStringLiteral("DTS Package loading error: ") + packageError,
                    settings.DTSPackageName);
        return ExitNotLoaded;
    }
    log_.Info(QStringLiteral("Loaded DTS Package : ") + settings.DTSPackageName);

    if (IsEtlModelPackage(settings.DTSPackageName)) {
        WarehouseSession& session = *session_;
        if (!session.Connected()) {
            ServerConnectionModel warehouse;
            warehouse.ServerName = settings.DWServer;
            warehouse.DatabaseName = settings.DWDatabaseName;
            warehouse.TrustedLogin = settings.DWServerTrustedLogin;
            warehouse.UserName = settings.DWServerLoginUserName;
            warehouse.Password = settings.DWServerLoginPassword;
            if (!LoadDataLinks(session, warehouse, settings.DTSPackageName, settings.DTSPackageName,
                               files_.ConfigFile,
                               dataLinkList_ != nullptr ? *dataLinkList_ : ownDataLinks_, record,
                               log_)) {
                // LoadDataLinks has logged why, written "failure" and closed the record: with
                // status 1 the warehouse was out of reach, with status 2 its catalogue is missing.
                outcomeText_ = record.Message();
                return record.Status() == 1 ? ExitNotReachable : ExitNotLoaded;
            }
        }
        stop.Check();
        // The fetch records take the exception file and job identifier of the run's record.
        const bool remoteData = FetchRunRemoteData(session, settings, record, log_, &remoteData_);
        // A signal may have ended the wait before the run's timer saw it.
        stop.Check();
        if (!remoteData) {
            outcomeText_ = QStringLiteral("Remote data could not be obtained.");
            // The run log says why (a line per data link); the status bar ends as it does for
            // any run that was stopped.
            if (StopFlags::StopRequested)
                log_.ShowStatus(QStringLiteral("Execution stopped by the user"));
            StatusFailure();
            return ExitRemoteDataMissing;
        }
        if (!files_.ConfigFile.isEmpty()) {
            // The package reads its data links from the catalogue: it must see the ones of the
            // configuration file.
            QString error;
            if (!session.SaveAll(&error))
                log_.Info(QStringLiteral("Error: data sources not saved to dwm_data_link: ") +
                          error);
        }
    }

    log_.Info(QStringLiteral("Executing DTS package : ") + settings.DTSPackageName);
    const bool executed = ExecutePackage(package, &packageError);
    steps_ = package.StepResults();
    stop.Check();
    if (executed) {
        log_.Info(QStringLiteral("Executed successfully."));
        StatusOk();
        closeRecord(record, 0, QString(), settings.DTSPackageName);
        return ExitOk;
    }
    StatusFailure();
    QString message;
    if (StopFlags::StopRequested)
        message = QStringLiteral("Execution stopped by the user");
    else if (packageError.isEmpty())
        message = QStringLiteral("Execution of DTS package '") + settings.DTSPackageName +
                  QStringLiteral("' failed.");
    else
        message = QStringLiteral("Error: DTS package execute error\r\n") + packageError;
    outcomeText_ = message;
    log_.Message(message, true, 16, QStringLiteral("DTS execution error"));
    closeRecord(record, 3, RemoveLineBreaks(message), settings.DTSPackageName);
    return StopFlags::StopRequested ? ExitStopped : ExitExecutionFailed;
}
