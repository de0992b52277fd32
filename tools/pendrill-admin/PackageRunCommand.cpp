#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

#include "PackageCommand.h"
#include "PackageRunRequest.h"
#include "app/RunLocks.h"
#include "app/RunSequence.h"
#include "dts/DtsPackage.h"
#include "dts/PackageRun.h"
#include "engine/PackageFactory.h"
#include "engine/PackageStore.h"
#include "util/StopFlags.h"
#include "util/TerminationSignals.h"

int PackageRunCommand(const AdminInvocation& invocation, const AdminIo& io) {
    const PackageRequest c(invocation);
    if (!CheckPackageName(c, io))
        return 2;

    PackageRunRequest run;
    QString error;
    for (const QString& assignment : c.args.values.value(QStringLiteral("--set"))) {
        if (!run.AddSetting(assignment, &error)) {
            io.error(error);
            return 2;
        }
    }
    // The --set values are checked against the stored package before anything is touched: loading
    // the run's package empties the log directory. A package that cannot be loaded here is left
    // to the run, which reports it.
    if (run.HasSettings()) {
        const std::unique_ptr<DtsPackage> probe = CreatePackage2();
        QString ignored;
        if (probe &&
            probe->LoadFromSQLServer(
                c.server, c.login.trusted ? QString() : c.login.user,
                c.login.trusted ? QString() : c.login.password,
                c.login.trusted ? DTSSQLStgFlag_UseTrustedConnection : DTSSQLStgFlag_Default,
                QString(), QString(), QString(), c.name, &ignored) &&
            !run.CheckSettings(*probe, &error)) {
            io.error(error);
            return 2;
        }
    }

    QTemporaryDir temporary;
    QString logDir = c.args.value(QStringLiteral("--logdir"));
    QString exceptionFile = c.args.value(QStringLiteral("--exception-file"));
    const bool printLog = exceptionFile.isEmpty();
    if (logDir.isEmpty() || printLog) {
        if (!temporary.isValid()) {
            io.error(QStringLiteral("cannot create a temporary directory"));
            return 1;
        }
        if (logDir.isEmpty())
            logDir = temporary.filePath(QStringLiteral("logs"));
        if (printLog)
            exceptionFile = temporary.filePath(QStringLiteral("exceptions.txt"));
    }

    run.DTSPackageName = c.name;
    run.DTSServer = c.server;
    run.DTSServerTrustedLogin = c.login.trusted;
    run.DTSLoginUserName = c.login.user;
    run.DTSLoginPassword = c.login.password;
    run.LogFileDir = logDir;
    run.ExceptionLogFile = exceptionFile;
    run.JobID = QStringLiteral("0");

    // Its log directory and exception file are a run's own, as those of a pendrill run.
    RunLocks locks;
    QString inUse;
    if (!locks.Acquire(QString(), logDir, exceptionFile, &inUse)) {
        io.error(inUse);
        return 1;
    }
    // From here on SIGTERM and SIGINT stop the run as they stop a Pendrill run: the package ends
    // before its next step (a bulk load at its next record, a program with its process group),
    // its logs are merged, and the locks and temporary files go.
    InstallTerminationHandlers();
    PackageRun packageRun(run, CreatePackage2);
    QString runError;
    if (!packageRun.Load(&runError)) {
        io.error(runError);
        QByteArray ignored;
        if (!LoadStoredPackage(c.server, c.login.user, c.login.password, c.login.trusted, c.name,
                               &ignored, &error) &&
            !error.isEmpty())
            io.error(error.replace(QLatin1String("\r\n"), QLatin1String("\n")));
        return 1;
    }
    if (!run.ApplySettings(packageRun.Package(), &error)) {
        io.error(error);
        return 2;
    }
    const bool ok = RunSequence::ExecutePackage(packageRun, &runError);
    if (printLog) {
        QFile log(exceptionFile);
        if (log.open(QIODevice::ReadOnly)) {
            const QByteArray text = log.readAll();
            io.write(text);
        }
    }
    if (!ok) {
        QString text = StopFlags::TerminationSignalled
                           ? QStringLiteral("Execution stopped by the user")
                           : runError;
        if (text.isEmpty())
            text = QStringLiteral("Execution of DTS package '%1' failed.").arg(c.name);
        io.error(text.trimmed().replace(QLatin1String("\r\n"), QLatin1String("\n")));
        return 1;
    }
    return 0;
}
