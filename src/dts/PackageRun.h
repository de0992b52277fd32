#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "dts/DtsPackage.h"

class RunSettings;

// Why `runLog` (the configuration's LogFile) may not be the run log: it is the configuration
// file, the status file or the summary file of the run, which it would overwrite or delete.
// Empty when it may.
QString RunLogClash(const QString& runLog, const QString& configFile);

// The package half of a run: loads the package its settings name, hands it the run's settings as
// global variables (RunVariables.h), executes it, judges its steps and gathers the log files it
// wrote into the exception file. The settings are borrowed and read when each step is taken: the
// owner may still change them between Load and Execute.
class PackageRun {
  public:
    // Makes the package object Load fills; the programs pass the package engine's CreatePackage2
    // (src/engine/PackageFactory.h), tests a fake. Without one no package can be loaded.
    using Factory = std::function<std::unique_ptr<DtsPackage>()>;

    PackageRun(const RunSettings& settings, Factory factory);
    ~PackageRun();
    PackageRun(const PackageRun&) = delete;
    PackageRun& operator=(const PackageRun&) = delete;

    // Empties the log directory of the files a package writes there (and the exception file when
    // asked), then loads the package. False with the reason in `error`: a log directory that must
    // not be cleared ("/", the account's home, the directory of the configuration file, the status
    // file or the run log), or "Can not load DTS Package from SQL Server : NAME".
    bool Load(QString* error = nullptr);

    // The loaded package (nullptr before Load and after Execute), to read or set its variables.
    DtsPackage* Package() { return package_.get(); }

    // Writes the run variables, executes the package, merges its log files into the exception
    // file and judges its steps; the package is released afterwards. False when no package is
    // loaded, a run variable is missing in the package (one CR LF line each), or a step failed
    // (one "STEP in 'PACKAGE' failed." line each); the text in `error` may be empty when the steps
    // could not be read.
    bool Execute(QString* error = nullptr);

    // "NAME = VALUE" of the run variables as the loaded package holds them, without passwords,
    // one after the other; empty when no package is loaded.
    QString GlobalVariablesText() const;

    // The steps as the last Execute judged them, in package order, as far as they could be read;
    // empty before.
    const std::vector<DtsStep>& StepResults() const { return stepResults_; }

    // Turns the bulk-load error file `fileName` of `directory` (an XML document) into
    // "FILE__.log", one quoted record of its descriptions. The new file's path, or empty when the
    // file cannot be read, holds no description or the log cannot be written.
    static QString ConvertBulkLoadLog(const QString& fileName, const QString& directory);

  private:
    bool prepareLogFiles(QString* error);
    bool judgeSteps(QString& text);
    void mergeLogFiles();
    void release();

    const RunSettings& settings_;
    Factory factory_;
    std::unique_ptr<DtsPackage> package_;
    // What the merge works on, remembered when the package was loaded.
    QString loadedPackageName_;
    QString loadedExceptionFile_;
    QString loadedLogDir_;
    std::vector<DtsStep> stepResults_;
};
