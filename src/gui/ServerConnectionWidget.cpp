#include "gui/ServerConnectionWidget.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <functional>
#include <memory>

#include "app/MainFormView.h"
#include "config/SettingsStore.h"
#include "datasources/DatabaseLists.h"
#include "datasources/WarehouseConnection.h"
#include "db/DbInterface.h"
#include "db/ServerResolver.h"
#include "gui/BusyPointer.h"
#include "gui/ComboChoiceList.h"
#include "gui/InputBoxes.h"
#include "gui/OpeningComboBox.h"
#include "util/Errors.h"
#include "util/OperatorInterface.h"

ServerConnectionWidget::ServerConnectionWidget(QWidget* parent) : QWidget(parent), model_(&own_) {
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);

    serverLabel_ = new QLabel(tr("&Server:"), this);
    serverBox_ = new OpeningComboBox(this);
    serverBox_->setObjectName(QStringLiteral("serverBox"));
    serverBox_->setEditable(true);
    serverBox_->setInsertPolicy(QComboBox::NoInsert);
    serverBox_->setMinimumContentsLength(20);
    serverBox_->opening = [this] { RefreshServerList(); };
    serverLabel_->setBuddy(serverBox_);

    trustedLoginBox_ = new QCheckBox(tr("Tr&usted login (this account)"), this);
    trustedLoginBox_->setObjectName(QStringLiteral("trustedLoginBox"));

    userLabel_ = new QLabel(tr("User &name:"), this);
    userBox_ = new QLineEdit(this);
    userBox_->setObjectName(QStringLiteral("userBox"));
    userLabel_->setBuddy(userBox_);

    passwordLabel_ = new QLabel(tr("Pass&word:"), this);
    passwordBox_ = new QLineEdit(this);
    passwordBox_->setObjectName(QStringLiteral("passwordBox"));
    MakePasswordBox(passwordBox_);
    passwordLabel_->setBuddy(passwordBox_);

    databaseLabel_ = new QLabel(tr("&Database:"), this);
    databaseBox_ = new OpeningComboBox(this);
    databaseBox_->setObjectName(QStringLiteral("databaseBox"));
    databaseBox_->setEditable(true);
    databaseBox_->setInsertPolicy(QComboBox::NoInsert);
    databaseBox_->opening = [this] { DatabaseListOpening(); };
    databaseLabel_->setBuddy(databaseBox_);

    testButton_ = new QPushButton(tr("Test connect&ion"), this);
    testButton_->setObjectName(QStringLiteral("testButton"));

    grid->addWidget(serverLabel_, 0, 0);
    grid->addWidget(serverBox_, 0, 1);
    grid->addWidget(testButton_, 0, 2);
    grid->addWidget(trustedLoginBox_, 1, 1, 1, 2);
    grid->addWidget(userLabel_, 2, 0);
    grid->addWidget(userBox_, 2, 1);
    grid->addWidget(passwordLabel_, 3, 0);
    grid->addWidget(passwordBox_, 3, 1);
    grid->addWidget(databaseLabel_, 4, 0);
    grid->addWidget(databaseBox_, 4, 1);
    grid->setColumnStretch(1, 1);

    // Keyboard order inside the control follows the rows; focus given to the control goes to the
    // server box.
    setTabOrder(serverBox_, testButton_);
    setTabOrder(testButton_, trustedLoginBox_);
    setTabOrder(trustedLoginBox_, userBox_);
    setTabOrder(userBox_, passwordBox_);
    setTabOrder(passwordBox_, databaseBox_);
    setFocusProxy(serverBox_);
    setFocusPolicy(Qt::StrongFocus);

    RefreshServerList();

    connect(serverBox_, &QComboBox::currentTextChanged, this, [this] { OperatorEdited(); });
    connect(databaseBox_, &QComboBox::currentTextChanged, this, [this] { OperatorEdited(); });
    connect(trustedLoginBox_, &QCheckBox::toggled, this, [this] {
        UpdateLoginEnabled();
        OperatorEdited();
    });
    connect(userBox_, &QLineEdit::textChanged, this, [this] { OperatorEdited(); });
    connect(passwordBox_, &QLineEdit::textChanged, this, [this] { OperatorEdited(); });
    connect(testButton_, &QPushButton::clicked, this, [this] {
        ApplyToModel();
        Q_EMIT TestConnection();
    });

    Refresh();
}

ServerConnectionWidget::~ServerConnectionWidget() = default;

void ServerConnectionWidget::Bind(ServerConnectionModel* model) {
    model_ = model != nullptr ? model : &own_;
    Refresh();
}

void ServerConnectionWidget::Refresh() {
    const bool was = updating_;
    updating_ = true;
    serverBox_->setEditText(model_->ServerName);
    trustedLoginBox_->setChecked(model_->TrustedLogin);
    userBox_->setText(model_->UserName);
    passwordBox_->setText(model_->Password);
    databaseBox_->setCurrentIndex(
        FindComboItem(ComboChoiceList(*databaseBox_), model_->DatabaseName));
    databaseBox_->setEditText(model_->DatabaseName);
    UpdateLoginEnabled();
    updating_ = was;
}

