// The checks of -validate: the run's road up to the remote data, without writing anything.

#include <QFileInfo>
#include <memory>

#include "app/ExitCodes.h"
#include "app/RunPreparation.h"
#include "app/RunSequence.h"
#include "app/RunValidation.h"
#include "config/RunSettings.h"
#include "datasources/DataLinkCatalogue.h"
#include "datasources/DataLinks.h"
#include "datasources/DataSourceSections.h"
#include "datasources/WarehouseConnection.h"
#include "datasources/WarehouseSession.h"
#include "db/DbInterface.h"
#include "dts/DtsPackage.h"
#include "dts/PackageRun.h"
#include "dts/RunVariables.h"
#include "util/FileUtils.h"
#include "util/RunLog.h"

namespace {

using Report = RunValidationReport;

// Whether a data source of the model can be reached the way the package will reach it.
bool CheckDataSource(const DataLink& ds, QString* reason) {
    switch (ds.etlType) {
        case DataLink::SqlServer:
        case DataLink::Oracle:
        case DataLink::OracleTested: {
            std::unique_ptr<DbConnection> connection;
            QString error;
            if (!OpenDataSourceConnection(ds.etlType, ds.server, ds.trustedLogin, ds.user,
                                          ds.password, connection, ds.database, 20, &error)) {
                *reason = QStringLiteral("cannot connect to %1%2").arg(ds.server, error);
                return false;
            }
            connection->Close();
            return true;
        }
        case DataLink::FlatFiles:
        case DataLink::FlatFiles2:
            if (ds.directory.trimmed().isEmpty()) {
                *reason = QStringLiteral("no directory given");
                return false;
            }
            if (!QFileInfo(ds.directory).isDir()) {
                *reason = QStringLiteral("directory %1 does not exist").arg(ds.directory);
                return false;
            }
            return true;
        case DataLink::Excel:
        case DataLink::Access:
        case DataLink::UniversalDataLink:
        case DataLink::XmlFile:
            if (!QFileInfo(ds.file).isFile()) {
                *reason = ds.file.isEmpty() ? QStringLiteral("no file given")
                                            : QStringLiteral("file %1 does not exist").arg(ds.file);
                return false;
            }
            return true;
        default:
            *reason = QStringLiteral("unknown data-source type %1").arg(ds.etlType);
            return false;
    }
}

QString Describe(const DataLink& ds) {
    QString where;
    switch (ds.etlType) {
        case DataLink::SqlServer:
        case DataLink::Oracle:
        case DataLink::OracleTested:
            where = QStringLiteral("server %1, database %2").arg(ds.server, ds.database);
            break;
        case DataLink::FlatFiles:
        case DataLink::FlatFiles2:
            where = QStringLiteral("directory %1").arg(ds.directory);
            break;
        default:
            where = QStringLiteral("file %1").arg(ds.file);
    }
    if (ds.transferData == DataLink::TransferFtp)
        where +=
            QStringLiteral(", remote data over FTP from %1 (not fetched here)").arg(ds.ftpServer);
    else if (ds.transferData == DataLink::TransferShare)
        where += QStringLiteral(", remote data from %1 (not fetched here)").arg(ds.remoteDirectory);
    return QStringLiteral("data link %1 (%2)").arg(ds.name, where);
}

// The package as the run loads it, without preparing the log files (nothing is deleted).
int CheckPackage(Report& report, const RunSettings& s, const PackageRun::Factory& factory) {
    const QString what =
        QStringLiteral("package %1 on DTS server %2").arg(s.DTSPackageName, s.DTSServer);
    std::unique_ptr<DtsPackage> package = factory ? factory() : nullptr;
    QString error;
    const bool loaded =
        package &&
        (s.DTSServerTrustedLogin
             ? package->LoadFromSQLServer(s.DTSServer, QString(), QString(),
                                          DTSSQLStgFlag_UseTrustedConnection, QString(), QString(),
                                          QString(), s.DTSPackageName, &error)
             : package->LoadFromSQLServer(s.DTSServer, s.DTSLoginUserName, s.DTSLoginPassword,
                                          DTSSQLStgFlag_Default, QString(), QString(), QString(),
                                          s.DTSPackageName, &error));
    if (!loaded) {
        report.Line(what, false,
                    QStringLiteral("Can not load DTS Package from SQL Server : ") +
                        s.DTSPackageName + (error.isEmpty() ? QString() : ": " + error));
        return ExitNotLoaded;
    }
    report.Line(what, true);
    QStringList missing;
    for (const RunVariable& v : kRunVariables)
        if (!package->HasGlobalVariable(QLatin1String(v.name)))
            missing << QLatin1String(v.name);
    package->UnInitialize();
    if (!report.Line(
            QStringLiteral("global variables of the run"), missing.isEmpty(),
            QStringLiteral("missing in the package: ") + missing.join(QStringLiteral(", "))))
        return ExitExecutionFailed;
    return ExitOk;
}

// The warehouse, its catalogue and every data link of the package's model, with the data-source
// sections of the configuration file applied as the run applies them (nothing is saved). The
// package is the one the window lists (`listedPackage`), as in the run.
int CheckWarehouse(Report& report, const RunSettings& s, const QString& listedPackage,
                   const QString& configFile) {
    const bool etlModel = IsEtlModelPackage(listedPackage);
    WarehouseSession session;
    // Each check runs before its line is printed: the reason is only known afterwards.
    QString error;
    const bool connected =
        session.Connect(s.DWServer, s.DWServerTrustedLogin, s.DWServerLoginUserName,
                        s.DWServerLoginPassword, s.DWDatabaseName, 20, &error);
    if (!report.Line(QStringLiteral("data warehouse %1 on %2").arg(s.DWDatabaseName, s.DWServer),
                     connected, error))
        return etlModel ? ExitNotReachable : ExitExecutionFailed;
    if (!etlModel) {
        report.Line(QStringLiteral("data links: not used (%1 is not a package of an ETL model)")
                        .arg(s.DTSPackageName),
                    true);
        return ExitOk;
    }
    DbConnection& dw = *session.Connection();
    if (!report.Line(QString::fromLatin1(DataLinkTable),
                     TableExists(dw, QString::fromLatin1(DataLinkTable)),
                     QStringLiteral("dwm_data_link table not found in specified data warehouse "
                                    "database.")))
        return ExitNotLoaded;

    const QString model = GetEtlModelName(s.DTSPackageName);
    DataLinks sources;
    QStringList skipped;
    const bool read = sources.Load(dw, model, &skipped, &error);
    for (const QString& note : skipped)
        RunLog().Info(note);
    if (!report.Line(QStringLiteral("data links of model %1").arg(model), read, error))
        return ExitNotLoaded;
    if (!configFile.isEmpty())
        ReadDataSourceSections(configFile, sources);
    int status = ExitOk;
    int listed = 0;
    for (const DataLink& ds : sources.All()) {
        if (ds.modelName != model)
            continue;
        ++listed;
        QString reason;
        const bool reachable = CheckDataSource(ds, &reason);
        if (!report.Line(Describe(ds), reachable, reason))
            status = ExitExecutionFailed;
    }
    if (listed == 0)
        report.Line(QStringLiteral("data links: model %1 has none").arg(model), true);
    return status;
}

}  // namespace

