#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <vector>

#include "AdminCommands.h"
#include "DatalinkCommand.h"
#include "config/RunSettings.h"
#include "datasources/DataLinks.h"
#include "util/OperatorInterface.h"

namespace {

// Messages of the run log (rows left out of a load) go to standard error.
class StderrOperator : public OperatorInterface {
  public:
    void ProcessPendingEvents() override {}
    void ShowMessageBox(const QString&, int, const QString&) override {}
    void SetStatusText(const QString& text) override { AdminError(TerminalLines(text)); }
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

void printText(const DataLink& ds) {
    const auto n = [](int v) { return QString::number(v); };
    AdminPrint('[' + ds.strName + ']');
    AdminPrint("ModelName=" + ds.strModelName);
    AdminPrint("Type=" + n(ds.etlType));
    AdminPrint("Server=" + ds.strDSServer);
    AdminPrint("Database=" + ds.strDSDatabase);
    AdminPrint("TrustedLogin=" + RunSettings::BooleanText(ds.blnDSTrustedLogin));
    AdminPrint("User=" + ds.strDSUser);
    AdminPrint("Password=" + ds.strDSPassword);
    AdminPrint("File=" + ds.strDSFile);
    AdminPrint("Directory=" + ds.strDSDirectory);
    AdminPrint("ConnectString=" + ds.strDSConnectString);
    AdminPrint("TransferData=" + n(ds.intTransferData));
    AdminPrint("FTPServer=" + ds.strFTPServer);
    AdminPrint("FTPUser=" + ds.strFTPUser);
    AdminPrint("FTPPassword=" + ds.strFTPPassword);
    AdminPrint("RemoteDir=" + ds.strRemoteDir);
    AdminPrint("PollDuration=" + n(ds.intPollDuration));
    AdminPrint("PollInterval=" + n(ds.intPollInterval));
}

}  // namespace

int DatalinkList(const DatalinkRequest& r) {
    if (!ConnectWarehouse(r) || !RequireDataLinkTable())
        return 1;
    StderrOperator stderrOperator;
    SetOperator(&stderrOperator);
    DataLinks sources;
    QString error;
    const bool loaded = sources.Load(r.model, &error);
    SetOperator(nullptr);
    if (!loaded) {
        AdminError(TerminalLines(error));
        return 1;
    }
    // The server may have returned rows whose model matches only without regard to case; like
    // Pendrill's data-link list, only the model's own rows are shown.
    std::vector<const DataLink*> shown;
    for (const DataLink& ds : sources)
        if (ds.strModelName == r.model)
            shown.push_back(&ds);
    if (r.options.has(QStringLiteral("--json"))) {
        QJsonArray array;
        for (const DataLink* ds : shown)
            array.append(toJson(*ds));
        std::fputs(QJsonDocument(array).toJson(QJsonDocument::Indented).constData(), stdout);
        return 0;
    }
    bool first = true;
    for (const DataLink* ds : shown) {
        if (!first)
            AdminPrint(QString());
        first = false;
        printText(*ds);
    }
    return 0;
}
