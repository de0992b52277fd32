#include "gui/ServerConnectionWidget.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <functional>
#include <memory>

#include "config/SettingsStore.h"
#include "datasources/DatabaseLists.h"
#include "datasources/WarehouseConnection.h"
#include "db/DbInterface.h"
#include "db/ServerResolver.h"
#include "gui/ComboChoiceList.h"
#include "gui/InputBoxes.h"
#include "util/Errors.h"
#include "gui/OpeningComboBox.h"
#include "util/OperatorInterface.h"

ServerConnectionWidget::ServerConnectionWidget(QWidget* parent) : QWidget(parent), model_(&own_) {
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);

    lblServer_ = new QLabel(tr("&Server:"), this);
    cmbServer_ = new OpeningComboBox(this);
    cmbServer_->setObjectName(QStringLiteral("cmbServer"));
    cmbServer_->setEditable(true);
    cmbServer_->setInsertPolicy(QComboBox::NoInsert);
    cmbServer_->setMinimumContentsLength(20);
    cmbServer_->opening = [this] { RefreshServerList(); };
    lblServer_->setBuddy(cmbServer_);

    cbTrusted_ = new QCheckBox(tr("Tr&usted login (this account)"), this);
    cbTrusted_->setObjectName(QStringLiteral("cbTrusted"));

    lblUser_ = new QLabel(tr("User &name:"), this);
    txtUser_ = new QLineEdit(this);
    txtUser_->setObjectName(QStringLiteral("txtUser"));
    lblUser_->setBuddy(txtUser_);

    lblPassword_ = new QLabel(tr("Pass&word:"), this);
    txtPassword_ = new QLineEdit(this);
    txtPassword_->setObjectName(QStringLiteral("txtPassword"));
    MakePasswordBox(txtPassword_);
    lblPassword_->setBuddy(txtPassword_);

    lblDatabase_ = new QLabel(tr("&Database:"), this);
    cmbDatabase_ = new OpeningComboBox(this);
    cmbDatabase_->setObjectName(QStringLiteral("cmbDatabase"));
    cmbDatabase_->setEditable(true);
    cmbDatabase_->setInsertPolicy(QComboBox::NoInsert);
    cmbDatabase_->opening = [this] { DatabaseListOpening(); };
    lblDatabase_->setBuddy(cmbDatabase_);

    cmdTest_ = new QPushButton(tr("Test connect&ion"), this);
    cmdTest_->setObjectName(QStringLiteral("cmdTest"));

    grid->addWidget(lblServer_, 0, 0);
    grid->addWidget(cmbServer_, 0, 1);
    grid->addWidget(cmdTest_, 0, 2);
    grid->addWidget(cbTrusted_, 1, 1, 1, 2);
    grid->addWidget(lblUser_, 2, 0);
    grid->addWidget(txtUser_, 2, 1);
    grid->addWidget(lblPassword_, 3, 0);
    grid->addWidget(txtPassword_, 3, 1);
    grid->addWidget(lblDatabase_, 4, 0);
    grid->addWidget(cmbDatabase_, 4, 1);
    grid->setColumnStretch(1, 1);

    // Keyboard order inside the control follows the rows; focus given to the control goes to the
    // server box.
    setTabOrder(cmbServer_, cmdTest_);
    setTabOrder(cmdTest_, cbTrusted_);
    setTabOrder(cbTrusted_, txtUser_);
    setTabOrder(txtUser_, txtPassword_);
    setTabOrder(txtPassword_, cmbDatabase_);
    setFocusProxy(cmbServer_);
    setFocusPolicy(Qt::StrongFocus);

    RefreshServerList();

    connect(cmbServer_, &QComboBox::currentTextChanged, this, [this] { OperatorEdited(); });
    connect(cmbDatabase_, &QComboBox::currentTextChanged, this, [this] { OperatorEdited(); });
    connect(cbTrusted_, &QCheckBox::toggled, this, [this] {
        UpdateLoginEnabled();
        OperatorEdited();
    });
    connect(txtUser_, &QLineEdit::textChanged, this, [this] { OperatorEdited(); });
    connect(txtPassword_, &QLineEdit::textChanged, this, [this] { OperatorEdited(); });
    connect(cmdTest_, &QPushButton::clicked, this, [this] {
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
    cmbServer_->setEditText(model_->ServerName);
    cbTrusted_->setChecked(model_->TrustedLogin);
    txtUser_->setText(model_->UserName);
    txtPassword_->setText(model_->Password);
    cmbDatabase_->setCurrentIndex(
        FindComboItem(ComboChoiceList(*cmbDatabase_), model_->DatabaseName));
    cmbDatabase_->setEditText(model_->DatabaseName);
    UpdateLoginEnabled();
    updating_ = was;
}

void ServerConnectionWidget::SetDatabaseVisible(bool visible) {
    lblDatabase_->setVisible(visible);
    cmbDatabase_->setVisible(visible);
}

bool ServerConnectionWidget::DatabaseVisible() const {
    return !cmbDatabase_->isHidden();
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
    const QString text = cmbServer_->currentText();
    cmbServer_->clear();
    cmbServer_->addItems(KnownServers());
    cmbServer_->setCurrentIndex(-1);
    cmbServer_->setEditText(text);
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
        ComboChoiceList list(*cmbDatabase_);
        ok = FillSQLDatabaseList(*connection, list);
        if (!ok)
            errors += QStringLiteral("\r\n") + connection->Errors().join(QStringLiteral("\r\n"));
        // The database the model names stays the text of the box even when the server lacks it.
        if (cmbDatabase_->currentIndex() < 0)
            cmbDatabase_->setEditText(model_->DatabaseName);
        updating_ = was;
        connection->Close();
    }
    model_->Status = ok ? ServerConnectionModel::StatusConnected : StatusFailed;
    if (!ok)
        SetError(error, QString::fromLatin1(ConnectErrorPrefix) + model_->ServerName + errors);
    return ok;
}

QComboBox* ServerConnectionWidget::DatabaseBox() const {
    return cmbDatabase_;
}

void ServerConnectionWidget::OperatorEdited() {
    if (updating_)
        return;
    ApplyToModel();
    model_->Status = StatusUnknown;
    Q_EMIT SettingsChanged();
}

void ServerConnectionWidget::UpdateLoginEnabled() {
    const bool byName = !cbTrusted_->isChecked();
    lblUser_->setEnabled(byName);
    txtUser_->setEnabled(byName);
    lblPassword_->setEnabled(byName);
    txtPassword_->setEnabled(byName);
}

void ServerConnectionWidget::DatabaseListOpening() {
    OperatorInterface& op = Operator();
    op.SetMousePointer(OperatorInterface::HourglassPointer);
    QString errorText;
    const bool ok = ListDatabases(&errorText);
    op.SetMousePointer(OperatorInterface::DefaultPointer);
    if (!ok)
        op.ShowMessageBox(errorText, 16, QStringLiteral("Pendrill"));
}

void ServerConnectionWidget::ApplyToModel() {
    model_->ServerName = cmbServer_->currentText();
    model_->TrustedLogin = cbTrusted_->isChecked();
    model_->UserName = txtUser_->text();
    model_->Password = txtPassword_->text();
    model_->DatabaseName = cmbDatabase_->currentText();
}

QComboBox* ServerConnectionWidget::ServerBox() const {
    return cmbServer_;
}
