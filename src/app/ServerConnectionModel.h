#pragma once

#include <QString>

// The values of a server-connection control (the DTS server and the data-warehouse server of the
// main window each have one): server, database, login, and a status the window only compares
// with 3. The widget binds its fields to these; the window answers its two notifications
// (settings changed, test connection) through MainFormModel.
class ServerConnectionModel {
  public:
    // Status value of a control that has reached its server and database.
    static constexpr int StatusConnected = 3;

    QString ServerName;
    QString DatabaseName;
    bool TrustedLogin = false;
    QString UserName;
    QString Password;
    int Status = 0;

    // Server "(local)", trusted login, no user, password or database.
    void ResetToLocal();

    // Opens a connection to the server (SQL Server kind, no database, time-out 20 s) with the
    // control's login and closes it again. False with `*error` holding the server's errors
    // (one line per error, each after CR LF) when it cannot be opened.
    bool TryConnection(QString* error = nullptr) const;
};

// The name the run code has used so far.
using ServerConnectionModel = ServerConnectionModel;
