#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/DataLinkPanelRules.h"
#include "gui/DataLinkPanels.h"
#include "gui/ServerConnectionWidget.h"

namespace {

template <typename T>
T* named(T* widget, const QString& name) {
    widget->setObjectName(name);
    return widget;
}

}  // namespace

// ---- The server and connection-text dialogs
// ------------------------------------------------------------------------------

ServerBrowseDialog::ServerBrowseDialog(const QString& title, QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("browseForComputerDialog"));
    setWindowTitle(title);
    auto* v = new QVBoxLayout(this);
    auto* label = new QLabel(QStringLiteral("&Computer:"), this);
    serverBox = named(new QComboBox(this), QStringLiteral("serverBox"));
    serverBox->setEditable(true);
    serverBox->addItems(ServerConnectionWidget::KnownServers());
    serverBox->setEditText(QString());
    label->setBuddy(serverBox);
    v->addWidget(label);
    v->addWidget(serverBox);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    v->addWidget(buttons);
}

QString ServerBrowseDialog::ServerName() const {
    // A name is at most 259 characters, as the system's name buffer holds.
    return serverBox->currentText().trimmed().left(259);
}

ConnectTextDialog::ConnectTextDialog(const QString& connectText, QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("dataLinkDialog"));
    setWindowTitle(QStringLiteral("Data Link Properties"));
    auto* v = new QVBoxLayout(this);
    auto* providerLabel = new QLabel(QStringLiteral("P&rovider:"), this);
    providerBox = named(new QComboBox(this), QStringLiteral("providerBox"));
    providerBox->setEditable(true);
    providerBox->addItems({QStringLiteral("SQLOLEDB.1"), QStringLiteral("MSDASQL.1"),
                           QStringLiteral("MSDAORA.1"), QStringLiteral("Microsoft.Jet.OLEDB.4.0"),
                           QStringLiteral("PostgreSQL")});
    providerLabel->setBuddy(providerBox);
    v->addWidget(providerLabel);
    v->addWidget(providerBox);
    tblProperties = named(new QTableWidget(0, 2, this), QStringLiteral("tblProperties"));
    tblProperties->setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("Value")});
    tblProperties->horizontalHeader()->setStretchLastSection(true);
    v->addWidget(tblProperties, 1);
    auto* addRow =
        named(new QPushButton(QStringLiteral("&Add"), this), QStringLiteral("addButton"));
    auto* removeRow =
        named(new QPushButton(QStringLiteral("Re&move"), this), QStringLiteral("removeButton"));
    auto* rowButtons = new QHBoxLayout;
    rowButtons->addWidget(addRow);
    rowButtons->addWidget(removeRow);
    rowButtons->addStretch(1);
    v->addLayout(rowButtons);
    auto* connectTextLabel = new QLabel(QStringLiteral("&Connection text:"), this);
    connectTextBox = named(new QLineEdit(this), QStringLiteral("connectTextBox"));
    connectTextBox->setReadOnly(true);
    connectTextLabel->setBuddy(connectTextBox);
    v->addWidget(connectTextLabel);
    v->addWidget(connectTextBox);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    v->addWidget(buttons);

    updating_ = true;
    for (const auto& [name, value] : SplitConnectText(connectText)) {
        if (name.compare(QStringLiteral("Provider"), Qt::CaseInsensitive) == 0) {
            providerBox->setEditText(value);
            continue;
        }
        const int row = tblProperties->rowCount();
        tblProperties->insertRow(row);
        tblProperties->setItem(row, 0, new QTableWidgetItem(name));
        tblProperties->setItem(row, 1, new QTableWidgetItem(value));
    }
    if (SplitConnectText(connectText).isEmpty())
        providerBox->setEditText(QString());
    updating_ = false;
    ShowText();

    connect(providerBox, &QComboBox::currentTextChanged, this, [this] { ShowText(); });
    connect(tblProperties, &QTableWidget::itemChanged, this, [this] { ShowText(); });
    connect(addRow, &QPushButton::clicked, this, [this] {
        const int row = tblProperties->rowCount();
        tblProperties->insertRow(row);
        tblProperties->setCurrentCell(row, 0);
        tblProperties->editItem(tblProperties->item(row, 0));
    });
    connect(removeRow, &QPushButton::clicked, this, [this] {
        if (tblProperties->currentRow() >= 0)
            tblProperties->removeRow(tblProperties->currentRow());
        ShowText();
    });
}

QString ConnectTextDialog::ConnectText() const {
    QList<QPair<QString, QString>> pairs;
    if (!providerBox->currentText().trimmed().isEmpty())
        pairs.append({QStringLiteral("Provider"), providerBox->currentText().trimmed()});
    for (int row = 0; row < tblProperties->rowCount(); ++row) {
        const QTableWidgetItem* name = tblProperties->item(row, 0);
        const QTableWidgetItem* value = tblProperties->item(row, 1);
        if (name && !name->text().trimmed().isEmpty())
            pairs.append({name->text(), value ? value->text() : QString()});
    }
    return JoinConnectText(pairs);
}

void ConnectTextDialog::ShowText() {
    if (!updating_)
        connectTextBox->setText(ConnectText());
}
