#include "gui/DataLinkPanels.h"

#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <memory>

#include "app/DataLinkPanelRules.h"
#include "datasources/DataLink.h"
#include "datasources/DatabaseLists.h"
#include "datasources/WarehouseConnection.h"
#include "db/DbInterface.h"
#include "gui/ComboChoiceList.h"
#include "gui/InputBoxes.h"
#include "gui/OpeningComboBox.h"
#include "util/RunLog.h"

namespace {

template <typename T>
T* named(T* widget, const QString& name) {
    widget->setObjectName(name);
    return widget;
}

// "Text (*.x)|*.x|All (*.*)|*.*" as a Qt filter: the descriptions name their patterns already.
QString qtFilter(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        out << (parts.at(i).contains(parts.at(i + 1))
                    ? parts.at(i)
                    : parts.at(i) + QStringLiteral(" (") + parts.at(i + 1) + QLatin1Char(')'));
    return out.join(QStringLiteral(";;"));
}

QString defaultChooseFile(QWidget* owner, const QString& title, const QString& directory,
                          const QString& filter) {
    QFileDialog dialog(owner, title, directory, qtFilter(filter));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::ReadOnly);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
}

}  // namespace

// ---- DataLinkPanel --------------------------------------------------------------------------

DataLinkPanel::FileChooser DataLinkPanel::chooseFile = defaultChooseFile;

DataLinkPanel::DataLinkPanel(MainFormModel::DataLinkPanel kind, const QString& name,
                             QWidget* parent)
    : QFrame(parent), kind_(kind) {
    setObjectName(name);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, p.color(QPalette::Button));
    setPalette(p);
    setFrameShape(QFrame::StyledPanel);
    auto* v = new QVBoxLayout(this);
    grid_ = new QGridLayout;
    v->addLayout(grid_);
    v->addStretch(1);
    setVisible(false);
}

void DataLinkPanel::SetDataSource(DataLink* source) {
    source_ = source;
    if (!source_ || kind_ == MainFormModel::DataLinkPanel::UDL)
        return;
    ClearFieldsForPanel(kind_, *source_);
    FillFields();
}

void DataLinkPanel::EnableControl(QWidget* control, bool colour) {
    SetControlEnabled(control, true, colour);
}

void DataLinkPanel::DisableControl(QWidget* control, bool colour) {
    SetControlEnabled(control, false, colour);
}

QLabel* DataLinkPanel::AddDescription(const QString& name, const QString& text) {
    auto* label = named(new QLabel(text, this), name);
    label->setWordWrap(true);
    grid_->addWidget(label, row_++, 0, 1, 3);
    return label;
}

QLineEdit* DataLinkPanel::AddTextBox(const QString& name, const QString& labelName,
                                     const QString& caption, QString DataLink::*field,
                                     bool password) {
    auto* label = named(new QLabel(caption, this), labelName);
    auto* box = named(new QLineEdit(this), name);
    if (password)
        MakePasswordBox(box);
    label->setBuddy(box);
    grid_->addWidget(label, row_, 0);
    grid_->addWidget(box, row_, 1);
    ++row_;
    connect(box, &QLineEdit::textChanged, this, [this, field](const QString& text) {
        if (source_)
            source_->*field = text;
    });
    return box;
}

QPushButton* DataLinkPanel::AddBrowseButton(const QString& name, QLineEdit* box) {
    auto* button = named(new QPushButton(QStringLiteral("..."), this), name);
    button->setFixedWidth(button->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 16);
    grid_->addWidget(button, row_ - 1, 2);
    (void)box;
    return button;
}

void DataLinkPanel::BrowseFile(QLineEdit* box, const QString& title, const QString& filter) {
    QString directory;
    if (!box->text().isEmpty()) {
        directory = QFileInfo(QDir::fromNativeSeparators(box->text())).path();
        if (!directory.endsWith(QLatin1Char('/')))
            directory += QLatin1Char('/');
    }
    const QString path = chooseFile(window(), title, directory, filter);
    if (!path.isEmpty())
        box->setText(path);
}

void DataLinkPanel::SetBox(QLineEdit* box, const QString& text) {
    // A text box reacts only when its text changes; the field gets the value either way.
    box->setText(text);
    Q_EMIT box->textChanged(text);
}

// ---- SQL Server ---------------------------------------------------------------------------

std::function<QString(const QString&, QWidget*)> SqlServerPanel::browseForComputer =
    [](const QString& title, QWidget* owner) {
        ServerBrowseDialog dialog(title, owner);
        return dialog.exec() == QDialog::Accepted ? dialog.ServerName() : QString();
    };

