// The hooks of an unattended run: the on-failure or on-success command of the settings store.

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>

#include "app/RunEnd.h"
#include "config/HookSettings.h"
#include "config/SettingsStore.h"
#include "util/StopFlags.h"
#include "util/TextFiles.h"

namespace {

// The words of a command as a POSIX shell splits them, without expansions: blanks separate words,
// single quotes keep everything, double quotes everything but a backslash before " \\ $ `, and a
// backslash outside quotes keeps the next character. An unterminated quote runs to the end.
QStringList shellWords(const QString& command) {
    QStringList words;
    QString word;
    bool inWord = false;
    QChar quote;
    for (qsizetype i = 0; i < command.size(); ++i) {
        const QChar c = command.at(i);
        if (quote == QLatin1Char('\'')) {
            if (c == quote)
                quote = QChar();
            else
                word += c;
        } else if (quote == QLatin1Char('"')) {
            if (c == quote)
                quote = QChar();
            else if (c == QLatin1Char('\\') && i + 1 < command.size() &&
                     QStringLiteral("\"\\$`").contains(command.at(i + 1)))
                word += command.at(++i);
            else
                word += c;
        } else if (c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n')) {
            if (inWord)
                words << word;
            word.clear();
            inWord = false;
            continue;
        } else if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            quote = c;
        } else if (c == QLatin1Char('\\') && i + 1 < command.size()) {
            word += command.at(++i);
        } else {
            word += c;
        }
        inWord = true;
    }
    if (inWord)
        words << word;
    return words;
}

// The hook's output lines, each "Hook: LINE", appended to every log file.
void logHookLines(const QStringList& logFiles, const QStringList& lines) {
    if (lines.isEmpty())
        return;
    QStringList prefixed;
    for (const QString& line : lines)
        prefixed << QStringLiteral("Hook: ") + line;
    for (const QString& file : logFiles)
        if (!file.isEmpty())
            AppendLines(file, prefixed.join(QStringLiteral("\r\n")));
}

QStringList outputLines(QProcess& process) {
    QStringList lines = DecodeUtf8OrLatin1(process.readAll()).split(QLatin1Char('\n'));
    for (QString& line : lines)
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

}  // namespace

void RunEndHook(const RunEnd& run, const QString& summaryFile, const QStringList& logFiles) {
    const QString key = QString::fromLatin1(HookSettingsKey);
    const QString command = ReadRegistryValue(
        key, QString::fromLatin1(run.exitStatus == 0 ? HookOnSuccessValue : HookOnFailureValue));
    QStringList words = shellWords(command);
    if (words.isEmpty())
        return;
    bool numeric = false;
    int timeout = ReadRegistryValue(key, QString::fromLatin1(HookTimeoutValue)).toInt(&numeric);
    if (!numeric || timeout <= 0)
        timeout = DefaultHookTimeoutSeconds;

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PENDRILL_JOB_ID"), run.jobId);
    environment.insert(QStringLiteral("PENDRILL_EXIT_STATUS"), QString::number(run.exitStatus));
    environment.insert(QStringLiteral("PENDRILL_STATUS"),
                       run.exitStatus == 0 ? QStringLiteral("ok") : QStringLiteral("failure"));
    environment.insert(QStringLiteral("PENDRILL_REASON"), run.reason);
    environment.insert(QStringLiteral("PENDRILL_RUN_LOG"), run.runLog);
    environment.insert(QStringLiteral("PENDRILL_CONFIG"), run.configFile);
    environment.remove(QStringLiteral("PENDRILL_SUMMARY"));
    if (!summaryFile.isEmpty())
        environment.insert(QStringLiteral("PENDRILL_SUMMARY"),
                           QFileInfo(summaryFile).absoluteFilePath());

    QProcess process;
    process.setProgram(words.takeFirst());
    process.setArguments(words);
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start();
    if (!process.waitForStarted(-1)) {
        logHookLines(logFiles, {QStringLiteral("%1 could not be started: %2")
                                    .arg(process.program(), process.errorString())});
        return;
    }
    QStringList lines;
    // The hook ends at its time-out, or when SIGTERM or SIGINT comes while it runs.
    const bool signalledBefore = StopFlags::TerminationSignalled;
    bool timedOut = false;
    bool signalled = false;
    QElapsedTimer clock;
    clock.start();
    while (process.state() != QProcess::NotRunning && !process.waitForFinished(100)) {
        timedOut = clock.elapsed() >= qint64(timeout) * 1000;
        signalled = !signalledBefore && StopFlags::TerminationSignalled;
        if (!timedOut && !signalled)
            continue;
        process.terminate();
        if (!process.waitForFinished(2000)) {
            process.kill();
            process.waitForFinished(-1);
        }
        break;
    }
    lines << outputLines(process);
    if (signalled)
        lines << QStringLiteral("%1 was stopped: the program was asked to end")
                     .arg(process.program());
    else if (timedOut)
        lines << QStringLiteral("%1 did not end within %2 s and was stopped")
                     .arg(process.program())
                     .arg(timeout);
    else if (process.exitStatus() != QProcess::NormalExit)
        lines << QStringLiteral("%1 ended by a signal").arg(process.program());
    else if (process.exitCode() != 0)
        lines << QStringLiteral("%1 ended with exit status %2")
                     .arg(process.program())
                     .arg(process.exitCode());
    logHookLines(logFiles, lines);
}
