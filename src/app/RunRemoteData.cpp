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

namespace {

// The fetches' notes go to the run log (borrowed: it outlives the pass): lines as Info, boxes as
// Message with a box.
RemoteNotes runLogNotes(const RunLog& log) {
    RemoteNotes notes;
    notes.note = [&log](const QString& line) { log.Info(line); };
    notes.box = [&log](const QString& text, int style, const QString& title) {
        log.Message(text, true, style, title);
    };
    return notes;
}

}  // namespace

bool FetchRunRemoteData(WarehouseSession& session, const RunSettings& settings,
                        const JobRecord& runRecord, const RunLog& log) {
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
        log.Info(note);
    if (!loaded) {
        log.Info(QStringLiteral("Error: data sources for remote data not read: ") + error);
        result = false;
    }
    if (!log.interactive && !settings.PendrillConfigFile.isEmpty())
        ReadDataSourceSections(settings.PendrillConfigFile, links);
    RemoteFetchContext context;
    context.runRecord = &runRecord;
    context.notes = runLogNotes(log);
    const bool fetched =
        FetchModelRemoteData(links, context, [&log](const DataLink& link, const QString& reason) {
            log.Info(QStringLiteral("Error: remote data of data link %1 not obtained: %2")
                         .arg(link.name, reason));
        });
    return fetched && result;
}
