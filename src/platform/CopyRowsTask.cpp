// Copy rows: the result of a query on the source connection inserted into a table on the
// destination connection, in batches.
//
// STUB: the database layer is not wired in yet, so the step fails with a clear text instead of
// pretending to succeed.

#include "platform/PackageTasks.h"

TaskOutcome RunCopyRows(const CopyRowsTask& task, const TaskContext& context) {
    Q_UNUSED(context);
    return TaskOutcome::Failure(
        QStringLiteral("Copy rows from connection '%1' to '%2' needs a database connection")
            .arg(task.source, task.destination));
}
