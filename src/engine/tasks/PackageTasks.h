#pragma once

#include <QString>
#include <QVariant>
#include <functional>
#include <memory>

#include "db/BulkRowSink.h"
#include "engine/PackageDocument.h"

// The tasks a step can run, and what the engine hands them.

// A connection of the document with every reference resolved.
struct ResolvedConnection {
    QString name;
    QString server;
    QString database;
    QString user;
    QString password;
    bool trusted = false;
    QString directory;  // set for a directory of flat files

    bool IsDirectory() const { return server.isEmpty() && !directory.isEmpty(); }
};

struct TaskContext {
    QString packageName;
    QString stepName;
    // The log directory (the ExceptionFilePath global variable); empty when none is given.
    QString logDirectory;
    // ${Name} references replaced by the current values of the global variables.
    std::function<QString(const QString&)> expand;
    // The current value of a global variable (invalid when there is none).
    std::function<QVariant(const QString&)> variable;
    // A connection of the document by name.
    std::function<bool(const QString& name, ResolvedConnection* connection, QString* error)>
        connection;
    // The sink that stores rows into `table` on a database connection.
    std::function<std::unique_ptr<BulkRowSink>(const ResolvedConnection& connection,
                                               const QString& table, QString* error)>
        openBulkSink;
};

struct TaskOutcome {
    bool success = false;
    qint64 rowsAffected = 0;
    QString error;  // why the step failed

    static TaskOutcome Failure(const QString& text) { return TaskOutcome{false, 0, text}; }
};

TaskOutcome RunExecuteSql(const ExecuteSqlTask& task, const TaskContext& context);
TaskOutcome RunBulkInsert(const BulkInsertTask& task, const TaskContext& context);
TaskOutcome RunCopyRows(const CopyRowsTask& task, const TaskContext& context);
TaskOutcome RunProgram(const RunProgramTask& task, const TaskContext& context);

// A file name made of the package and step names, safe in a directory ('/' and the like become
// '_'), followed by `suffix`.
QString StepFileName(const TaskContext& context, const QString& suffix);
