// Remote data of a run: before the package of an ETL model runs, every data source of the model
// that receives its files over FTP or from a share has them fetched, once per remote directory.

#include <QDir>
#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "config/RunSettings.h"
#include "datasources/DataSourceSections.h"
#include "datasources/DataLinks.h"
#include "datasources/DataLinkCatalogue.h"
#include "remote/ShareTransfer.h"
#include "remote/StatusPolling.h"
#include "history/JobRecord.h"
#include "util/RunLog.h"
#include "util/FileUtils.h"
#include "util/StopFlags.h"

namespace {

// Metadata files are the regular files of the local directory whose names begin with "pmd_".
void processMetadataFiles(const QString& directory, JobRecord& metadata) {
    if (directory.isEmpty())
        return;
    std::vector<QString> names;
    std::error_code ec;
    std::filesystem::directory_iterator it(ToFsPath(directory), ec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        std::error_code typeError;
        const QString name = QString::fromStdString(it->path().filename().string());
        if (name.startsWith(QLatin1String("pmd_"), Qt::CaseSensitive) &&
            it->is_regular_file(typeError))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    for (const QString& name : names)
        metadata.ProcessMetadataFile(JoinRemotePath(directory, name));
}

}  // namespace

QString RunSettings::stripSL(const QString& text) {
    if (!text.isEmpty() && (text.endsWith('/') || text.endsWith('\\')))
        return text.left(text.size() - 1);
    return text;
}

void RunSettings::MarkSiblingsHandled(const DataLink& ds, DataLinks& collection) {
    const short type = ds.intTransferData;
    if (type != DataLink::TransferFtp && type != DataLink::TransferShare)
        return;
    // Copies, because `ds` is itself one of the records changed below.
    const QString server = ds.strFTPServer;
    const QString remote = stripSL(ds.strRemoteDir);
    const QString local = ds.strDSDirectory;
    for (DataLink& x : collection) {
        if (x.intTransferData != type || stripSL(x.strRemoteDir) != remote)
            continue;
        if (type == DataLink::TransferFtp && x.strFTPServer != server)
            continue;
        x.blnHandledRemoteData = true;
        x.strDSDirectory = local;
    }
}

bool RunSettings::HandleRemoteData() {
    bool result = true;
    JobRecord metadata;

    // Fetch records copy the exception file and job identifier of the run's record; without one
    // installed by the run, a record made of this run's own settings stands in.
    JobRecord runRecord;
    const bool ownRecord = RunJobHistory() == nullptr;
    if (ownRecord) {
        runRecord.setExceptionFile(ExceptionLogFile);
        runRecord.setJobIdentifier(JobID == QLatin1String("0") ? QString() : JobID);
        SetRunJobHistory(&runRecord);
    }

    // The data sources are read afresh from the catalogue, not taken from the window. An
    // unattended run then applies its configuration file's data-source sections, as the window
    // did to the data links that the package will be given: the catalogue still holds what the
    // last run saved, which may be another configuration's site. (An interactive Execute has
    // saved the window's data links to the catalogue just before.)
    DataLinks sources;
    QString error;
    if (!sources.Load(GetEtlModelName(DTSPackageName), &error)) {
        LogInfo(QStringLiteral("Error: data sources for remote data not read: ") + error);
        result = false;
    }
    if (!StopFlags::StartInConfigMode && !PendrillConfigFile.isEmpty())
        ReadDataSourceSections(PendrillConfigFile, sources);
    for (DataLink& ds : sources) {
        if (ds.blnHandledRemoteData)
            continue;
        bool fetched = false;
        bool ok = false;
        QString why;
        if (ds.intTransferData == DataLink::TransferFtp) {
            fetched = true;
            ok = FetchRemoteData(ds.strRemoteDir, ds.strDSDirectory, ds.intPollInterval,
                                 ds.intPollDuration, ds.strFTPServer, ds.strFTPUser,
                                 ds.strFTPPassword, nullptr, &why);
        } else if (ds.intTransferData == DataLink::TransferShare) {
            fetched = true;
            ok =
                FetchRemoteData(ds.strRemoteDir, ds.strDSDirectory, ds.intPollInterval,
                                ds.intPollDuration, QString(), QString(), QString(), nullptr, &why);
        }
        if (fetched) {
            if (ok) {
                MarkSiblingsHandled(ds, sources);
            } else {
                result = false;
                LogInfo(QStringLiteral("Error: remote data of data link %1 not obtained: %2")
                            .arg(ds.strName, why));
            }
        }
        processMetadataFiles(ds.strDSDirectory, metadata);
    }

    if (ownRecord)
        SetRunJobHistory(nullptr);
    return result;
}
