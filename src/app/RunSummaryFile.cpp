// The summary file of an unattended run (-summaryfile).

#include <pwd.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>

#include "app/RunEnd.h"
#include "util/TextFiles.h"

namespace {

QString accountName() {
    if (const passwd* account = getpwuid(geteuid()); account != nullptr)
        return QString::fromLocal8Bit(account->pw_name);
    return qEnvironmentVariable("USER");
}

// ISO 8601 local time with its offset, also "+00:00" where Qt would write "Z".
QString isoTime(const QDateTime& time) {
    QString text = time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODate);
    if (text.endsWith(QLatin1Char('Z')))
        text.replace(text.size() - 1, 1, QStringLiteral("+00:00"));
    return text;
}

double seconds(qint64 milliseconds) {
    return double(milliseconds) / 1000.0;
}

QJsonValue stepResult(const DtsStep& step) {
    if (step.ExecutionStatus == DTSStepExecStat_Inactive)
        return QStringLiteral("inactive");
    if (step.ExecutionStatus != DTSStepExecStat_Completed)
        return QStringLiteral("not run");
    return step.ExecutionResult == DTSStepExecResult_Success ? QStringLiteral("success")
                                                             : QStringLiteral("failure");
}

QJsonArray stepsArray(const std::vector<DtsStep>& steps) {
    QJsonArray array;
    for (const DtsStep& step : steps) {
        QJsonObject item;
        item.insert(QStringLiteral("name"), step.Name);
        item.insert(QStringLiteral("result"), stepResult(step));
        item.insert(QStringLiteral("durationSeconds"),
                    step.DurationSeconds < 0 ? QJsonValue() : QJsonValue(step.DurationSeconds));
        item.insert(QStringLiteral("rows"),
                    step.Rows < 0 ? QJsonValue() : QJsonValue(double(step.Rows)));
        array.append(item);
    }
    return array;
}

}  // namespace

QByteArray RunSummaryJson(const RunEnd& run) {
    QJsonObject summary;
    summary.insert(QStringLiteral("jobId"), run.jobId);
    summary.insert(QStringLiteral("configFile"), run.configFile);
    summary.insert(QStringLiteral("host"), QSysInfo::machineHostName());
    summary.insert(QStringLiteral("user"), accountName());
    summary.insert(QStringLiteral("pendrillVersion"), QStringLiteral(PENDRILL_VERSION));
    summary.insert(QStringLiteral("startTime"), isoTime(run.startTime));
    summary.insert(QStringLiteral("endTime"), isoTime(run.endTime));
    summary.insert(QStringLiteral("durationSeconds"), seconds(run.startTime.msecsTo(run.endTime)));
    summary.insert(QStringLiteral("exitStatus"), run.exitStatus);
    summary.insert(QStringLiteral("status"),
                   run.exitStatus == 0 ? QStringLiteral("ok") : QStringLiteral("failure"));
    summary.insert(QStringLiteral("reason"), run.exitStatus == 0 ? QString() : run.reason);
    summary.insert(QStringLiteral("package"), run.package);
    summary.insert(QStringLiteral("steps"), stepsArray(run.steps));
    QJsonArray remoteData;
    for (const RemoteDataFetched& fetched : run.remoteData)
        remoteData.append(QJsonObject{{QStringLiteral("dataLink"), fetched.dataLink},
                                      {QStringLiteral("transport"), fetched.transport},
                                      {QStringLiteral("files"), double(fetched.files)},
                                      {QStringLiteral("bytes"), double(fetched.bytes)}});
    summary.insert(QStringLiteral("remoteData"), remoteData);
    return QJsonDocument(summary).toJson(QJsonDocument::Indented);
}

bool WriteRunSummary(const QString& path, const RunEnd& run, QString* error) {
    return WriteFileAtomically(path, RunSummaryJson(run), -1, error);
}