SqlServerPanel::SqlServerPanel(QWidget* parent)
    : DataLinkPanel(MainFormModel::DataLinkPanel::SQLServer, QStringLiteral("ctDLSQLServerOBJ"),
                    parent) {
    AddDescription(QStringLiteral("lblSQLServerText"),
                   QStringLiteral("Specify the SQL Server server, database, how to login to this "
                                  "SQL Server data source and if needed the username and "
                                  "password of the SQL user."));
    txtSQLServer = AddTextBox(QStringLiteral("txtSQLServer"), QStringLiteral("lblSQLServer"),
                              QStringLiteral("&Server:"), &DataLink::strDSServer);
    txtSQLServer->installEventFilter(this);
    cmdBrowseSQLServer = AddBrowseButton(QStringLiteral("cmdBrowseSQLServer"), txtSQLServer);

    optSQLSecureLogin = named(new QRadioButton(QStringLiteral("Use &Windows authentication"), this),
                              QStringLiteral("optSQLSecureLogin"));
    optSQLUserLogin =
        named(new QRadioButton(QStringLiteral("Use S&QL Server authentication"), this),
              QStringLiteral("optSQLUserLogin"));
    grid_->addWidget(optSQLSecureLogin, row_++, 0, 1, 3);
    grid_->addWidget(optSQLUserLogin, row_++, 0, 1, 3);

    txtSQLUser = AddTextBox(QStringLiteral("txtSQLUser"), QStringLiteral("lblSQLUser"),
                            QStringLiteral("&User name:"), &DataLink::strDSUser);
    lblSQLUser = findChild<QLabel*>(QStringLiteral("lblSQLUser"));
    txtSQLPassword = AddTextBox(QStringLiteral("txtSQLPassword"), QStringLiteral("lblSQLPassword"),
                                QStringLiteral("&Password:"), &DataLink::strDSPassword, true);
    lblSQLPassword = findChild<QLabel*>(QStringLiteral("lblSQLPassword"));

    auto* databases = named(new OpeningComboBox(this), QStringLiteral("cmbSQLDatabases"));
    databases->setEditable(true);
    databases->opening = [this] { FillDatabaseList(); };
    cmbSQLDatabases = databases;
    auto* lblDatabase =
        named(new QLabel(QStringLiteral("&Database:"), this), QStringLiteral("lblSQLDatabase"));
    lblDatabase->setBuddy(cmbSQLDatabases);
    grid_->addWidget(lblDatabase, row_, 0);
    grid_->addWidget(cmbSQLDatabases, row_++, 1);

    connect(cmdBrowseSQLServer, &QPushButton::clicked, this, [this] { BrowseServer(); });
    connect(optSQLSecureLogin, &QRadioButton::clicked, this, [this] { LoginChosen(true); });
    connect(optSQLUserLogin, &QRadioButton::clicked, this, [this] { LoginChosen(false); });
    connect(cmbSQLDatabases, &QComboBox::currentTextChanged, this, [this](const QString& text) {
        if (source_)
            source_->strDSDatabase = text;
    });
}

bool SqlServerPanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == txtSQLServer && event->type() == QEvent::MouseButtonDblClick) {
        BrowseServer();
        return true;
    }
    return DataLinkPanel::eventFilter(watched, event);
}

void SqlServerPanel::LoginChosen(bool trusted) {
    if (source_)
        source_->blnDSTrustedLogin = trusted;
    if (trusted) {
        DisableControl(lblSQLUser, false);
        DisableControl(lblSQLPassword, false);
        DisableControl(txtSQLUser, true);
        DisableControl(txtSQLPassword, true);
    } else {
        EnableControl(lblSQLUser, false);
        EnableControl(lblSQLPassword, false);
        EnableControl(txtSQLUser, true);
        EnableControl(txtSQLPassword, true);
    }
}

void SqlServerPanel::FillFields() {
    if (!source_)
        return;
    const DataLink s = *source_;
    SetBox(txtSQLServer, s.strDSServer);
    if (s.blnDSTrustedLogin)
        optSQLSecureLogin->setChecked(true);
    else
        optSQLUserLogin->setChecked(true);
    LoginChosen(s.blnDSTrustedLogin);
    SetBox(txtSQLUser, s.strDSUser);
    SetBox(txtSQLPassword, s.strDSPassword);
    cmbSQLDatabases->setEditText(s.strDSDatabase);
    source_->strDSDatabase = s.strDSDatabase;
}

