#include "datasources/WarehouseConnection.h"

#include <QCoreApplication>

#include "db/DbInterface.h"
#include "util/Errors.h"

namespace {

std::unique_ptr<DbConnection>& dwConnection() {
    static std::unique_ptr<DbConnection> connection;
    return connection;
}

// The connection holds a Qt Sql connection, which must be gone before Qt Sql is torn down.
void releaseAtExit() {
    ReleaseDWConnection();
}

}  // namespace

bool ConnectToDWServer(const QString& server, bool trustedLogin, const QString& user,
                       const QString& password, const QString& database, int timeout,
                       QString* error) {
    std::unique_ptr<DbConnection>& dw = dwConnection();
    if (!dw) {
        dw = std::make_unique<DbConnection>();
        static bool cleanupRegistered = false;
        if (!cleanupRegistered && QCoreApplication::instance() != nullptr) {
            qAddPostRoutine(releaseAtExit);
            cleanupRegistered = true;
        }
    } else if (dw->State() == 1) {
        dw->Close();
    }
    // Start from no properties, so that a login of an earlier call does not linger.
    dw->SetConnectionString(QString());
    dw->ConnectionTimeout = timeout;
    dw->Describe(server, database, trustedLogin, user, password);
    dw->Open();
    if (dw->State() == 1)
        return true;
    QString text = QString::fromLatin1(ConnectErrorPrefix) + server;
    for (const QString& e : dw->Errors())
        text += QStringLiteral("\r\n") + e;
    return Fail(error, text);
}

DbConnection* GetDWConnection() {
    return dwConnection().get();
}

void ReleaseDWConnection() {
    dwConnection().reset();
}

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
