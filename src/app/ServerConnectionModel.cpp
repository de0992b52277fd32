#include "app/ServerConnectionModel.h"

#include "datasources/WarehouseConnection.h"
#include "db/DbInterface.h"

void ServerConnectionModel::ResetToLocal() {
    ServerName = QStringLiteral("(local)");
    TrustedLogin = true;
    UserName.clear();
    Password.clear();
    DatabaseName.clear();
}

bool ServerConnectionModel::TryConnection(QString& errorText) const {
    std::unique_ptr<DbConnection> connection;
    errorText.clear();
    if (!OpenDataSourceConnection(1, ServerName, TrustedLogin, UserName, Password, connection,
                                  QString(), 20, &errorText))
        return false;
    connection->Close();
    return true;
}
