// The run of a configured package: Run (unattended) and RunPackage (also the window's Execute).

#include <QCoreApplication>
#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QTimer>
#include <cstdio>

#include "app/ExitCodes.h"
#include "app/MainFormModel.h"
#include "app/RunLocks.h"
#include "app/RunRemoteData.h"
#include "app/RunValidation.h"
#include "datasources/DataLinkCatalogue.h"
#include "datasources/WarehouseConnection.h"
#include "db/DbInterface.h"
#include "dts/PackageRun.h"
#include "history/JobRecord.h"
#include "util/OperatorInterface.h"
#include "util/RunLog.h"
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

// A termination signal only raises the stop flags; while a run is in progress this turns it into
// the stop request the window's Close command makes, logged once. The timer fires whenever the
// run lets pending events through (log lines, package steps, remote polling); Check() is also
// called where the run looks at the flags itself.
class SignalledStop {
  public:
    SignalledStop() {
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
        LogInfo(QStringLiteral("Waiting for end of execution"));
    }

  private:
    QTimer timer_;
    bool logged_ = false;
};

// The steps of RunPackage between the busy pointer and its reset. Returns the exit status the
// outcome stands for; the outcome text goes to form.RunOutcomeText.
int runSteps(MainFormModel& form, SignalledStop& stop) {
    RunSettings& settings = form.Settings;
    JobRecord& record = form.JobHistory();

    form.FormToSettings();
    // Another run of the same configuration, log directory or run log: this one ends before it
    // touches any of them (their run log included), so the other run's files stay its own.
    QString inUse;
    if (!form.LockRunFiles(inUse)) {
        form.RunOutcomeText = inUse;
        StopFlags::ShowStatusText(inUse);
        if (StopFlags::StartInConfigMode)
            Operator().ShowMessageBox(inUse, 16, QStringLiteral("Pendrill"));
        StatusFailure();
        closeRecord(record, 3, inUse, settings.DTSPackageName);
        return ExitInUse;
    }
    LogInfo(QStringLiteral("Loading DTS Package : ") + settings.DTSPackageName);
    PackageRun package(settings, form.PackageFactory);
    QString packageError;
    const bool loaded = package.Load(&packageError);

    LogInfo(MainFormModel::RunBannerLine());
    LogInfo(QStringLiteral("Run at : ") + MainFormModel::RunHeaderDate(QDate::currentDate()));
    LogInfo(QStringLiteral("DTS Server info         : ") + form.packageServerWidget.ServerName);
    LogInfo(QStringLiteral("DTS Package name        : ") + form.cmbETLPackage.Text());
    LogInfo(QStringLiteral("Data Warehouse server   : ") + form.warehouseServerWidget.ServerName);
    LogInfo(QStringLiteral("Data Warehouse database : ") + form.warehouseServerWidget.DatabaseName);
    if (!form.PendrillConfigFile.isEmpty())
        LogInfo(QStringLiteral("Pendrill Config file      : ") + form.PendrillConfigFile);
    for (const QString& note : StopFlags::TakeRunLogNotes())
        LogInfo(note);

    if (!loaded) {
        form.RunOutcomeText = QStringLiteral("Error: DTS package loading error\r\n") + packageError;
        LogMessage(form.RunOutcomeText, true, 16, QStringLiteral("DTS load error"));
        StatusFailure();
        closeRecord(record, 2, QStringLiteral("DTS Package loading error: ") + packageError,
                    settings.DTSPackageName);
        return ExitNotLoaded;
    }
    LogInfo(QStringLiteral("Loaded DTS Package : ") + settings.DTSPackageName);

    if (IsEtlModelPackage(form.cmbETLPackage.Text())) {
        DbConnection* dw = GetDWConnection();
        if (dw == nullptr || dw->State() != 1) {
            if (!form.getDataLinkInfo()) {
                // getDataLinkInfo has logged why, written "failure" and closed the record: with
                // status 1 the warehouse was out of reach, with status 2 its catalogue is missing.
                form.RunOutcomeText = record.Message();
                return record.Status() == 1 ? ExitNotReachable : ExitNotLoaded;
            }
        }
        stop.Check();
        // The fetch records take the exception file and job identifier of the run's record.
        const bool remoteData = FetchRunRemoteData(settings, record);
        // A signal may have ended the wait before the run's timer saw it.
        stop.Check();
        if (!remoteData) {
            form.RunOutcomeText = QStringLiteral("Remote data could not be obtained.");
            // The run log says why (a line per data link); the status bar ends as it does for
            // any run that was stopped.
            if (StopFlags::StopRequested)
                StopFlags::ShowStatusText(QStringLiteral("Execution stopped by the user"));
            StatusFailure();
            return ExitRemoteDataMissing;
        }
        if (!form.PendrillConfigFile.isEmpty()) {
            // The package reads its data links from the catalogue: it must see the ones of the
            // configuration file.
            QString error;
            if (!SaveAllDataSources(&error))
                LogInfo(QStringLiteral("Error: data sources not saved to dwm_data_link: ") + error);
        }
    }

    LogInfo(QStringLiteral("Executing DTS package : ") + settings.DTSPackageName);
    // The log merge makes the log directory the current directory. Relative names given to the
    // program (status file, -logfile, a relative exception file) keep meaning what they meant at
    // start-up: the directory of the run is restored for the rest of it.
    const QString runDirectory = QDir::currentPath();
    const bool executed = package.Execute(&packageError);
    QDir::setCurrent(runDirectory);
    stop.Check();
    if (executed) {
        LogInfo(QStringLiteral("Executed successfully."));
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
    form.RunOutcomeText = message;
    LogMessage(message, true, 16, QStringLiteral("DTS execution error"));
    closeRecord(record, 3, RemoveLineBreaks(message), settings.DTSPackageName);
    return StopFlags::StopRequested ? ExitStopped : ExitExecutionFailed;
}

}  // namespace

