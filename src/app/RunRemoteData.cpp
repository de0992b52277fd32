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
                        const JobRecord& runRecord, const RunLog& log,
                        std::vector<RemoteDataFetched>* fetched) {
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
    const auto failed = [&log](const DataLink& link, const QString& reason) {
        log.Info(QStringLiteral("Error: remote data of data link %1 not obtained: %2")
                     .arg(link.name, reason));
    };
    const auto done = [fetched](const DataLink& link, qint64 files, qint64 bytes) {
        if (fetched == nullptr)
            return;
        QString transport = QStringLiteral("share");
        if (link.transferData == DataLink::TransferFtp)
            transport =
                link.ftpServer.trimmed().startsWith(QLatin1String("sftp://"), Qt::CaseInsensitive)
                    ? QStringLiteral("sftp")
                    : QStringLiteral("ftp");
        fetched->push_back({link.name, transport, files, bytes});
    };
    return FetchModelRemoteData(links, context, failed, done) && result;
}