void ServerConnectionWidget::SetDatabaseVisible(bool visible) {
    databaseLabel_->setVisible(visible);
    databaseBox_->setVisible(visible);
}

bool ServerConnectionWidget::DatabaseVisible() const {
    return !databaseBox_->isHidden();
}

QString ServerConnectionWidget::ServerName() const {
    return model_->ServerName;
}

void ServerConnectionWidget::SetServerName(const QString& name) {
    model_->ServerName = name;
    Refresh();
}

QString ServerConnectionWidget::DatabaseName() const {
    return model_->DatabaseName;
}

void ServerConnectionWidget::SetDatabaseName(const QString& name) {
    model_->DatabaseName = name;
    Refresh();
}

bool ServerConnectionWidget::TrustedLogin() const {
    return model_->TrustedLogin;
}

void ServerConnectionWidget::SetTrustedLogin(bool trusted) {
    model_->TrustedLogin = trusted;
    Refresh();
}

QString ServerConnectionWidget::UserName() const {
    return model_->UserName;
}

void ServerConnectionWidget::SetUserName(const QString& name) {
    model_->UserName = name;
    Refresh();
}

QString ServerConnectionWidget::Password() const {
    return model_->Password;
}

void ServerConnectionWidget::SetPassword(const QString& password) {
    model_->Password = password;
    Refresh();
}

int ServerConnectionWidget::Status() const {
    return model_->Status;
}

QStringList ServerConnectionWidget::KnownServers() {
    QStringList servers{QStringLiteral("(local)")};
    for (const QString& name : RegistryValueNames(QString::fromLatin1(ServerAliasKey))) {
        if (name == QStringLiteral("*") || name.trimmed().isEmpty())
            continue;
        if (!servers.contains(name, Qt::CaseInsensitive))
            servers << name;
    }
    return servers;
}

void ServerConnectionWidget::RefreshServerList() {
    const bool was = updating_;
    updating_ = true;
    const QString text = serverBox_->currentText();
    serverBox_->clear();
    serverBox_->addItems(KnownServers());
    serverBox_->setCurrentIndex(-1);
    serverBox_->setEditText(text);
    updating_ = was;
}

bool ServerConnectionWidget::ListDatabases(QString* error) {
    ApplyToModel();
    std::unique_ptr<DbConnection> connection;
    QString errors;
    bool ok =
        OpenDataSourceConnection(1, model_->ServerName, model_->TrustedLogin, model_->UserName,
                                 model_->Password, connection, QString(), 20, &errors);
    if (ok) {
        const bool was = updating_;
        updating_ = true;
        ComboChoiceList list(*databaseBox_);
        ok = FillSQLDatabaseList(*connection, list);
        if (!ok)
            errors += QStringLiteral("\r\n") + connection->Errors().join(QStringLiteral("\r\n"));
        // The database the model names stays the text of the box even when the server lacks it.
        if (databaseBox_->currentIndex() < 0)
            databaseBox_->setEditText(model_->DatabaseName);
        updating_ = was;
        connection->Close();
    }
    model_->Status = ok ? ServerConnectionModel::StatusConnected : StatusFailed;
    if (!ok)
        SetError(error, QString::fromLatin1(ConnectErrorPrefix) + model_->ServerName + errors);
    return ok;
}

QComboBox* ServerConnectionWidget::DatabaseBox() const {
    return databaseBox_;
}

void ServerConnectionWidget::OperatorEdited() {
    if (updating_)
        return;
    ApplyToModel();
    model_->Status = StatusUnknown;
    Q_EMIT SettingsChanged();
}

void ServerConnectionWidget::UpdateLoginEnabled() {
    const bool byName = !trustedLoginBox_->isChecked();
    userLabel_->setEnabled(byName);
    userBox_->setEnabled(byName);
    passwordLabel_->setEnabled(byName);
    passwordBox_->setEnabled(byName);
}

void ServerConnectionWidget::DatabaseListOpening() {
    SetPointerStyle(MainFormView::HourglassPointer);
    QString errorText;
    const bool ok = ListDatabases(&errorText);
    SetPointerStyle(MainFormView::DefaultPointer);
    if (!ok)
        Operator().ShowMessageBox(errorText, 16, QStringLiteral("Pendrill"));
}

void ServerConnectionWidget::ApplyToModel() {
    model_->ServerName = serverBox_->currentText();
    model_->TrustedLogin = trustedLoginBox_->isChecked();
    model_->UserName = userBox_->text();
    model_->Password = passwordBox_->text();
    model_->DatabaseName = databaseBox_->currentText();
}

QComboBox* ServerConnectionWidget::ServerBox() const {
    return serverBox_;
}
