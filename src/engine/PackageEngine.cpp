#include "engine/PackageEngine.h"

#include <syslog.h>

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <functional>
#include <queue>
#include <vector>

#include "engine/DataLinkResolver.h"
#include "engine/PackageStore.h"
#include "engine/tasks/TaskConnections.h"
#include "util/Counted.h"
#include "util/Errors.h"
#include "util/OperatorInterface.h"
#include "util/PrivateFiles.h"
#include "util/RunLog.h"
#include "util/StopFlags.h"
#include "util/TextFiles.h"

namespace {

const QString kNeedsDatabase = QStringLiteral("needs a database connection");

void WriteSystemLog(bool failed, const QString& text) {
    openlog("Pendrill", LOG_PID, LOG_USER);
    syslog(failed ? LOG_ERR : LOG_INFO, "%s", text.toUtf8().constData());
    closelog();
}

QString OneLine(QString text) {
    text.replace(QLatin1String("\r\n"), QLatin1String(" "));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    return text;
}

}  // namespace

PackageServices DefaultPackageServices() {
    PackageServices s;
    // Without the run's log, notes on skipped rows go to the operator alone.
    s.resolveDataLink = [](const QString& dataLink, const PackageServices::Warehouse& warehouse,
                           ResolvedConnection* connection, QString* error) {
        return ResolveDataLinkFromWarehouse(dataLink, warehouse, RunLog(), connection, error);
    };
    s.openBulkSink = OpenResolvedBulkSink;
    s.loadDocument = LoadStoredPackage;
    s.completionEvent = WriteSystemLog;
    return s;
}

EnginePackage::EnginePackage(PackageServices services) : services_(std::move(services)) {}

EnginePackage::~EnginePackage() = default;

bool EnginePackage::LoadFromSQLServer(const QString& server, const QString& user,
                                      const QString& password, int flags, const QString&,
                                      const QString&, const QString&, const QString& packageName,
                                      QString* error) {
    QString reason;
    QByteArray xml;
    const bool trusted = (flags & DTSSQLStgFlag_UseTrustedConnection) != 0;
    if (!services_.loadDocument ||
        !services_.loadDocument(server, trusted ? QString() : user, trusted ? QString() : password,
                                trusted, packageName, &xml, &reason)) {
        return Fail(error, reason);
    }
    return LoadFromDocument(xml, error);
}

bool EnginePackage::LoadFromDocument(const QByteArray& xml, QString* error) {
    PackageDocument document;
    QStringList errors;
    if (!ParsePackageDocument(xml, &document, &errors)) {
        return Fail(error, errors.join(QLatin1Char('\n')));
    }
    document_ = std::move(document);
    values_.clear();
    for (const PackageVariable& v : document_.variables)
        values_.push_back(v.value);
    steps_.clear();
    for (const PackageStep& s : document_.steps)
        steps_.push_back(DtsStep{s.name, DTSStepExecStat_Waiting, DTSStepExecResult_Success});
    loaded_ = true;
    return true;
}

bool EnginePackage::HasGlobalVariable(const QString& name) const {
    return document_.VariableIndex(name) >= 0;
}

QVariant EnginePackage::GlobalVariableValue(const QString& name) const {
    const int i = document_.VariableIndex(name);
    return i < 0 ? QVariant() : values_[static_cast<size_t>(i)];
}

bool EnginePackage::SetGlobalVariableValue(const QString& name, const QVariant& value) {
    const int i = document_.VariableIndex(name);
    if (i < 0)
        return false;
    values_[static_cast<size_t>(i)] = value;
    return true;
}

QString EnginePackage::VariableText(const QString& name) const {
    const QVariant v = GlobalVariableValue(name);
    if (v.typeId() == QMetaType::Bool)
        return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    return v.toString();
}

QString EnginePackage::Expand(const QString& text) const {
    return ExpandVariables(text, [this](const QString& name) -> std::optional<QString> {
        if (!HasGlobalVariable(name))
            return std::nullopt;
        return VariableText(name);
    });
}

