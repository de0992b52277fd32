#include "app/RookConnectModel.h"

#include "datasources/modDBConnection.h"
#include "db/DbInterface.h"

void RookConnectModel::ResetToLocal() {
    ServerName = QStringLiteral("(local)");
    TrustedLogin = true;
    UserName.clear();
    Password.clear();
    DatabaseName.clear();
}

bool RookConnectModel::TryConnection(QString& errorText) const {
    std::unique_ptr<DbConnection> connection;
    errorText.clear();
    if (!OpenDataSourceConnection(1, ServerName, TrustedLogin, UserName, Password, connection,
                                  errorText, QString(), 20))
        return false;
    connection->Close();
    return true;
}
