// pendrill-admin remote status|fetch|check: the remote data of a model's data sources, as an
// unattended run sees it.

#include <optional>

#include "CommandTable.h"
#include "DatalinkParts.h"
#include "app/RunRemoteData.h"
#include "config/RunSettings.h"
#include "datasources/DataLinks.h"
#include "datasources/WarehouseSession.h"
#include "history/JobRecord.h"
#include "remote/FtpTransfer.h"
#include "remote/ShareTransfer.h"
#include "remote/StatusPolling.h"
#include "util/OperatorInterface.h"
#include "util/RunLog.h"
#include "util/TerminationSignals.h"

namespace {

const char* const kRemoteUsage =
    "Usage: pendrill-admin remote status --server S --database D --model M [--name N] [LOGIN]\n"
    "       pendrill-admin remote fetch  --server S --database D --model M [LOGIN]\n"
    "       pendrill-admin remote check  --server S --database D --model M --name N [LOGIN]\n"
    "The remote data of the data links of model M (those with transfer type 1, FTP, or 2,\n"
    "share), read from the data-link catalogue of the data-warehouse database D on server S.\n"
    "  status  reads the status file of each remote data link once, as a run polls it, and\n"
    "          prints one line per data link: NAME, a tab, and ready (the data is offered),\n"
    "          waiting (not ready yet, or no status file yet) or failed (\"error\" or \"stop\",\n"
    "          or the status could not be read), with the reason after another tab\n"
    "  fetch   one remote-data pass of a run for the model now: waits for each site's \"ready\"\n"
    "          as the data link's poll interval and duration say, writes \"idle\", copies the\n"
    "          files, records them in the job history; the run-log lines go to standard output.\n"
    "          SIGINT or SIGTERM stops the polling within 100 ms\n"
    "  check   logs in to the FTP (or SFTP) site of data link N with its stored server, user and\n"
    "          password and checks that its status file can be read and a file written beside\n"
    "          it (the flat-file panel's Test connection)\n"
    "LOGIN:  --user U [--password P | --password-file F]   or   --trusted (the default);\n"
    "        '-' as P or F reads standard input; without either PENDRILL_PASSWORD is taken\n"
    "Exit status: 0 success; 5 remote data not obtained (fetch), a status that failed\n"
    "(status), or rights not confirmed (check); 1 other failure (no warehouse, no such data\n"
    "link); 2 wrong usage.\n";

constexpr int kRemoteDataNotObtained = 5;

// Run-log lines become lines of standard output (status: standard error, so that the table stays
// clean).
class PrintingOperator : public OperatorInterface {
  public:
    explicit PrintingOperator(FILE* out) : out_(out) {}
    void ProcessPendingEvents() override {}
    void ShowMessageBox(const QString&, int, const QString&) override {}
    void SetStatusText(const QString& text) override {
        const QByteArray bytes = TerminalLines(text).toLocal8Bit() + '\n';
        std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), out_);
        std::fflush(out_);
    }

  private:
    FILE* out_;
};

bool isRemote(const DataLink& ds) {
    return ds.transferData == DataLink::TransferFtp || ds.transferData == DataLink::TransferShare;
}

// The model's data sources, read as a run reads them (rows left out are named on standard error).
bool loadSources(const DatalinkRequest& r, DataLinks& sources, const AdminIo& io) {
    WarehouseSession session;
    if (!ConnectWarehouse(r, session, io) || !RequireDataLinkTable(session, io))
        return false;
    PrintingOperator toStderr(io.err);
    SetOperator(&toStderr);
    // Notes and failures of the reads go to the status bar, that is standard error.
    const RunLog log;
    RemoteNotes notes;
    notes.note = [&log](const QString& line) { log.Info(line); };
    QString error;
    QStringList skipped;
    const bool loaded = sources.Load(*session.Connection(), r.model, &skipped, &error);
    for (const QString& note : skipped)
        log.Info(note);
    SetOperator(nullptr);
    if (!loaded)
        io.error(TerminalLines(error));
    return loaded;
}