QList<QWidget*> SqlServerPanel::KeyboardOrder() const {
    return {txtSQLServer, cmdBrowseSQLServer, optSQLSecureLogin, optSQLUserLogin,
            txtSQLUser,   txtSQLPassword,     cmbSQLDatabases};
}

void SqlServerPanel::BrowseServer() {
    const QString name =
        browseForComputer(QStringLiteral("Select your DataSource SQLServer."), window());
    if (!name.isEmpty())
        txtSQLServer->setText(name);
}

void SqlServerPanel::FillDatabaseList() {
    setCursor(Qt::WaitCursor);
    std::unique_ptr<DbConnection> connection;
    QString errorText;
    if (OpenDataSourceConnection(1, txtSQLServer->text(), optSQLSecureLogin->isChecked(),
                                 txtSQLUser->text(), txtSQLPassword->text(), connection, QString(),
                                 20, &errorText)) {
        const QString typed = cmbSQLDatabases->currentText();
        ComboChoiceList list(*cmbSQLDatabases);
        FillSQLDatabaseList(*connection, list);
        if (cmbSQLDatabases->currentIndex() < 0)
            cmbSQLDatabases->setEditText(typed);
        connection->Close();
    } else {
        LogMessage(QStringLiteral("Error while connecting to : ") + txtSQLServer->text() +
                       QStringLiteral("\r\n") + errorText,
                   true, 16, QStringLiteral("Connect to SQL Server"));
    }
    unsetCursor();
}

// ---- Access, Excel ------------------------------------------------------------------------

AccessFilesPanel::AccessFilesPanel(QWidget* parent)
    : DataLinkPanel(MainFormModel::DataLinkPanel::Access, QStringLiteral("ctlDLAccesFilesOBJ"),
                    parent) {
    AddDescription(QStringLiteral("lblAccessFileText"),
                   QStringLiteral("Specify an Access file that you want to use as a data source. "
                                  "This data source then allows you retrieve data from an Access "
                                  "database."));
    txtAccessFile = AddTextBox(QStringLiteral("txtAccessFile"), QStringLiteral("lblAccessFile"),
                               QStringLiteral("&Access file:"), &DataLink::strDSFile);
    cmdBrowseAccessFile = AddBrowseButton(QStringLiteral("cmdBrowseAccessFile"), txtAccessFile);
    txtAccessUser = AddTextBox(QStringLiteral("txtAccessUser"), QStringLiteral("lblAccessUser"),
                               QStringLiteral("&User:"), &DataLink::strDSUser);
    txtAccessPassword =
        AddTextBox(QStringLiteral("txtAccessPassword"), QStringLiteral("lblAccessPassword"),
                   QStringLiteral("&Password:"), &DataLink::strDSPassword, true);
    connect(cmdBrowseAccessFile, &QPushButton::clicked, this, [this] {
        BrowseFile(txtAccessFile, QStringLiteral("Browse for Access File"),
                   QStringLiteral("Microsoft Access Files (*.mdb)|*.mdb|All Files (*.*)|*.*"));
    });
}

void AccessFilesPanel::FillFields() {
    const DataLink s = *source_;
    SetBox(txtAccessFile, s.strDSFile);
    SetBox(txtAccessUser, s.strDSUser);
    SetBox(txtAccessPassword, s.strDSPassword);
}

QList<QWidget*> AccessFilesPanel::KeyboardOrder() const {
    return {txtAccessFile, cmdBrowseAccessFile, txtAccessUser, txtAccessPassword};
}

ExcelFilesPanel::ExcelFilesPanel(QWidget* parent)
    : DataLinkPanel(MainFormModel::DataLinkPanel::Excel, QStringLiteral("ctlDLExcelFilesOBJ"),
                    parent) {
    AddDescription(QStringLiteral("lblExcelFileText"),
                   QStringLiteral("Specify an Excel file that you want to use as a data source. "
                                  "This data source then allows you retrieve data from Excel."));
    txtExcelFile = AddTextBox(QStringLiteral("txtExcelFile"), QStringLiteral("lblExcelFile"),
                              QStringLiteral("&Excel file:"), &DataLink::strDSFile);
    cmdBrowseExcelFile = AddBrowseButton(QStringLiteral("cmdBrowseExcelFile"), txtExcelFile);
    txtExcelUser = AddTextBox(QStringLiteral("txtExcelUser"), QStringLiteral("lblExcelUser"),
                              QStringLiteral("&User:"), &DataLink::strDSUser);
    txtExcelPassword =
        AddTextBox(QStringLiteral("txtExcelPassword"), QStringLiteral("lblExcelPassword"),
                   QStringLiteral("&Password:"), &DataLink::strDSPassword, true);
    connect(cmdBrowseExcelFile, &QPushButton::clicked, this, [this] {
        BrowseFile(txtExcelFile, QStringLiteral("Browse for Excel File"),
                   QStringLiteral("Microsoft Excel Files (*.xls)|*.xls|All Files (*.*)|*.*"));
    });
}

