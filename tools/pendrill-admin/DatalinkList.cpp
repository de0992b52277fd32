#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <vector>

#include "DatalinkParts.h"
#include "config/RunSettings.h"
#include "datasources/DataLinks.h"
#include "datasources/WarehouseSession.h"
#include "util/OperatorInterface.h"
#include "util/RunLog.h"

namespace {

// Messages of the run log (rows left out of a load) go to standard error.
class StderrOperator : public OperatorInterface {
  public:
    explicit StderrOperator(const AdminIo& io) : io_(io) {}
    void ProcessPendingEvents() override {}
    void ShowMessageBox(const QString&, int, const QString&) override {}
    void SetStatusText(const QString& text) override { io_.error(TerminalLines(text)); }

  private:
    const AdminIo& io_;
};

// A stored password as a listing shows it: ******** unless --show-passwords.
QString shownPassword(const QString& password, bool reveal) {
    return reveal || password.isEmpty() ? password : QStringLiteral("********");
}

// The data link as listed: passwords (and that of a connect string) hidden unless `reveal`.
DataLink listed(const DataLink& stored, bool reveal) {
    DataLink ds = stored;
    ds.password = shownPassword(ds.password, reveal);
    ds.ftpPassword = shownPassword(ds.ftpPassword, reveal);
    if (!reveal)
        ds.connectString = MaskedConnectionText(ds.connectString);
    return ds;
}

QJsonObject LinkToJson(const DataLink& ds) {
    return QJsonObject{
        {"strModelName", ds.modelName},
        {"strName", ds.name},
        {"etlType", ds.etlType},
        {"strDSServer", ds.server},
        {"strDSDatabase", ds.database},
        {"blnDSTrustedLogin", ds.trustedLogin},
        {"strDSUser", ds.user},
        {"strDSPassword", ds.password},
        {"strDSFile", ds.file},
        {"strDSDirectory", ds.directory},
        {"strDSConnectString", ds.connectString},
        {"intTransferData", ds.transferData},
        {"strFTPServer", ds.ftpServer},
        {"strFTPUser", ds.ftpUser},
        {"strFTPPassword", ds.ftpPassword},
        {"strRemoteDir", ds.remoteDirectory},
        {"intPollInterval", ds.pollInterval},
        {"intPollDuration", ds.pollDuration},
    };
}

void printText(const DataLink& ds, const AdminIo& io) {
    const auto n = [](int v) { return QString::number(v); };
    io.print('[' + ds.name + ']');
    io.print("ModelName=" + ds.modelName);
    io.print("Type=" + n(ds.etlType));
    io.print("Server=" + ds.server);
    io.print("Database=" + ds.database);
    io.print("TrustedLogin=" + RunSettings::BooleanText(ds.trustedLogin));
    io.print("User=" + ds.user);
    io.print("Password=" + ds.password);
    io.print("File=" + ds.file);
    io.print("Directory=" + ds.directory);
    io.print("ConnectString=" + ds.connectString);
    io.print("TransferData=" + n(ds.transferData));
    io.print("FTPServer=" + ds.ftpServer);
    io.print("FTPUser=" + ds.ftpUser);
    io.print("FTPPassword=" + ds.ftpPassword);
    io.print("RemoteDir=" + ds.remoteDirectory);
    io.print("PollDuration=" + n(ds.pollDuration));
    io.print("PollInterval=" + n(ds.pollInterval));
}

}  // namespace

int DatalinkList(const DatalinkRequest& r, const AdminIo& io) {
    WarehouseSession session;
    if (!ConnectWarehouse(r, session, io) || !RequireDataLinkTable(session, io))
        return 1;
    StderrOperator stderrOperator(io);
    SetOperator(&stderrOperator);
    DataLinks sources;
    QString error;
    QStringList skipped;
    const bool loaded = sources.Load(*session.Connection(), r.model, &skipped, &error);
    for (const QString& note : skipped)
        RunLog().Info(note);
    SetOperator(nullptr);
    if (!loaded) {
        io.error(TerminalLines(error));
        return 1;
    }
    // The server may have returned rows whose model matches only without regard to case; like
    // Pendrill's data-link list, only the model's own rows are shown.
    std::vector<const DataLink*> shown;
    for (const DataLink& ds : sources.All())
        if (ds.modelName == r.model)
            shown.push_back(&ds);
    const bool reveal = r.args.has(QStringLiteral("--show-passwords"));
    if (r.args.has(QStringLiteral("--json"))) {
        QJsonArray array;
        for (const DataLink* ds : shown)
            array.append(LinkToJson(listed(*ds, reveal)));
        io.write(QJsonDocument(array).toJson(QJsonDocument::Indented));
        return 0;
    }
    bool first = true;
    for (const DataLink* ds : shown) {
        if (!first)
            io.print(QString());
        first = false;
        printText(listed(*ds, reveal), io);
    }
    return 0;
}
