#include "app/ServerConnectionModel.h"

#include "datasources/WarehouseConnection.h"
#include "db/DbInterface.h"
#include "util/Errors.h"

void ServerConnectionModel::ResetToLocal() {
    ServerName = QStringLiteral("(local)");
    TrustedLogin = true;
    UserName.clear();
    Password.clear();
    DatabaseName.clear();
}

bool ServerConnectionModel::TryConnection(QString* error) const {
    std::unique_ptr<DbConnection> connection;
    if (!OpenDataSourceConnection(1, ServerName, TrustedLogin, UserName, Password, connection,
                                  QString(), 20, error)) {
        return false;
    }
    connection->Close();
    return true;
}