void ExcelFilesPanel::FillFields() {
    const DataLink s = *source_;
    SetBox(txtExcelFile, s.strDSFile);
    SetBox(txtExcelUser, s.strDSUser);
    SetBox(txtExcelPassword, s.strDSPassword);
}

QList<QWidget*> ExcelFilesPanel::KeyboardOrder() const {
    return {txtExcelFile, cmdBrowseExcelFile, txtExcelUser, txtExcelPassword};
}

// ---- Oracle -------------------------------------------------------------------------------

OraclePanel::OraclePanel(QWidget* parent)
    : DataLinkPanel(MainFormModel::DataLinkPanel::Oracle, QStringLiteral("ctlDLOrcaleServerOBJ"),
                    parent) {
    AddDescription(QStringLiteral("lblOracleText"),
                   QStringLiteral("Specify an Oracle Server that you want to use as a data "
                                  "source. The Oracle Server must have been defined with Oracle "
                                  "SQL Net Easy Configuration / Net Configuration Assistant. "));
    txtOracleServer =
        AddTextBox(QStringLiteral("txtOracleServer"), QStringLiteral("lblOracleServer"),
                   QStringLiteral("O&racle server:"), &DataLink::strDSServer);
    txtOracleUser = AddTextBox(QStringLiteral("txtOracleUser"), QStringLiteral("lblOracleUser"),
                               QStringLiteral("&User:"), &DataLink::strDSUser);
    txtOraclePassword =
        AddTextBox(QStringLiteral("txtOraclePassword"), QStringLiteral("lblOraclePassword"),
                   QStringLiteral("&Password:"), &DataLink::strDSPassword, true);
    cmbORADatabases = named(new QComboBox(this), QStringLiteral("cmbORADatabases"));
    cmbORADatabases->setEditable(true);
    auto* lblSchema =
        named(new QLabel(QStringLiteral("&Schema:"), this), QStringLiteral("lblSQLDatabase"));
    lblSchema->setBuddy(cmbORADatabases);
    grid_->addWidget(lblSchema, row_, 0);
    grid_->addWidget(cmbORADatabases, row_++, 1);
    cmbORADatabases->setEnabled(false);
    connect(cmbORADatabases, &QComboBox::currentTextChanged, this, [this](const QString& text) {
        if (source_)
            source_->strDSDatabase = text;
    });
}

void OraclePanel::FillFields() {
    const DataLink s = *source_;
    SetBox(txtOracleServer, s.strDSServer);
    SetBox(txtOracleUser, s.strDSUser);
    SetBox(txtOraclePassword, s.strDSPassword);
    cmbORADatabases->setEditText(s.strDSDatabase);
    source_->strDSDatabase = s.strDSDatabase;
}

QList<QWidget*> OraclePanel::KeyboardOrder() const {
    return {txtOracleServer, txtOracleUser, txtOraclePassword, cmbORADatabases};
}

// ---- Connection text (universal data link) ------------------------------------------------

std::function<std::optional<QString>(const QString&, QWidget*)> UdlPanel::editConnectText =
    [](const QString& text, QWidget* owner) -> std::optional<QString> {
    ConnectTextDialog dialog(text, owner);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.ConnectText();
};

UdlPanel::UdlPanel(QWidget* parent)
    : DataLinkPanel(MainFormModel::DataLinkPanel::UDL, QStringLiteral("ctlDLUDLOBJ"), parent) {
    AddDescription(QStringLiteral("lblUDLText"),
                   QStringLiteral("Specify the Universal Data Link properties that you want to "
                                  "use as a data source. This data source then allows you "
                                  "retrieve data via this UDL."));
    cmdLoadUDLFile = named(new QPushButton(QStringLiteral("Load &UDL file ..."), this),
                           QStringLiteral("cmdLoadUDLFile"));
    cmdUDLProperties = named(new QPushButton(QStringLiteral("UDL &properties"), this),
                             QStringLiteral("cmdUDLProperties"));
    grid_->addWidget(cmdLoadUDLFile, row_, 0);
    grid_->addWidget(cmdUDLProperties, row_++, 1, Qt::AlignLeft);
    AddDescription(QStringLiteral("lblUDLInfo"),
                   QStringLiteral("When user and password are used to connect to the data "
                                  "source, be sure to check the field 'Allow saving password'."));
    connect(cmdLoadUDLFile, &QPushButton::clicked, this, [this] {
        const QString path = chooseFile(
            window(), QStringLiteral("Select Data Link File"), QString(),
            QStringLiteral("Universal Data Link File (*.udl)|*.udl|All Files (*.*)|*.*"));
        if (!path.isEmpty())
            LoadUDLFile(path);
    });
    connect(cmdUDLProperties, &QPushButton::clicked, this, [this] { EditProperties(); });
}

