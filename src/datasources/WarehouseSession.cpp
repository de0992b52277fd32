#include "datasources/WarehouseSession.h"

#include "datasources/DataLinks.h"
#include "datasources/WarehouseConnection.h"
#include "db/DbInterface.h"
#include "util/Errors.h"

WarehouseSession::WarehouseSession() = default;

WarehouseSession::~WarehouseSession() {
    // The data links borrow nothing of the connection, but go first all the same.
    Release();
}

bool WarehouseSession::Connect(const QString& server, bool trustedLogin, const QString& user,
                               const QString& password, const QString& database, int timeout,
                               QString* error) {
    if (!connection_)
        connection_ = std::make_unique<DbConnection>();
    else if (connection_->State() == 1)
        connection_->Close();
    DbConnection& dw = *connection_;
    // Start from no properties, so that a login of an earlier call does not linger.
    dw.SetConnectionString(QString());
    dw.ConnectionTimeout = timeout;
    dw.Describe(server, database, trustedLogin, user, password);
    dw.Open();
    if (dw.State() == 1)
        return true;
    QString text = QString::fromLatin1(ConnectErrorPrefix) + server;
    for (const QString& e : dw.Errors())
        text += QStringLiteral("\r\n") + e;
    return Fail(error, text);
}

bool WarehouseSession::Connected() const {
    return connection_ && connection_->State() == 1;
}

DataLinks& WarehouseSession::NewLinks() {
    links_ = std::make_unique<DataLinks>();
    return *links_;
}

void WarehouseSession::SetLinks(std::unique_ptr<DataLinks> links) {
    links_ = std::move(links);
}

DataLink* WarehouseSession::Find(const QString& name) const {
    return links_ ? links_->FindByName(name) : nullptr;
}

bool WarehouseSession::SaveAll(QString* error) {
    if (!links_)
        return true;
    for (DataLink& ds : links_->All()) {
        if (!connection_)
            return Fail(error, QStringLiteral(
                                   "There is no open connection to the data warehouse database."));
        if (!ds.Save(*connection_, error))
            return false;
    }
    return true;
}

void WarehouseSession::ReleaseLinks() {
    links_.reset();
}

void WarehouseSession::Release() {
    links_.reset();
    connection_.reset();
}
