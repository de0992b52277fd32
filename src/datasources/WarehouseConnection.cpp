#include "datasources/WarehouseConnection.h"

#include "db/DbInterface.h"

bool OpenDataSourceConnection(int typeCode, const QString& server, bool trustedLogin,
                              const QString& user, const QString& password,
                              std::unique_ptr<DbConnection>& connection, const QString& database,
                              int timeout, QString* error) {
    connection = std::make_unique<DbConnection>();
    DbConnection& c = *connection;
    switch (typeCode) {
        case 1:
            c.Provider = QString::fromLatin1(SqlServerProvider);
            if (!database.trimmed().isEmpty())
                c.SetProperty(QStringLiteral("Initial Catalog"), database);
            break;
        case 4:
        case 5:
            c.Provider = QString::fromLatin1(FileProvider);
            break;
        case 6:
        case 7:
            c.Provider = QString::fromLatin1(OracleProvider);
            if (!database.trimmed().isEmpty())
                c.SetProperty(QStringLiteral("Initial Catalog"), database);
            break;
        default:
            break;
    }
    c.ConnectionTimeout = timeout;
    c.SetProperty(QStringLiteral("Persist Security Info"), false);
    c.SetProperty(QStringLiteral("Data Source"), server);
    if (typeCode == 1 && trustedLogin) {
        c.SetProperty(QStringLiteral("Integrated Security"), QStringLiteral("SSPI"));
    } else {
        c.SetProperty(QStringLiteral("User ID"), user);
        c.SetProperty(QStringLiteral("Password"), password);
    }
    c.Open();
    if (c.State() == 1)
        return true;
    if (error != nullptr)
        for (const QString& e : c.Errors())
            *error += QStringLiteral("\r\n") + e;
    connection.reset();
    return false;
}
