#pragma once

#include <QString>
#include <QVariant>
#include <memory>
#include <optional>

// The package object a run loads, fills with global variables, executes and judges. The run code
// (RunSettings) sees packages only through this interface and makes them with its
// PackageFactory; the package engine (src/engine/) implements it.

// Login flags of LoadFromSQLServer.
inline constexpr int DTSSQLStgFlag_Default = 0;
inline constexpr int DTSSQLStgFlag_UseTrustedConnection = 256;

// Step execution status.
inline constexpr int DTSStepExecStat_Waiting = 1;
inline constexpr int DTSStepExecStat_InProgress = 2;
inline constexpr int DTSStepExecStat_Inactive = 3;
inline constexpr int DTSStepExecStat_Completed = 4;

// Step execution result (meaningful once the step has completed).
inline constexpr int DTSStepExecResult_Success = 0;
inline constexpr int DTSStepExecResult_Failure = 1;

// What the run reads of one step.
struct DtsStep {
    QString Name;
    int ExecutionStatus = DTSStepExecStat_Waiting;
    int ExecutionResult = DTSStepExecResult_Success;
    double DurationSeconds = -1;  // how long the step ran; negative when unknown
    qint64 Rows = -1;             // the rows it affected; negative when unknown
};

class DtsPackage {
  public:
    virtual ~DtsPackage() = default;

    // Loads the newest version of the package stored under `packageName` on `server`. `flags` is
    // DTSSQLStgFlag_Default (login with `user`/`password`) or DTSSQLStgFlag_UseTrustedConnection
    // (the operating-system account; user and password empty). An empty package GUID and version
    // GUID mean "by name, newest version". False with the reason in `error` when nothing was
    // loaded.
    virtual bool LoadFromSQLServer(const QString& server, const QString& user,
                                   const QString& password, int flags,
                                   const QString& packagePassword, const QString& packageGuid,
                                   const QString& versionGuid, const QString& packageName,
                                   QString* error) = 0;

    // Global variables, by name (compared without regard to case).
    virtual bool HasGlobalVariable(const QString& name) const = 0;
    // The current value; an invalid QVariant when the variable does not exist.
    virtual QVariant GlobalVariableValue(const QString& name) const = 0;
    // Writes a text or boolean value; false when the variable does not exist.
    virtual bool SetGlobalVariableValue(const QString& name, const QVariant& value) = 0;

    // Runs every step and returns when the package has finished. False when the execution itself
    // raised an error (steps that failed are reported through their results, not here).
    virtual bool Execute(QString* error = nullptr) = 0;

    virtual int StepCount() const = 0;
    // Step `index`, 1 to StepCount(); nothing for an index out of range.
    virtual std::optional<DtsStep> StepItem(int index) const = 0;

    virtual QString Name() const = 0;

    // Releases connections and everything the execution holds. Called before the object is
    // destroyed and before a new package replaces it.
    virtual void UnInitialize() = 0;
};
