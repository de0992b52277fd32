#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <vector>

#include "DatalinkCommand.h"
#include "config/RunSettings.h"
#include "datasources/DataLinks.h"
#include "util/OperatorInterface.h"

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

QJsonObject toJson(const DataLink& ds) {
    return QJsonObject{
        {"strModelName", ds.strModelName},
        {"strName", ds.strName},
        {"etlType", ds.etlType},
        {"strDSServer", ds.strDSServer},
        {"strDSDatabase", ds.strDSDatabase},
        {"blnDSTrustedLogin", ds.blnDSTrustedLogin},
        {"strDSUser", ds.strDSUser},
        {"strDSPassword", ds.strDSPassword},
        {"strDSFile", ds.strDSFile},
        {"strDSDirectory", ds.strDSDirectory},
        {"strDSConnectString", ds.strDSConnectString},
        {"intTransferData", ds.intTransferData},
        {"strFTPServer", ds.strFTPServer},
        {"strFTPUser", ds.strFTPUser},
        {"strFTPPassword", ds.strFTPPassword},
        {"strRemoteDir", ds.strRemoteDir},
        {"intPollInterval", ds.intPollInterval},
        {"intPollDuration", ds.intPollDuration},
    };
}

void printText(const DataLink& ds, const AdminIo& io) {
    const auto n = [](int v) { return QString::number(v); };
    io.print('[' + ds.strName + ']');
    io.print("ModelName=" + ds.strModelName);
    io.print("Type=" + n(ds.etlType));
    io.print("Server=" + ds.strDSServer);
    io.print("Database=" + ds.strDSDatabase);
    io.print("TrustedLogin=" + RunSettings::BooleanText(ds.blnDSTrustedLogin));
    io.print("User=" + ds.strDSUser);
    io.print("Password=" + ds.strDSPassword);
    io.print("File=" + ds.strDSFile);
    io.print("Directory=" + ds.strDSDirectory);
    io.print("ConnectString=" + ds.strDSConnectString);
    io.print("TransferData=" + n(ds.intTransferData));
    io.print("FTPServer=" + ds.strFTPServer);
    io.print("FTPUser=" + ds.strFTPUser);
    io.print("FTPPassword=" + ds.strFTPPassword);
    io.print("RemoteDir=" + ds.strRemoteDir);
    io.print("PollDuration=" + n(ds.intPollDuration));
    io.print("PollInterval=" + n(ds.intPollInterval));
}

}  // namespace

int DatalinkList(const DatalinkRequest& r, const AdminIo& io) {
    if (!ConnectWarehouse(r, io) || !RequireDataLinkTable(io))
        return 1;
    StderrOperator stderrOperator(io);
    SetOperator(&stderrOperator);
    DataLinks sources;
    QString error;
    const bool loaded = sources.Load(r.model, &error);
    SetOperator(nullptr);
    if (!loaded) {
        io.error(TerminalLines(error));
        return 1;
    }
    // The server may have returned rows whose model matches only without regard to case; like
    // Pendrill's data-link list, only the model's own rows are shown.
    std::vector<const DataLink*> shown;
    for (const DataLink& ds : sources)
        if (ds.strModelName == r.model)
            shown.push_back(&ds);
    if (r.args.has(QStringLiteral("--json"))) {
        QJsonArray array;
        for (const DataLink* ds : shown)
            array.append(toJson(*ds));
        io.write(QJsonDocument(array).toJson(QJsonDocument::Indented));
        return 0;
    }
    bool first = true;
    for (const DataLink* ds : shown) {
        if (!first)
            io.print(QString());
        first = false;
        printText(*ds, io);
    }
    return 0;
}
