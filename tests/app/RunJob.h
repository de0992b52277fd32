#pragma once

#include <QJsonArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include "support/TestSupport.h"

// End-to-end runs of the real pendrill binary, set up the way an operator sets up a job: a
// package store and a warehouse on a server (the embedded "(local)" of a private home, or a
// PostgreSQL server reached through an alias), data links in dwm_data_link, and a run
// configuration file.
namespace runjob {

// Where the package store and the warehouse live, and how pendrill-admin and the configuration
// log in there.
struct Server {
    QString name = QStringLiteral("(local)");
    bool trusted = true;
    QString user, password;
    QStringList AdminLogin() const;
};

// The run configuration file's fixed sections.
struct Config {
    QString package;
    QString logFile;  // exception file, the run log
    QString logDir;
    bool truncate = true;
    QString database = QStringLiteral("DW");
    QString dwServer;  // empty: the job's server
    QString extra;     // further sections, as written (CR LF added per line)
};

// A package document with every global variable a run writes, the connections "Warehouse" (the
// run's warehouse) and "Files" (the data link "Files" of the model), and the given steps.
QString PackageXml(const QString& name, const QString& steps,
                   const QStringList& leaveOutVariables = {});

// A bulk insert of Files/<file> ("id;name" records) into the table `table` of the warehouse,
// after creating the table.
QString LoadFileSteps(const QString& file, const QString& table = QStringLiteral("loaded"),
                      int batchSize = 1000);

class Job {
  public:
    explicit Job(testsupport::IsolatedHome& home, Server server = Server());

    testsupport::ProcessResult Admin(const QStringList& args) const;
    // Stores the package document; false (with the tool's output in the test log) on failure.
    bool StorePackage(const QString& xml) const;
    // Creates the warehouse database with its dwm_data_link table.
    bool InitWarehouse(const QString& database = QStringLiteral("DW")) const;
    // Adds a data link row; `fields` are further pendrill-admin datalink options.
    bool AddDataLink(const QString& model, const QString& name, const QStringList& fields,
                     const QString& database = QStringLiteral("DW")) const;
    // The data links of a model as pendrill-admin lists them (JSON).
    QJsonArray DataLinks(const QString& model,
                         const QString& database = QStringLiteral("DW")) const;
    // The number the query's first column gives on the warehouse, or -1.
    int Count(const QString& sql, const QString& database = QStringLiteral("DW")) const;
    bool Exec(const QString& sql, const QString& database = QStringLiteral("DW")) const;

    // Writes a configuration file under the job directory and returns its path.
    QString WriteConfig(const QString& fileName, const Config& config) const;
    // A data-source section for a flat-file data link of the model.
    static QString FlatFileSection(const QString& model, const QString& name,
                                   const QString& directory, int transfer = 0);

    // Runs pendrill with the arguments in the given environment (default: the test's own).
    testsupport::ProcessResult Pendrill(
        const QStringList& args,
        const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
        int timeoutMs = 60000) const;
    // The job-history records, newest first.
    QJsonArray History() const;

    QString Path(const QString& name) const { return home_.file(name); }
    const Server& server() const { return server_; }

  private:
    testsupport::IsolatedHome& home_;
    Server server_;
};

// The lines of a run log (CR LF separated; the last empty piece dropped).
QStringList LogLines(const QString& path);

}  // namespace runjob
