#pragma once

#include <QString>
#include <vector>

class JobRecord;
class RunLog;
class RunSettings;
class WarehouseSession;

// The remote data of a run of an ETL model's package: the data links of the model are read afresh
// from the catalogue over the session's connection, not taken from its loaded data links. An
// unattended run then applies its configuration file's data-source sections, as the window did
// to the data links that the package will be given: the catalogue still holds what the last run
// saved, which may be another configuration's site. (An interactive Execute has saved the
// window's data links to the catalogue just before.) Every fetch record copies the exception file
// and job identifier of `runRecord`. The fetches' notes, the pass's lines ("Error: remote data of
// data link NAME not obtained: REASON") and the rows the load left out go to `log`. True when the
// links were read and every fetch succeeded, also when there was nothing to fetch.
// What one data link's fetch brought: the files and bytes that reached its local directory.
struct RemoteDataFetched {
    QString dataLink;
    QString transport;  // "ftp", "sftp" or "share"
    qint64 files = 0;
    qint64 bytes = 0;
};

// `fetched`, when given, receives one entry per data link whose fetch ran, in the pass's order.
bool FetchRunRemoteData(WarehouseSession& session, const RunSettings& settings,
                        const JobRecord& runRecord, const RunLog& log,
                        std::vector<RemoteDataFetched>* fetched = nullptr);
