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
    catalogue_ = std::make_unique<PackageCatalogue>();
    catalogue_->server = Settings.DTSServer;
    catalogue_->trustedLogin = Settings.DTSServerTrustedLogin;
    if (!Settings.DTSServerTrustedLogin) {
        catalogue_->user = Settings.DTSLoginUserName;
        catalogue_->password = Settings.DTSLoginPassword;
    }
    // An unreachable server or an empty store simply lists nothing.
    catalogue_->RetrievePackages();
    StringChoiceList models;
    StringChoiceList packages;
    catalogue_->FillComboBoxWithETLModels(models);
    models.SetCurrentIndex(FindComboItem(models, GetEtlModelName(Settings.DTSPackageName)));
    catalogue_->FillComboBoxWithPackageFromETLModel(packages, models.Text());
    packages.SetCurrentIndex(FindComboItem(packages, Settings.DTSPackageName));
    ListedPackage = packages.Text();
    return true;
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
