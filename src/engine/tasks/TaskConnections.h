#pragma once

#include <QString>
#include <QVariantList>
#include <memory>

class BulkRowSink;
class DbConnection;
struct ResolvedConnection;

// Opens `connection` on the database a resolved package connection names: provider "sqloledb",
// "Data Source" and "Initial Catalog" from server and database, and either "Integrated Security"
// = "SSPI" (trusted) or "User ID" / "Password". False with `error` set (the connection's error
// texts, or why the connection cannot name a database) when it could not be opened.
bool OpenResolvedConnection(const ResolvedConnection& resolved, DbConnection& connection,
                            QString* error);

// The sink that stores bulk-insert rows into `table` of a resolved package connection, over a
// connection of its own. Nothing, with `error` set, when the connection cannot be opened.
std::unique_ptr<BulkRowSink> OpenResolvedBulkSink(const ResolvedConnection& resolved,
                                                  const QString& table, QString* error);

struct SqlStatement;
struct TaskContext;

// The values bound to the '?' markers of a statement: the current values of the global variables
// its `parameters` name, in order (NULL for a variable that has no value).
QVariantList StatementParameters(const SqlStatement& statement, const TaskContext& context);
