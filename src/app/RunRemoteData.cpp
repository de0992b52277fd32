#include "app/RunRemoteData.h"

#include "config/RunSettings.h"
#include "datasources/DataLinkCatalogue.h"
#include "datasources/DataLinks.h"
#include "datasources/DataSourceSections.h"
#include "remote/ModelRemoteData.h"
#include "util/RunLog.h"
#include "util/RunTargets.h"

bool FetchRunRemoteData(const RunSettings& settings, const JobRecord& runRecord) {
    bool result = true;
    DataLinks links;
    QString error;
    if (!links.Load(GetEtlModelName(settings.DTSPackageName), &error)) {
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
