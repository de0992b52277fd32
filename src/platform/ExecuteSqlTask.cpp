// Execute SQL: each statement of the task on one database connection, in order, with its '?'
// markers bound to global variables.
//
// STUB: the database layer is not wired in yet, so the step fails with a clear text instead of
// pretending to succeed.

#include "platform/PackageTasks.h"

TaskOutcome RunExecuteSql(const ExecuteSqlTask& task, const TaskContext& context) {
    Q_UNUSED(context);
    return TaskOutcome::Failure(
        QStringLiteral("Execute SQL on connection '%1' needs a database connection")
            .arg(task.connection));
}
