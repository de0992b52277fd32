#pragma once

#include <QString>
#include <memory>

#include "config/RunSettings.h"
#include "datasources/ChoiceList.h"
#include "util/RunLog.h"

class JobRecord;
class PackageCatalogue;

// What a run needs before it starts, made from its configuration file without a window: the run
// settings read from the file, the configured package as the DTS server lists it, the check of
// the required settings, why a package is not listed, the job-history repository and the
// record's opening fields. The unattended run without a display and -validate use it; the window
// (MainFormModel) fills its fields from one and uses the same checks below.
class RunPreparation {
  public:
    RunPreparation();
    ~RunPreparation();
    RunPreparation(const RunPreparation&) = delete;
    RunPreparation& operator=(const RunPreparation&) = delete;

    RunSettings Settings;
    // The configured package as the DTS server's package list names it (the list is searched
    // without regard to case); empty when the list does not hold it.
    QString ListedPackage;
    // The lists the package was looked up in: the models of the DTS server's packages with the
    // configured model chosen, and that model's packages with the configured package chosen.
    StringChoiceList Models;
    StringChoiceList Packages;

    // Reads `configFile` (empty: no configuration, every setting empty) into Settings and lists
    // the DTS server's packages. False, after "Error: Can't load config file FILE" in `log` (a
    // box titled "Pendrill error" in interactive mode), when the file cannot be read; the
    // settings then stay empty.
    bool Read(const QString& configFile, const RunLog& log);
    // The required settings: the listed package, the DTS server, the exception file, the
    // warehouse server and database. False with the first missing one's text in `*error`.
    bool CheckRunnable(QString* error = nullptr) const;
    // PackageNotListedReason for the prepared settings.
    QString NotListedReason() const;
    // The settings as the run takes them: the package as listed.
    void ReadyForRun();
    // The DTS server's package list read by Read (none before, or when the file could not be
    // read), handed over to the caller.
    std::unique_ptr<PackageCatalogue> TakeCatalogue();

  private:
    std::unique_ptr<PackageCatalogue> catalogue_;
};

// The packages of a DTS server, read into a new catalogue with the login given (user and password
// only without a trusted login). An unreachable server or an empty store simply lists nothing;
// the catalogue's LastError() says why.
std::unique_ptr<PackageCatalogue> ReadPackageCatalogue(const QString& server, bool trustedLogin,
                                                       const QString& user,
                                                       const QString& password);

// The checks of required input, shared by the window and the run without one. On failure
// `*error` gets the text ("DTS Package not filled", "DTS Server not filled", "DTS Error file not
// filled"; "Data warehouse server not filled", "Data warehouse database not filled").
bool CheckPackageSettings(const QString& listedPackage, const QString& dtsServer,
                          const QString& exceptionFile, QString* error = nullptr);
bool CheckWarehouseSettings(const QString& server, const QString& database,
                            QString* error = nullptr);

// When the configured package is missing from the DTS server's package list (`listedPackage`
// empty): "Package X is not among the packages of DTS server Y", followed by ": " and the reason
// the list could not be read (no such server, server not reachable, ...) when it could not;
// otherwise empty. The line the run log holds below "DTS Package not filled".
QString PackageNotListedReason(const QString& listedPackage, const QString& configuredPackage,
                               const QString& dtsServer, const PackageCatalogue* catalogue);

// Asks the job-history repository whether it can be reached; on failure `*error` says why in
// the operator's words.
bool RepositoryReachable(QString* error = nullptr);

// Fills the record's opening fields from the settings: servers, users (the account's name for a
// trusted login), "DTS Local Packages", exception file, start time now, job identifier (a
// JobID of "0" is recorded as the empty text).
void FillRecordOpeningFields(JobRecord& record, const RunSettings& settings);

// Installs `log` as the run log of the code it is not handed to (RunTargets: the window's run
// log, private-file notices) for the lifetime of this object.
class RunLogTargets {
  public:
    explicit RunLogTargets(const RunLog& log);
    ~RunLogTargets();
    RunLogTargets(const RunLogTargets&) = delete;
    RunLogTargets& operator=(const RunLogTargets&) = delete;
};

// A run log whose status texts go to the operator, with pending events processed after each
// (so that a stop by signal is seen while the run logs), and whose file is `file()`.
RunLog OperatorRunLog(std::function<QString()> file);
