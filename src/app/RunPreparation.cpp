// What a run needs before it starts: its settings from the configuration file, the package as
// the DTS server lists it, the checks of required input, the repository and the record's
// opening fields.

#include "app/RunPreparation.h"

#include <QDateTime>

#include "datasources/ChoiceList.h"
#include "datasources/DataLinkCatalogue.h"
#include "datasources/DatabaseLists.h"
#include "datasources/PackageCatalogue.h"
#include "history/JobRecord.h"
#include "history/RepositoryConnection.h"
#include "util/Errors.h"
#include "util/OperatorInterface.h"
#include "util/RunTargets.h"

RunPreparation::RunPreparation() = default;
RunPreparation::~RunPreparation() = default;

bool RunPreparation::Read(const QString& configFile, const RunLog& log) {
    Settings.PendrillConfigFile = configFile;
    if (configFile.isEmpty())
        return false;
    if (!Settings.ReadConfigFile()) {
        log.Message(QStringLiteral("Error: Can't load config file ") + configFile, true, 16,
                    QStringLiteral("Pendrill error"));
        return false;
    }
    // The package is run as the server's list names it, found as the window finds it: the model
    // first, then the package among the model's packages.
    catalogue_ = ReadPackageCatalogue(Settings.DTSServer, Settings.DTSServerTrustedLogin,
                                      Settings.DTSLoginUserName, Settings.DTSLoginPassword);
    catalogue_->FillComboBoxWithETLModels(Models);
    Models.SetCurrentIndex(FindComboItem(Models, GetEtlModelName(Settings.DTSPackageName)));
    catalogue_->FillComboBoxWithPackageFromETLModel(Packages, Models.Text());
    Packages.SetCurrentIndex(FindComboItem(Packages, Settings.DTSPackageName));
    ListedPackage = Packages.Text();
    return true;
}

std::unique_ptr<PackageCatalogue> RunPreparation::TakeCatalogue() {
    return std::move(catalogue_);
}

bool RunPreparation::CheckRunnable(QString* error) const {
    QString packageMessage, warehouseMessage;
    const bool package = CheckPackageSettings(ListedPackage, Settings.DTSServer,
                                              Settings.ExceptionLogFile, &packageMessage);
    const bool warehouse =
        CheckWarehouseSettings(Settings.DWServer, Settings.DWDatabaseName, &warehouseMessage);
    if (error != nullptr)
        *error = packageMessage.isEmpty() ? warehouseMessage : packageMessage;
    return package && warehouse;
}

QString RunPreparation::NotListedReason() const {
    return PackageNotListedReason(ListedPackage, Settings.DTSPackageName, Settings.DTSServer,
                                  catalogue_.get());
}

void RunPreparation::ReadyForRun() {
    Settings.DTSPackageName = ListedPackage;
}

std::unique_ptr<PackageCatalogue> ReadPackageCatalogue(const QString& server, bool trustedLogin,
                                                       const QString& user,
                                                       const QString& password) {
    auto catalogue = std::make_unique<PackageCatalogue>();
    catalogue->server = server;
    catalogue->trustedLogin = trustedLogin;
    if (!trustedLogin) {
        catalogue->user = user;
        catalogue->password = password;
    }
    // An unreachable server or an empty store simply lists nothing.
    catalogue->RetrievePackages();
    return catalogue;
}

bool CheckPackageSettings(const QString& listedPackage, const QString& dtsServer,
                          const QString& exceptionFile, QString* error) {
    if (listedPackage.isEmpty())
        return Fail(error, QStringLiteral("DTS Package not filled"));
    if (dtsServer.isEmpty())
        return Fail(error, QStringLiteral("DTS Server not filled"));
    if (exceptionFile.isEmpty())
        return Fail(error, QStringLiteral("DTS Error file not filled"));
    return true;
}

bool CheckWarehouseSettings(const QString& server, const QString& database, QString* error) {
    if (server.isEmpty())
        return Fail(error, QStringLiteral("Data warehouse server not filled"));
    if (database.isEmpty())
        return Fail(error, QStringLiteral("Data warehouse database not filled"));
    return true;
}

QString PackageNotListedReason(const QString& listedPackage, const QString& configuredPackage,
                               const QString& dtsServer, const PackageCatalogue* catalogue) {
    // The package list of the DTS server decides whether the configured package is given.
    if (!listedPackage.isEmpty() || configuredPackage.isEmpty())
        return QString();
    const QString why = catalogue != nullptr && !catalogue->LastError().isEmpty()
                            ? QStringLiteral(": ") + catalogue->LastError()
                            : QString();
    return QStringLiteral("Package %1 is not among the packages of DTS server %2%3")
        .arg(configuredPackage, dtsServer, why);
}

bool RepositoryReachable(QString* error) {
    RepositoryConnection connection;
    const int state = connection.State();
    if (state == 3)
        return true;
    if (state == 1)
        return Fail(error, QStringLiteral("Cannot connect to the Rook Repository.   "));
    return Fail(error, QStringLiteral("No repository found !\r\nUse Repository Manager to specify "
                                      "your Rook Repository. "));
}

void FillRecordOpeningFields(JobRecord& record, const RunSettings& s) {
    record.setSourceServer(s.DTSServer);
    record.setSourceDatabase(QStringLiteral("DTS Local Packages"));
    record.setSourceUser(s.DTSServerTrustedLogin ? record.CurrentUserName() : s.DTSLoginUserName);
    record.setTargetServer(s.DWServer);
    record.setTargetDatabase(s.DWDatabaseName);
    record.setTargetUser(s.DWServerTrustedLogin ? record.CurrentUserName()
                                                : s.DWServerLoginUserName);
    record.setExceptionFile(s.ExceptionLogFile);
    record.setStartTime(QDateTime::currentDateTime());
    // "0" and a missing value are recorded as the empty text, never as NULL.
    record.setJobIdentifier(s.JobID == QLatin1String("0") ? QStringLiteral("") : s.JobID);
}

RunLogTargets::RunLogTargets(const RunLog& log) {
    // A configuration file made private when a password is saved into it: run log, status bar.
    RunTargets::Current().privateFileNotice = [&log](const QString& text) { log.Info(text); };
    RunTargets::Current().windowRunLog = &log;
}

RunLogTargets::~RunLogTargets() {
    RunTargets::Current().privateFileNotice = nullptr;
    RunTargets::Current().windowRunLog = nullptr;
}

RunLog OperatorRunLog(std::function<QString()> file) {
    RunLog log;
    log.file = std::move(file);
    log.statusText = [](const QString& text) {
        OperatorInterface& op = Operator();
        op.SetStatusText(text);
        op.ProcessPendingEvents();
    };
    return log;
}
