#pragma once

#include <QJsonArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <functional>

class QProcess;

#include "support/TestSupport.h"

// End-to-end runs of the real pendrill binary, set up as an operator sets up a job: the package
// store and the warehouse on the embedded "(local)" server of the test's private home (trusted
// login), data links in dwm_data_link, and a run configuration file.
namespace runjob {

// The fixed sections of a run configuration; `extra` is appended as written.
struct Config {
    QString package, logFile, logDir;
    bool truncate = true;
    QString database = QStringLiteral("DW");
    QString dwServer;  // empty: the job's server
    QString extra;
    QString dtsServer = {};  // empty: the job's server
};

// A package with every global variable a run writes (but those left out), the connections
// "Warehouse" (the run's warehouse) and "Files" (the model's data link "Files"), and the steps.
QString PackageXml(const QString& name, const QString& steps, const QStringList& leaveOut = {});
// Creates the table `loaded` and bulk-inserts Files/<file> ("id;name" records) into it.
QString LoadFileSteps(const QString& file, int batchSize = 1000);
// A "Data Source::" section for the flat-file data link `name` of `model`.
QString FlatFileSection(const QString& model, const QString& name, const QString& directory);

class Job {
  public:
    explicit Job(testsupport::IsolatedHome& home) : home_(home) {}

    // pendrill-admin with the job's server and login added; false (reported) on failure.
    bool Admin(const QString& command, const QStringList& args,
               testsupport::ProcessResult* result = nullptr) const;
    bool StorePackage(const QString& xml) const;
    // The catalogue of DW, and a data link in it.
    bool InitWarehouse() const;
    bool AddDataLink(const QString& model, const QString& name, const QStringList& fields) const;
    // The directory of a data link as the catalogue holds it.
    QString DataLinkDirectory(const QString& model) const;
    // The first column of the query's first row on DW (-1: none), or whether a statement worked.
    int Count(const QString& sql) const;
    bool Exec(const QString& sql, const QString& database = QStringLiteral("DW")) const;

    QString WriteConfig(const QString& fileName, const Config& config) const;
    // The configuration of `package`: run log run.log, log directory logs, warehouse DW.
    Config Standard(const QString& package, const QString& extra = {}) const {
        return Config{package, home_.file("run.log"), home_.file("logs"), true, "DW", {}, extra};
    }
    // A warehouse database of the embedded server without any table.
    void EmptyWarehouse(const QString& database = QStringLiteral("DW")) const;
    // Starts pendrill in the private home (its working directory); false when it did not start.
    bool Start(QProcess& process, const QStringList& args) const;
    // Runs pendrill in the private home (its working directory) with the arguments.
    testsupport::ProcessResult Pendrill(
        const QStringList& args,
        const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) const;
    // The job-history records, newest first.
    QJsonArray History() const;

  private:
    testsupport::IsolatedHome& home_;
};

// Polls `done` every 20 ms for up to `ms`; its last answer.
bool WaitUntil(const std::function<bool()>& done, int ms);

// The lines of a run log (CR LF ends every line).
QStringList LogLines(const QString& path);

}  // namespace runjob
