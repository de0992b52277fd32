#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

#include "app/ServerConnectionModel.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class OpeningComboBox;

// The server-connection control: server (an editable list of the known servers), trusted login or
// user name and password, database (listed from the server when its list opens) and a status
// value. It is bound to a ServerConnectionModel: every edit of the operator goes straight into the
// model, and Refresh() shows the model's values again after the form model changed them.
//
// Two notifications: SettingsChanged when the operator changes any setting (not when the program
// sets a value), TestConnection when the operator asks to try the connection.
//
// Status (ServerConnectionModel::Status): 0 while nothing is known, 1 after the server could not be
// reached, 3 after the databases of the server were listed. Any change of a setting puts it back
// to 0.
class ServerConnectionWidget : public QWidget {
    Q_OBJECT

  public:
    static constexpr int StatusUnknown = 0;
    static constexpr int StatusFailed = 1;

    explicit ServerConnectionWidget(QWidget* parent = nullptr);
    ~ServerConnectionWidget() override;

    // Binds the control to `model` (not owned; may be null) and shows its values.
    void Bind(ServerConnectionModel* model);
    ServerConnectionModel* Model() const { return model_; }
    // Shows the bound model's values again; raises no notification.
    void Refresh();

    // The DTS server's control needs no database: hides the database row.
    void SetDatabaseVisible(bool visible);
    bool DatabaseVisible() const;

    // ---- The six properties. Setting one from the program raises no notification.
    QString ServerName() const;
    void SetServerName(const QString& name);
    QString DatabaseName() const;
    void SetDatabaseName(const QString& name);
    bool TrustedLogin() const;
    void SetTrustedLogin(bool trusted);
    QString UserName() const;
    void SetUserName(const QString& name);
    QString Password() const;
    void SetPassword(const QString& password);
    int Status() const;

    // The servers offered in the server list: "(local)" and then the server aliases of the
    // settings store in the order they were defined (each name once, any letter case).
    static QStringList KnownServers();
    // Reads the known servers into the server list again; the server text stays as it is.
    void RefreshServerList();

    // Lists the databases of the server into the database list (the typed database stays
    // selected when the server has it). False, with `errorText` saying why ("Error while
    // connecting to : <server>" and the server's errors) and Status 1, when the server cannot be
    // reached or listed; Status 3 on success.
    bool ListDatabases(QString* error = nullptr);

    // The child controls, for the window's keyboard order and for tests.
    QComboBox* ServerBox() const;
    QCheckBox* TrustedBox() const { return trustedLoginBox_; }
    QLineEdit* UserBox() const { return userBox_; }
    QLineEdit* PasswordBox() const { return passwordBox_; }
    QComboBox* DatabaseBox() const;
    QPushButton* TestButton() const { return testButton_; }

  Q_SIGNALS:
    // The operator changed the server, the login, the user, the password or the database.
    void SettingsChanged();
    // The operator asked to try the connection.
    void TestConnection();

  private:
    void OperatorEdited();
    void UpdateLoginEnabled();
    void DatabaseListOpening();
    void ApplyToModel();

    ServerConnectionModel* model_ = nullptr;
    ServerConnectionModel own_;  // used while no model is bound
    bool updating_ = false;

    QLabel* serverLabel_ = nullptr;
    OpeningComboBox* serverBox_ = nullptr;
    QCheckBox* trustedLoginBox_ = nullptr;
    QLabel* userLabel_ = nullptr;
    QLineEdit* userBox_ = nullptr;
    QLabel* passwordLabel_ = nullptr;
    QLineEdit* passwordBox_ = nullptr;
    QLabel* databaseLabel_ = nullptr;
    OpeningComboBox* databaseBox_ = nullptr;
    QPushButton* testButton_ = nullptr;
};