QList<QWidget*> UdlPanel::KeyboardOrder() const {
    return {cmdLoadUDLFile, cmdUDLProperties};
}

void UdlPanel::LoadUDLFile(const QString& path) {
    if (!source_)
        return;
    QString text;
    if (ReadDataLinkFile(QDir::fromNativeSeparators(path), text)) {
        source_->strDSConnectString = text;
        return;
    }
    source_->strDSConnectString.clear();
    LogMessage(InvalidConnectInfoText(), true, 48, QString::fromLatin1(InvalidConnectInfoTitle));
}

void UdlPanel::EditProperties() {
    if (!source_)
        return;
    const std::optional<QString> edited = editConnectText(source_->strDSConnectString, window());
    if (edited)
        source_->strDSConnectString = *edited;
    source_->strDSConnectString = AddProviderVersion(source_->strDSConnectString);
}

// ---- XML ----------------------------------------------------------------------------------

XmlFilesPanel::XmlFilesPanel(QWidget* parent)
    : DataLinkPanel(MainFormModel::DataLinkPanel::XMLFiles, QStringLiteral("ctlDLXMLFilesOBJ"),
                    parent) {
    AddDescription(QStringLiteral("lblExcelFileText"),
                   QStringLiteral("Specify a XML data file that you want to use as a data source. "
                                  "Specify a XML schema file with the schema data beloging to the "
                                  "data file."));
    txtXMLFile = AddTextBox(QStringLiteral("txtXMLFile"), QStringLiteral("lbXMLFile"),
                            QStringLiteral("XML &data file:"), &DataLink::strDSFile);
    cmdBrowseXMLFile = AddBrowseButton(QStringLiteral("cmdBrowseXMLFile"), txtXMLFile);
    txtXMLMetaDataFile =
        AddTextBox(QStringLiteral("txtXMLMetaDataFile"), QStringLiteral("lblXMLMetaDataFile"),
                   QStringLiteral("X&ML schema file:"), &DataLink::strDSDirectory);
    cmdBrowseXMLMetaDataFile =
        AddBrowseButton(QStringLiteral("cmdBrowseXMLMetaDataFile"), txtXMLMetaDataFile);
    connect(cmdBrowseXMLFile, &QPushButton::clicked, this, [this] {
        BrowseFile(txtXMLFile, QStringLiteral("Browse for XML Data File"),
                   QStringLiteral("XML Files (*.xml)|*.xml"));
    });
    connect(cmdBrowseXMLMetaDataFile, &QPushButton::clicked, this, [this] {
        BrowseFile(txtXMLMetaDataFile, QStringLiteral("Browse for XML Schema File"),
                   QStringLiteral("XML Files (*.xml)|*.xml"));
    });
}

void XmlFilesPanel::FillFields() {
    const DataLink s = *source_;
    SetBox(txtXMLFile, s.strDSFile);
    SetBox(txtXMLMetaDataFile, s.strDSDirectory);
}

QList<QWidget*> XmlFilesPanel::KeyboardOrder() const {
    return {txtXMLFile, cmdBrowseXMLFile, txtXMLMetaDataFile, cmdBrowseXMLMetaDataFile};
}

DataLinkPanel* CreateDataLinkPanel(const QString& name, QWidget* parent) {
    if (name == QStringLiteral("ctDLSQLServerOBJ"))
        return new SqlServerPanel(parent);
    if (name == QStringLiteral("ctlDLExcelFilesOBJ"))
        return new ExcelFilesPanel(parent);
    if (name == QStringLiteral("ctlDLAccesFilesOBJ"))
        return new AccessFilesPanel(parent);
    if (name == QStringLiteral("ctlDLOrcaleServerOBJ"))
        return new OraclePanel(parent);
    if (name == QStringLiteral("ctlDLUDLOBJ"))
        return new UdlPanel(parent);
    if (name == QStringLiteral("ctlDLXMLFilesOBJ"))
        return new XmlFilesPanel(parent);
    return nullptr;
}
