// Execute SQL: each statement of the task on one database connection, in order, with its '?'
// markers bound to global variables. Each statement commits on its own, so the statements before
// a failing one keep their effect.

#include "db/DbConnection.h"
#include "engine/tasks/PackageTasks.h"
#include "engine/tasks/TaskConnections.h"

TaskOutcome RunExecuteSql(const ExecuteSqlTask& task, const TaskContext& context) {
    ResolvedConnection where;
    QString error;
    if (!context.connection(task.connection, &where, &error))
        return TaskOutcome::Failure(error);
    DbConnection connection;
    if (!OpenResolvedConnection(where, connection, &error))
        return TaskOutcome::Failure(
            QStringLiteral("Cannot connect to '%1': %2").arg(task.connection, error));

    TaskOutcome outcome;
    int number = 0;
    for (const SqlStatement& statement : task.statements) {
        ++number;
        int rows = 0;
        if (!connection.Execute(statement.text, StatementParameters(statement, context), &rows)) {
            outcome.error = QStringLiteral("Statement %1 (line %2) failed: %3")
                                .arg(number)
                                .arg(statement.line)
                                .arg(connection.ErrorText());
            return outcome;
        }
        // Statements that change no rows (queries, definitions) report -1.
        if (rows > 0)
            outcome.rowsAffected += rows;
    }
    outcome.success = true;
    return outcome;
}
