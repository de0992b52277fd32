// Run program: an external program with its arguments, waited for while the user interface stays
// alive. Its standard output and error go to "<package>_<step>_output.log" in the log directory,
// so that the merge brings them into the exception file; an empty output file is removed.

#include <signal.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include "engine/tasks/PackageTasks.h"
#include "util/Counted.h"
#include "util/OperatorInterface.h"
#include "util/StopFlags.h"

QString StepFileName(const TaskContext& context, const QString& suffix) {
    QString name = context.packageName + QLatin1Char('_') + context.stepName;
    for (QChar& c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() < 32)
            c = QLatin1Char('_');
    }
    return name + suffix;
}

namespace {

// Ends a program and everything it started: the program leads its own process group, so the
// whole group is asked to terminate, given `graceMs`, and then killed.
void EndProcessGroup(QProcess& process, qint64 graceMs) {
    const pid_t group = static_cast<pid_t>(process.processId());
    if (group <= 0) {
        process.kill();
        process.waitForFinished(-1);
        return;
    }
    ::kill(-group, SIGTERM);
    QElapsedTimer grace;
    grace.start();
    while (grace.elapsed() < graceMs && ::kill(-group, 0) == 0) {
        if (process.state() != QProcess::NotRunning)
            process.waitForFinished(50);
        else
            ::usleep(50 * 1000);
    }
    ::kill(-group, SIGKILL);
    process.waitForFinished(-1);
}

}  // namespace

TaskOutcome RunProgram(const RunProgramTask& task, const TaskContext& context) {
    const QString program = context.expand(task.program);
    QStringList arguments;
    for (const QString& argument : task.arguments)
        arguments << context.expand(argument);

    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    // Its own process group (and session), so that a time-out ends what the program started too.
    process.setChildProcessModifier([] { ::setsid(); });
    const QString workingDirectory = context.expand(task.workingDirectory);
    if (!workingDirectory.isEmpty())
        process.setWorkingDirectory(workingDirectory);
    QString outputFile;
    if (!context.logDirectory.isEmpty()) {
        outputFile = QDir(context.logDirectory)
                         .filePath(StepFileName(context, QStringLiteral("_output.log")));
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setStandardOutputFile(outputFile, QIODevice::Append);
    } else {
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
    }

    auto removeEmptyOutput = [&] {
        if (!outputFile.isEmpty() && QFile(outputFile).size() == 0)
            QFile::remove(outputFile);
    };

    process.start();
    if (!process.waitForStarted(-1)) {
        removeEmptyOutput();
        return TaskOutcome::Failure(
            QStringLiteral("Can not start program '%1': %2").arg(program, process.errorString()));
    }
    QElapsedTimer clock;
    clock.start();
    const qint64 limit = qint64(task.timeoutSeconds) * 1000;
    bool timedOut = false;
    bool terminated = false;
    while (process.state() != QProcess::NotRunning) {
        if (process.waitForFinished(100))
            break;
        Operator().ProcessPendingEvents();
        if (StopFlags::TerminationSignalled) {
            // The program itself is asked to end: the step does not keep it waiting.
            terminated = true;
            EndProcessGroup(process, 500);
            break;
        }
        if (limit > 0 && clock.elapsed() >= limit) {
            timedOut = true;
            EndProcessGroup(process, 2000);
            break;
        }
    }
    removeEmptyOutput();

    if (terminated)
        return TaskOutcome::Failure(
            QStringLiteral("Program '%1' was ended: Pendrill was asked to stop").arg(program));
    if (timedOut)
        return TaskOutcome::Failure(
            QStringLiteral("Program '%1' did not end within %2")
                .arg(program, Counted(task.timeoutSeconds, "second", "seconds")));
    if (process.exitStatus() != QProcess::NormalExit)
        return TaskOutcome::Failure(QStringLiteral("Program '%1' ended abnormally: %2")
                                        .arg(program, process.errorString()));
    if (process.exitCode() != task.successExitCode)
        return TaskOutcome::Failure(QStringLiteral("Program '%1' ended with exit code %2 (success "
                                                   "is %3)")
                                        .arg(program)
                                        .arg(process.exitCode())
                                        .arg(task.successExitCode));
    return TaskOutcome{true, 0, QString()};
}