bool EnginePackage::ResolveConnection(const QString& name, ResolvedConnection* out,
                                      QString* error) const {
    const int index = document_.ConnectionIndex(name);
    if (index < 0) {
        *error = QStringLiteral("Unknown connection '%1'").arg(name);
        return false;
    }
    const PackageConnection& c = document_.connections[index];
    if (c.IsDataLink()) {
        PackageServices::Warehouse warehouse;
        warehouse.packageName = document_.name;
        warehouse.server = VariableText(QStringLiteral("DestinationServer"));
        warehouse.database = VariableText(QStringLiteral("DestServerDatabaseName"));
        warehouse.user = VariableText(QStringLiteral("DestServerLoginUserName"));
        warehouse.password = VariableText(QStringLiteral("DestServerLoginPassword"));
        warehouse.trusted =
            VariableText(QStringLiteral("DestServerTrustedLogin")) == QLatin1String("true");
        *out = ResolvedConnection();
        if (!services_.resolveDataLink ||
            !services_.resolveDataLink(c.dataLink, warehouse, out, error))
            return false;
        out->name = c.name;
        return true;
    }
    out->name = c.name;
    out->server = Expand(c.server);
    out->database = Expand(c.database);
    out->user = Expand(c.user);
    out->password = Expand(c.password);
    const QString trusted = Expand(c.trusted).trimmed().toLower();
    out->trusted = trusted == QLatin1String("true") || trusted == QLatin1String("1");
    out->directory = Expand(c.directory);
    return true;
}

std::optional<DtsStep> EnginePackage::StepItem(int index) const {
    if (index < 1 || index > StepCount())
        return std::nullopt;
    return steps_[static_cast<size_t>(index - 1)];
}

void EnginePackage::UnInitialize() {
    // Tasks hold their connections only while they run; nothing stays open between steps.
    loaded_ = false;
}

bool EnginePackage::Runnable(size_t index) const {
    if (steps_[index].ExecutionStatus != DTSStepExecStat_Waiting)
        return false;
    for (const PrecedenceConstraint& p :
         document_.steps[static_cast<qsizetype>(index)].precedence) {
        const DtsStep& before = steps_[static_cast<size_t>(document_.StepIndex(p.step))];
        if (before.ExecutionStatus != DTSStepExecStat_Completed)
            return false;
        if (p.on == PrecedenceOn::Success && before.ExecutionResult != DTSStepExecResult_Success)
            return false;
        if (p.on == PrecedenceOn::Failure && before.ExecutionResult != DTSStepExecResult_Failure)
            return false;
    }
    return true;
}

void EnginePackage::Log(const QString& logFile, const QString& text) const {
    if (logFile.isEmpty())
        return;
    AppendLines(logFile,
                QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) +
                    QStringLiteral("  ") + OneLine(text));
}

