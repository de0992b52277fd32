#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <optional>
#include <variant>

// A package as its XML document describes it (the format is in docs/packages.md): global
// variables, connections and steps with their tasks and precedence constraints. Every part keeps
// the line it was read from, so that validation errors can point into the document.

enum class VariableType { Text, Boolean, Integer };

struct PackageVariable {
    QString name;
    VariableType type = VariableType::Text;
    QVariant value;  // QString, bool or qlonglong according to the type
    int line = 0;
};

// A connection names a database (server, database, login), a directory of flat files, or a data
// link of the package's model, resolved from dwm_data_link when the package executes. Every text
// field may hold ${Name} references to global variables.
struct PackageConnection {
    QString name;
    QString dataLink;
    QString server;
    QString database;
    QString user;
    QString password;
    QString trusted;  // "true", "false" or a reference; empty means false
    QString directory;
    int line = 0;

    bool IsDataLink() const { return !dataLink.isEmpty(); }
    bool IsDirectory() const { return dataLink.isEmpty() && !directory.isEmpty(); }
};

struct SqlStatement {
    QString text;
    QStringList parameters;  // global variables bound to the '?' markers, in order
    int line = 0;
};

struct ExecuteSqlTask {
    QString connection;
    QList<SqlStatement> statements;
};

enum class CodePage { Utf8, Latin1 };

struct BulkInsertTask {
    QString connection;  // the database that receives the rows
    QString table;
    QString fileConnection;  // optional: a directory connection the file name is relative to
    QString file;
    char delimiter = ',';
    char quote = '"';  // '\0': fields are never quoted
    bool header = false;
    QStringList columns;
    CodePage codePage = CodePage::Utf8;
    int batchSize = 50000;
    int maxErrors = 10;
};

struct CopyRowsTask {
    QString source;
    SqlStatement query;
    QString destination;
    QString table;
    QStringList columns;
    int batchSize = 50000;
};

struct RunProgramTask {
    QString program;
    QStringList arguments;
    QString workingDirectory;
    int timeoutSeconds = 0;  // 0: no limit
    int successExitCode = 0;
};

using PackageTaskSpec = std::variant<ExecuteSqlTask, BulkInsertTask, CopyRowsTask, RunProgramTask>;

enum class PrecedenceOn { Success, Failure, Completion };

struct PrecedenceConstraint {
    QString step;
    PrecedenceOn on = PrecedenceOn::Success;
    int line = 0;
};

struct PackageStep {
    QString name;
    QString description;
    bool disabled = false;
    PackageTaskSpec task;
    int taskLine = 0;
    QList<PrecedenceConstraint> precedence;
    int line = 0;
};

struct PackageDocument {
    QString name;
    QString description;
    QList<PackageVariable> variables;
    QList<PackageConnection> connections;
    QList<PackageStep> steps;

    // Lookups by name, without regard to case; -1 when absent. The first of equal names wins.
    // Once IndexNames has run (the parser runs it), each takes constant time while its list keeps
    // the size it had then; otherwise the list is searched from its start.
    int VariableIndex(const QString& name) const;
    int ConnectionIndex(const QString& name) const;
    int StepIndex(const QString& name) const;
    void IndexNames();

    // The position of each name of a list (case folded as QString::compare folds it) and the
    // size of the list when it was indexed.
    struct NameIndex {
        qsizetype size = -1;
        QHash<QString, int> first;
    };
    NameIndex variableNames, connectionNames, stepNames;
};

// Reads and validates a document. False with one error per line ("line N: ...") when the XML is
// malformed, does not follow the format, or fails validation.
bool ParsePackageDocument(const QByteArray& xml, PackageDocument* document, QStringList* errors);

// The checks that need the whole document: unique names, references to steps, connections and
// global variables, parameter counts, cycles in the precedence.
QStringList ValidatePackageDocument(const PackageDocument& document);

// Replaces every ${Name} with the value `lookup` gives for Name; "$${" stands for a literal "${".
// Names that `lookup` does not know are listed in `unknown` and replaced by nothing.
QString ExpandVariables(const QString& text,
                        const std::function<std::optional<QString>(const QString&)>& lookup,
                        QStringList* unknown = nullptr);
// The names referenced with ${Name} in the text.
QStringList VariableReferences(const QString& text);

// Names of the task kinds as elements of the document ("ExecuteSql", ...).
QString TaskKindName(const PackageTaskSpec& task);

// The number of '?' markers outside quoted literals and comments.
int CountParameterMarkers(const QString& sql);
