#include "engine/tasks/TaskConnections.h"

#include "db/DbConnection.h"
#include "db/TableBulkSink.h"
#include "engine/tasks/PackageTasks.h"
#include "util/Errors.h"

bool OpenResolvedConnection(const ResolvedConnection& resolved, DbConnection& connection,
                            QString* error) {
    if (resolved.server.isEmpty()) {
        return Fail(error,
                    resolved.IsDirectory()
                        ? QStringLiteral("Connection '%1' is a directory, not a database")
                              .arg(resolved.name)
                        : QStringLiteral("Connection '%1' names no server").arg(resolved.name));
    }
    connection.Close();
    connection.ConnectionTimeout = 20;
    connection.Describe(resolved.server, resolved.database, resolved.trusted, resolved.user,
                        resolved.password);
    if (!connection.Open() || connection.State() != 1) {
        QString text = connection.ErrorText();
        if (text.isEmpty())
            text = QStringLiteral("Cannot open connection '%1'").arg(resolved.name);
        return Fail(error, text);
    }
    return true;
}

std::unique_ptr<BulkRowSink> OpenResolvedBulkSink(const ResolvedConnection& resolved,
                                                  const QString& table, QString* error) {
    auto connection = std::make_unique<DbConnection>();
    if (!OpenResolvedConnection(resolved, *connection, error))
        return nullptr;
    return OpenTableBulkSink(std::move(connection), table);
}

QVariantList StatementParameters(const SqlStatement& statement, const TaskContext& context) {
    QVariantList values;
    values.reserve(statement.parameters.size());
    for (const QString& name : statement.parameters) {
        const QVariant value = context.variable ? context.variable(name.trimmed()) : QVariant();
        values << (value.isValid() ? value : QVariant(QMetaType::fromType<QString>()));
    }
    return values;
}