int RunSequence::Validate(RunValidationReport& report) {
    const QString configFile = files_.ConfigFile;
    const QString configuration = QStringLiteral("configuration file %1").arg(configFile);
    if (configFile.isEmpty()) {
        report.Line(QStringLiteral("configuration file"), false,
                    QStringLiteral("none given (-configfile FILE)"));
        return ExitSettingsMissing;
    }
    if (!report.Line(configuration, FileExists(configFile),
                     QStringLiteral("Can't find Config File ") + configFile))
        return ExitNotLoaded;

    // Prepared as the unattended run prepares itself; the job identifier given stays.
    RunPreparation prepared;
    prepared.Read(configFile, log_);
    prepared.Settings.JobID = settings_.JobID;
    settings_ = prepared.Settings;

    QString error;
    const bool repository = RepositoryReachable(&error);
    if (!report.Line(QStringLiteral("job-history repository"), repository, error.trimmed()))
        return ExitNotReachable;

    if (!prepared.CheckRunnable(&error)) {
        const QString reason = prepared.NotListedReason();
        if (!reason.isEmpty())
            error += QStringLiteral(" (") + reason + QLatin1Char(')');
        report.Line(QStringLiteral("required settings"), false, error);
        return ExitSettingsMissing;
    }
    report.Line(QStringLiteral("required settings"), true);

    prepared.ReadyForRun();
    settings_ = prepared.Settings;
    int status = CheckPackage(report, settings_, PackageFactory);
    if (status == ExitNotLoaded)
        return status;
    // The run reaches the warehouse and the data links before it executes: their failures come
    // first.
    const int warehouse = CheckWarehouse(report, settings_, prepared.ListedPackage, configFile);
    if (warehouse != ExitOk)
        status = warehouse;
    return status;
}