bool EnginePackage::Execute(QString* error) {
    if (!loaded_) {
        return Fail(error, QStringLiteral("No package loaded"));
    }
    for (size_t i = 0; i < steps_.size(); ++i) {
        steps_[i].ExecutionStatus = document_.steps[static_cast<qsizetype>(i)].disabled
                                        ? DTSStepExecStat_Inactive
                                        : DTSStepExecStat_Waiting;
        steps_[i].ExecutionResult = DTSStepExecResult_Success;
        steps_[i].DurationSeconds = -1;
        steps_[i].Rows = -1;
    }

    const QString logDirectory = VariableText(QStringLiteral("ExceptionFilePath"));
    QString logFile;
    if (!logDirectory.isEmpty()) {
        MakePrivateDirectory(logDirectory);
        logFile = QDir(logDirectory).filePath(document_.name + QStringLiteral(".log"));
    }

    TaskContext context;
    context.packageName = document_.name;
    context.logDirectory = logDirectory;
    context.expand = [this](const QString& text) { return Expand(text); };
    context.variable = [this](const QString& name) { return GlobalVariableValue(name); };
    context.connection = [this](const QString& name, ResolvedConnection* c, QString* e) {
        return ResolveConnection(name, c, e);
    };
    context.openBulkSink = services_.openBulkSink;

    // The step to run next is the first runnable one in document order. A step becomes runnable
    // only when a step it follows completes, so only the followers of that step are looked at
    // then, not every step (a package of many thousand steps would take minutes to schedule).
    std::vector<std::vector<size_t>> followers(steps_.size());
    for (size_t i = 0; i < steps_.size(); ++i)
        for (const PrecedenceConstraint& p : document_.steps[static_cast<qsizetype>(i)].precedence)
            if (const qsizetype before = document_.StepIndex(p.step); before >= 0)
                followers[static_cast<size_t>(before)].push_back(i);
    std::priority_queue<size_t, std::vector<size_t>, std::greater<>> runnable;
    for (size_t i = 0; i < steps_.size(); ++i)
        if (Runnable(i))
            runnable.push(i);

    int succeeded = 0, failed = 0;
    for (;;) {
        while (!runnable.empty() && !Runnable(runnable.top()))
            runnable.pop();
        if (runnable.empty())
            break;
        const size_t next = runnable.top();
        runnable.pop();
        DtsStep& state = steps_[next];
        const PackageStep& step = document_.steps[static_cast<qsizetype>(next)];
        if (StopFlags::StopRequested) {
            // A stop request ends the execution between steps: the step that would run next
            // counts as failed, so the package never reports success without having run.
            state.ExecutionStatus = DTSStepExecStat_Completed;
            state.ExecutionResult = DTSStepExecResult_Failure;
            ++failed;
            Log(logFile, QStringLiteral("Step '%1' not started: execution stopped by the user.")
                             .arg(step.name));
            break;
        }
        state.ExecutionStatus = DTSStepExecStat_InProgress;
        Log(logFile, QStringLiteral("Step '%1' started.").arg(step.name));
        QElapsedTimer clock;
        clock.start();
        context.stepName = step.name;
        const TaskOutcome outcome = std::visit(
            [&](const auto& task) -> TaskOutcome {
                using T = std::decay_t<decltype(task)>;
                if constexpr (std::is_same_v<T, ExecuteSqlTask>)
                    return RunExecuteSql(task, context);
                else if constexpr (std::is_same_v<T, BulkInsertTask>)
                    return RunBulkInsert(task, context);
                else if constexpr (std::is_same_v<T, CopyRowsTask>)
                    return RunCopyRows(task, context);
                else
                    return RunProgram(task, context);
            },
            step.task);
        state.ExecutionStatus = DTSStepExecStat_Completed;
        state.ExecutionResult =
            outcome.success ? DTSStepExecResult_Success : DTSStepExecResult_Failure;
        state.DurationSeconds = double(clock.elapsed()) / 1000.0;
        state.Rows = outcome.rowsAffected;
        (outcome.success ? succeeded : failed)++;
        const QString end = QStringLiteral("Step '%1' %2. Duration %3 s, rows affected %4.")
                                .arg(step.name, outcome.success ? QStringLiteral("succeeded")
                                                                : QStringLiteral("failed"))
                                .arg(double(clock.elapsed()) / 1000.0, 0, 'f', 3)
                                .arg(outcome.rowsAffected);
        Log(logFile, outcome.success ? end : end + QLatin1Char(' ') + outcome.error);
        for (const size_t follower : followers[next])
            if (Runnable(follower))
                runnable.push(follower);
        Operator().ProcessPendingEvents();
    }

    const int notRun = static_cast<int>(steps_.size()) - succeeded - failed;
    const QString summary = QStringLiteral("Package '%1' %2: %3 succeeded, %4 failed, %5 not run.")
                                .arg(document_.name,
                                     failed ? QStringLiteral("completed with failures")
                                            : QStringLiteral("completed successfully"),
                                     Counted(succeeded, "step", "steps"))
                                .arg(failed)
                                .arg(notRun);
    Log(logFile, summary);
    const QVariant writeEvent = GlobalVariableValue(QStringLiteral("WriteCompletionStatusToNT"));
    if (VariableText(QStringLiteral("WriteCompletionStatusToNT")) == QLatin1String("true") &&
        writeEvent.isValid() && services_.completionEvent)
        services_.completionEvent(failed > 0, summary);
    return true;
}
