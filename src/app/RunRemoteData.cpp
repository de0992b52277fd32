#include "app/RunRemoteData.h"

#include "config/RunSettings.h"
#include "datasources/DataLinkCatalogue.h"
#include "datasources/DataLinks.h"
#include "datasources/DataSourceSections.h"
#include "datasources/WarehouseSession.h"
#include "db/DbInterface.h"
#include "remote/ModelRemoteData.h"
#include "util/Errors.h"
#include "util/RunLog.h"
#include "util/RunTargets.h"

bool FetchRunRemoteData(WarehouseSession& session, const RunSettings& settings,
                        const JobRecord& runRecord) {
    bool result = true;
    DataLinks links;
    QString error;
    QStringList skipped;
    DbConnection* dw = session.Connection();
    const bool loaded =
        dw != nullptr
            ? links.Load(*dw, GetEtlModelName(settings.DTSPackageName), &skipped, &error)
            : Fail(&error,
                   QStringLiteral("There is no open connection to the data warehouse database."));
    for (const QString& note : skipped)
        LogInfo(note);
    if (!loaded) {
        LogInfo(QStringLiteral("Error: data sources for remote data not read: ") + error);
        result = false;
    }
    if (!RunTargets::Current().interactive && !settings.PendrillConfigFile.isEmpty())
        ReadDataSourceSections(settings.PendrillConfigFile, links);
    RemoteFetchContext context;
    context.runRecord = &runRecord;
    const bool fetched =
        FetchModelRemoteData(links, context, [](const QString& line) { LogInfo(line); });
    return fetched && result;
}
