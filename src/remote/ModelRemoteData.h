#pragma once

#include <QString>
#include <functional>

#include "remote/StatusPolling.h"

class DataLink;
class DataLinks;

// The remote data of a run: before the package of an ETL model runs, the files of every data
// link that receives them over FTP or from a share are fetched (FetchRemoteData), once per remote
// directory.

// Told of each data link whose fetch failed, with the reason, as soon as the fetch has ended.
using RemoteLinkFailed = std::function<void(const DataLink& link, const QString& reason)>;

// Told of each data link whose fetch ran, ok or not, with the files (and their bytes) that
// reached its local directory.
using RemoteLinkFetched = std::function<void(const DataLink& link, qint64 files, qint64 bytes)>;

// Fetches the remote data of every link of `links` with FTP or share transfer that is not marked
// handled. After a fetch, every link that reads the same remote directory (same transfer type,
// same FTP server for FTP, remote directories equal but for one trailing separator) is marked
// handled and pointed at the fetching link's local directory. The metadata files ("pmd_*") of
// each link's local directory are processed in name order. True when every fetch succeeded, also
// when there was nothing to fetch; each failed fetch is handed to `failed` (before the link's
// metadata files are processed) and the pass goes on.
bool FetchModelRemoteData(DataLinks& links, const RemoteFetchContext& context,
                          const RemoteLinkFailed& failed, const RemoteLinkFetched& done = nullptr);
