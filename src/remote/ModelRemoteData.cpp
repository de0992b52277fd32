#include "remote/ModelRemoteData.h"

#include <QDir>
#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "datasources/DataLinks.h"
#include "history/JobRecord.h"
#include "remote/ShareTransfer.h"
#include "util/FileUtils.h"

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

// The text without one trailing '\' or '/'.
QString stripSeparator(const QString& text) {
    if (!text.isEmpty() && (text.endsWith('/') || text.endsWith('\\')))
        return text.left(text.size() - 1);
    return text;
}

// Marks every link that reads the same remote directory as `ds` as handled, and points it at
// `ds`'s local directory.
void markSiblingsHandled(const DataLink& ds, DataLinks& links) {
    const short type = ds.transferData;
    if (type != DataLink::TransferFtp && type != DataLink::TransferShare)
        return;
    // Copies, because `ds` is itself one of the records changed below.
    const QString server = ds.ftpServer;
    const QString remote = stripSeparator(ds.remoteDirectory);
    const QString local = ds.directory;
    for (DataLink& x : links.All()) {
        if (x.transferData != type || stripSeparator(x.remoteDirectory) != remote)
            continue;
        if (type == DataLink::TransferFtp && x.ftpServer != server)
            continue;
        x.remoteDataHandled = true;
        x.directory = local;
    }
}

}  // namespace

bool FetchModelRemoteData(DataLinks& links, const RemoteFetchContext& context,
                          const RemoteLinkFailed& failed, const RemoteLinkFetched& done) {
    bool result = true;
    JobRecord metadata;
    for (DataLink& ds : links.All()) {
        if (ds.remoteDataHandled)
            continue;
        bool fetched = false;
        bool ok = false;
        QString why;
        // This link's files are counted on their way to the caller's notes.
        qint64 files = 0, bytes = 0;
        RemoteFetchContext linkContext = context;
        linkContext.notes.fetched = [&](const QString& file, qint64 size) {
            ++files;
            bytes += size;
            context.notes.Fetched(file, size);
        };
        if (ds.transferData == DataLink::TransferFtp) {
            fetched = true;
            ok = FetchRemoteData(ds.remoteDirectory, ds.directory, ds.pollInterval, ds.pollDuration,
                                 ds.ftpServer, ds.ftpUser, ds.ftpPassword, linkContext, nullptr,
                                 &why);
        } else if (ds.transferData == DataLink::TransferShare) {
            fetched = true;
            ok = FetchRemoteData(ds.remoteDirectory, ds.directory, ds.pollInterval, ds.pollDuration,
                                 QString(), QString(), QString(), linkContext, nullptr, &why);
        }
        if (fetched && done)
            done(ds, files, bytes);
        if (fetched) {
            if (ok) {
                markSiblingsHandled(ds, links);
            } else {
                result = false;
                if (failed)
                    failed(ds, why);
            }
        }
        processMetadataFiles(ds.directory, metadata);
    }
    return result;
}