QString MainFormModel::RunHeaderDate(const QDate& date) {
    // The header is read by people and tools alike: English names whatever the locale.
    return QLocale(QLocale::English, QLocale::UnitedStates)
        .toString(date, QStringLiteral("dddd, MMM d yyyy"));
}

QString MainFormModel::RunBannerLine() {
    return QStringLiteral("Pendrill " PENDRILL_VERSION " - configure and execute ETL packages");
}

void MainFormModel::Run() {
    if (StartInConfigMode)
        return;
    QString error;
    if (CheckRunnable(error)) {
        // The locks stay until the run log has been copied.
        keepRunLocks_ = true;
        RunPackage();
        keepRunLocks_ = false;
    } else {
        LogInfo(error);
        RunOutcomeText = error;
        // "DTS Package not filled" alone would hide why: a package missing from the server's
        // store, or a DTS server that is unknown or out of reach.
        const QString reason = PackageNotListedReason(*this);
        if (!reason.isEmpty()) {
            LogInfo(reason);
            RunOutcomeText += QStringLiteral(" (") + reason + QLatin1Char(')');
        }
        StatusFailure();
        RunExitStatus = ExitSettingsMissing;
    }
    if (RunExitStatus == ExitInUse) {
        // The exception file belongs to the other run: the scheduler's log gets this run's
        // one line instead of a copy.
        if (!LogFile.isEmpty() &&
            QFileInfo(LogFile).absoluteFilePath() != QFileInfo(txtDTSErrorFile).absoluteFilePath())
            WriteFileAtomically(LogFile, RunOutcomeText.toUtf8() + "\r\n");
    } else {
        // The exception file is the run log; the scheduler gets its copy under the -logfile name.
        CopyRunLog();
    }
    if (runLocks_)
        runLocks_->Release();
    Unload();
}

bool MainFormModel::LockRunFiles(QString& message) {
    if (!runLocks_)
        runLocks_ = std::make_unique<RunLocks>();
    return runLocks_->Acquire(PendrillConfigFile, Settings.LogFileDir, txtDTSErrorFile, message);
}

void MainFormModel::CopyRunLog() const {
    if (LogFile.isEmpty() || txtDTSErrorFile == LogFile)
        return;
    QString why;
    if (!CopyFileReplacing(txtDTSErrorFile, LogFile, &why))
        StopFlags::ReportProblem(
            QStringLiteral("cannot copy the run log to %1: %2").arg(LogFile, why));
}

void MainFormModel::RunPackage() {
    OperatorInterface& op = Operator();
    op.SetMousePointer(OperatorInterface::ArrowHourglassPointer);
    Running = true;
    Enabled.cmdExecute = false;
    Enabled.cmdSave = false;
    RunOutcomeText.clear();
    {
        SignalledStop stop;
        RunExitStatus = runSteps(*this, stop);
    }
    if (RunExitStatus != ExitOk && StopFlags::StopRequested)
        RunExitStatus = ExitStopped;
    if (runLocks_ && !keepRunLocks_)
        runLocks_->Release();
    Enabled.cmdExecute = true;
    Enabled.cmdSave = true;
    Running = false;
    op.SetMousePointer(OperatorInterface::DefaultPointer);
}