int remoteStatus(const DatalinkRequest& r, const AdminIo& io) {
    DataLinks sources;
    if (!loadSources(r, sources, io))
        return 1;
    PrintingOperator toStderr(io.err);
    SetOperator(&toStderr);
    // Notes and failures of the reads go to the status bar, that is standard error.
    const RunLog log;
    RemoteNotes notes;
    notes.note = [&log](const QString& line) { log.Info(line); };
    int status = 0;
    bool any = false;
    for (const DataLink& ds : sources.All()) {
        if (!isRemote(ds) || (!r.name.isEmpty() && ds.name != r.name))
            continue;
        any = true;
        QString remote = ds.remoteDirectory;
        QString failure;
        const short code =
            ds.transferData == DataLink::TransferFtp
                ? FtpReadStatus(ds.ftpServer, remote, ds.ftpUser, ds.ftpPassword, notes, &failure)
                : ShareReadStatus(remote, notes, &failure);
        if (code == RemoteStatus::Failed && !failure.isEmpty())
            log.Info(failure);
        const char* word = code == RemoteStatus::Ready         ? "ready"
                           : code == RemoteStatus::KeepPolling ? "waiting"
                                                               : "failed";
        QString line = ds.name + '\t' + QLatin1String(word);
        if (!failure.isEmpty())
            line += '\t' + TerminalLines(failure);
        io.print(line);
        if (code == RemoteStatus::Failed)
            status = kRemoteDataNotObtained;
    }
    SetOperator(nullptr);
    if (!any) {
        io.error(r.name.isEmpty()
                     ? QStringLiteral("model '%1' has no data link with remote data").arg(r.model)
                     : QStringLiteral("model '%1' has no data link '%2' with remote data")
                           .arg(r.model, r.name));
        return 1;
    }
    return status;
}

int remoteFetch(const DatalinkRequest& r, const AdminIo& io) {
    WarehouseSession session;
    if (!ConnectWarehouse(r, session, io) || !RequireDataLinkTable(session, io))
        return 1;
    InstallTerminationHandlers();
    PrintingOperator toStdout(io.out);
    SetOperator(&toStdout);
    RunSettings run;
    // The pass derives the model from a package name; any step suffix of the model will do.
    run.DTSPackageName = r.model + QStringLiteral("_Overall");
    // The fetch records of a pass outside a run name no run log and no job.
    JobRecord noRun;
    noRun.setExceptionFile(QString());
    noRun.setJobIdentifier(QString());
    const bool ok = FetchRunRemoteData(session, run, noRun, RunLog());
    SetOperator(nullptr);
    return ok ? 0 : kRemoteDataNotObtained;
}

int remoteCheck(const DatalinkRequest& r, const AdminIo& io) {
    DataLinks sources;
    if (!loadSources(r, sources, io))
        return 1;
    const DataLink* ds = sources.FindByName(r.name);
    if (ds == nullptr) {
        io.error(QStringLiteral("model '%1' has no data link '%2'").arg(r.model, r.name));
        return 1;
    }
    if (ds->transferData != DataLink::TransferFtp) {
        io.error(QStringLiteral("data link '%1' does not fetch its data over FTP").arg(r.name));
        return 1;
    }
    // The reason of a failure is printed once, below.
    HeadlessOperator quiet;
    SetOperator(&quiet);
    // Empty boxes in the panel pass no values: the anonymous login applies.
    const auto optional = [](const QString& s) {
        return s.isEmpty() ? std::nullopt : std::optional<QString>(s);
    };
    QString error;
    const bool ok = FtpCheckAccess(ds->ftpServer, kFtpStatusFileName, ds->remoteDirectory,
                                   optional(ds->ftpUser), optional(ds->ftpPassword), &error);
    SetOperator(nullptr);
    if (!ok) {
        io.error(error.isEmpty() ? QStringLiteral("access to %1 not confirmed").arg(ds->ftpServer)
                                 : TerminalLines(error));
        return kRemoteDataNotObtained;
    }
    io.print(QStringLiteral("Login, read and write rights confirmed on %1").arg(ds->ftpServer));
    return 0;
}

template <int (*run)(const DatalinkRequest&, const AdminIo&)>
int withRequest(const AdminInvocation& invocation, const AdminIo& io) {
    return run(DatalinkRequest(invocation), io);
}

}  // namespace

AdminGroup RemoteGroup() {
    AdminCommand status{"status"}, fetch{"fetch"}, check{"check"};
    status.options = {{"--model"}, {"--name"}};
    status.run = withRequest<remoteStatus>;
    fetch.options = {{"--model"}};
    fetch.run = withRequest<remoteFetch>;
    check.options = {{"--model"}, {"--name"}};
    check.run = withRequest<remoteCheck>;
    for (AdminCommand* c : {&status, &fetch, &check}) {
        c->connection = AdminConnection::ServerAndDatabase;
        c->required = {QStringLiteral("--server"), QStringLiteral("--database"),
                       QStringLiteral("--model")};
    }
    check.required << QStringLiteral("--name");
    return AdminGroup{"remote", kRemoteUsage, {status, fetch, check}};
}
