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
    ShowControlEnabled(control, true, colour);
}

void DataLinkPanel::DisableControl(QWidget* control, bool colour) {
    ShowControlEnabled(control, false, colour);
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
    : DataLinkPanel(MainFormModel::DataLinkPanel::SQLServer, QStringLiteral("sqlServerPanel"),
                    parent) {
    AddDescription(QStringLiteral("sqlServerIntro"),
                   QStringLiteral("Specify the SQL Server server, database, how to login to this "
                                  "SQL Server data source and if needed the username and "
                                  "password of the SQL user."));
    sqlServerBox = AddTextBox(QStringLiteral("sqlServerBox"), QStringLiteral("sqlServerLabel"),
                              QStringLiteral("&Server:"), &DataLink::server);
    sqlServerBox->installEventFilter(this);
    browseSqlServerButton = AddBrowseButton(QStringLiteral("browseSqlServerButton"), sqlServerBox);

    sqlTrustedLoginOption =
        named(new QRadioButton(QStringLiteral("Use &Windows authentication"), this),
              QStringLiteral("sqlTrustedLoginOption"));
    sqlUserLoginOption =
        named(new QRadioButton(QStringLiteral("Use S&QL Server authentication"), this),
              QStringLiteral("sqlUserLoginOption"));
    grid_->addWidget(sqlTrustedLoginOption, row_++, 0, 1, 3);
    grid_->addWidget(sqlUserLoginOption, row_++, 0, 1, 3);

    sqlUserBox = AddTextBox(QStringLiteral("sqlUserBox"), QStringLiteral("sqlUserLabel"),
                            QStringLiteral("&User name:"), &DataLink::user);
    sqlUserLabel = findChild<QLabel*>(QStringLiteral("sqlUserLabel"));
    sqlPasswordBox =
        AddTextBox(QStringLiteral("sqlPasswordBox"), QStringLiteral("sqlPasswordLabel"),
                   QStringLiteral("&Password:"), &DataLink::password, true);
    sqlPasswordLabel = findChild<QLabel*>(QStringLiteral("sqlPasswordLabel"));

    auto* databases = named(new OpeningComboBox(this), QStringLiteral("sqlDatabaseBox"));
    databases->setEditable(true);
    databases->opening = [this] { FillDatabaseList(); };
    sqlDatabaseBox = databases;
    auto* databaseLabel =
        named(new QLabel(QStringLiteral("&Database:"), this), QStringLiteral("databaseLabel"));
    databaseLabel->setBuddy(sqlDatabaseBox);
    grid_->addWidget(databaseLabel, row_, 0);
    grid_->addWidget(sqlDatabaseBox, row_++, 1);

    connect(browseSqlServerButton, &QPushButton::clicked, this, [this] { BrowseServer(); });
    connect(sqlTrustedLoginOption, &QRadioButton::clicked, this, [this] { LoginChosen(true); });
    connect(sqlUserLoginOption, &QRadioButton::clicked, this, [this] { LoginChosen(false); });
    connect(sqlDatabaseBox, &QComboBox::currentTextChanged, this, [this](const QString& text) {
        if (source_)
            source_->database = text;
    });
}

bool SqlServerPanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == sqlServerBox && event->type() == QEvent::MouseButtonDblClick) {
        BrowseServer();
        return true;
    }
    return DataLinkPanel::eventFilter(watched, event);
}

void SqlServerPanel::LoginChosen(bool trusted) {
    if (source_)
        source_->trustedLogin = trusted;
    if (trusted) {
        DisableControl(sqlUserLabel, false);
        DisableControl(sqlPasswordLabel, false);
        DisableControl(sqlUserBox, true);
        DisableControl(sqlPasswordBox, true);
    } else {
        EnableControl(sqlUserLabel, false);
        EnableControl(sqlPasswordLabel, false);
        EnableControl(sqlUserBox, true);
        EnableControl(sqlPasswordBox, true);
    }
}

void SqlServerPanel::FillFields() {
    if (!source_)
        return;
    const DataLink s = *source_;
    SetBox(sqlServerBox, s.server);
    if (s.trustedLogin)
        sqlTrustedLoginOption->setChecked(true);
    else
        sqlUserLoginOption->setChecked(true);
    LoginChosen(s.trustedLogin);
    SetBox(sqlUserBox, s.user);
    SetBox(sqlPasswordBox, s.password);
    sqlDatabaseBox->setEditText(s.database);
    source_->database = s.database;
}

QList<QWidget*> SqlServerPanel::KeyboardOrder() const {
    return {sqlServerBox, browseSqlServerButton, sqlTrustedLoginOption, sqlUserLoginOption,
            sqlUserBox,   sqlPasswordBox,        sqlDatabaseBox};
}

void SqlServerPanel::BrowseServer() {
    const QString name =
        browseForComputer(QStringLiteral("Select your DataSource SQLServer."), window());
    if (!name.isEmpty())
        sqlServerBox->setText(name);
}

void SqlServerPanel::FillDatabaseList() {
    setCursor(Qt::WaitCursor);
    std::unique_ptr<DbConnection> connection;
    QString errorText;
    if (OpenDataSourceConnection(1, sqlServerBox->text(), sqlTrustedLoginOption->isChecked(),
                                 sqlUserBox->text(), sqlPasswordBox->text(), connection, QString(),
                                 20, &errorText)) {
        const QString typed = sqlDatabaseBox->currentText();
        ComboChoiceList list(*sqlDatabaseBox);
        FillSQLDatabaseList(*connection, list);
        if (sqlDatabaseBox->currentIndex() < 0)
            sqlDatabaseBox->setEditText(typed);
        connection->Close();
    } else {
        PanelRunLog().Message(QStringLiteral("Error while connecting to : ") +
                                  sqlServerBox->text() + QStringLiteral("\r\n") + errorText,
                              true, 16, QStringLiteral("Connect to SQL Server"));
    }
    unsetCursor();
}

// ---- Access, Excel ------------------------------------------------------------------------

AccessFilesPanel::AccessFilesPanel(QWidget* parent)
    : DataLinkPanel(MainFormModel::DataLinkPanel::Access, QStringLiteral("accessFilesPanel"),
                    parent) {
    AddDescription(QStringLiteral("accessIntro"),
                   QStringLiteral("Specify an Access file that you want to use as a data source. "
                                  "This data source then allows you retrieve data from an Access "
                                  "database."));
    accessFileBox = AddTextBox(QStringLiteral("accessFileBox"), QStringLiteral("accessFileLabel"),
                               QStringLiteral("&Access file:"), &DataLink::file);
    browseAccessFileButton =
        AddBrowseButton(QStringLiteral("browseAccessFileButton"), accessFileBox);
    accessUserBox = AddTextBox(QStringLiteral("accessUserBox"), QStringLiteral("accessUserLabel"),
                               QStringLiteral("&User:"), &DataLink::user);
    accessPasswordBox =
        AddTextBox(QStringLiteral("accessPasswordBox"), QStringLiteral("accessPasswordLabel"),
                   QStringLiteral("&Password:"), &DataLink::password, true);
    connect(browseAccessFileButton, &QPushButton::clicked, this, [this] {
        BrowseFile(accessFileBox, QStringLiteral("Browse for Access File"),
                   QStringLiteral("Microsoft Access Files (*.mdb)|*.mdb|All Files (*.*)|*.*"));
    });
}

void AccessFilesPanel::FillFields() {
    const DataLink s = *source_;
    SetBox(accessFileBox, s.file);
    SetBox(accessUserBox, s.user);
    SetBox(accessPasswordBox, s.password);
}

QList<QWidget*> AccessFilesPanel::KeyboardOrder() const {
    return {accessFileBox, browseAccessFileButton, accessUserBox, accessPasswordBox};
}

ExcelFilesPanel::ExcelFilesPanel(QWidget* parent)
    : DataLinkPanel(MainFormModel::DataLinkPanel::Excel, QStringLiteral("excelFilesPanel"),
                    parent) {
    AddDescription(QStringLiteral("fileIntro"),
                   QStringLiteral("Specify an Excel file that you want to use as a data source. "
                                  "This data source then allows you retrieve data from Excel."));
    excelFileBox = AddTextBox(QStringLiteral("excelFileBox"), QStringLiteral("excelFileLabel"),
                              QStringLiteral("&Excel file:"), &DataLink::file);
    browseExcelFileButton = AddBrowseButton(QStringLiteral("browseExcelFileButton"), excelFileBox);
    excelUserBox = AddTextBox(QStringLiteral("excelUserBox"), QStringLiteral("excelUserLabel"),
                              QStringLiteral("&User:"), &DataLink::user);
    excelPasswordBox =
        AddTextBox(QStringLiteral("excelPasswordBox"), QStringLiteral("excelPasswordLabel"),
                   QStringLiteral("&Password:"), &DataLink::password, true);
    connect(browseExcelFileButton, &QPushButton::clicked, this, [this] {
        BrowseFile(excelFileBox, QStringLiteral("Browse for Excel File"),
                   QStringLiteral("Microsoft Excel Files (*.xls)|*.xls|All Files (*.*)|*.*"));
    });
}

void ExcelFilesPanel::FillFields() {
    const DataLink s = *source_;
    SetBox(excelFileBox, s.file);
    SetBox(excelUserBox, s.user);
    SetBox(excelPasswordBox, s.password);
}

QList<QWidget*> ExcelFilesPanel::KeyboardOrder() const {
    return {excelFileBox, browseExcelFileButton, excelUserBox, excelPasswordBox};
}

// ---- Oracle -------------------------------------------------------------------------------

OraclePanel::OraclePanel(QWidget* parent)
    : DataLinkPanel(MainFormModel::DataLinkPanel::Oracle, QStringLiteral("oraclePanel"), parent) {
    AddDescription(QStringLiteral("oracleIntro"),
                   QStringLiteral("Specify an Oracle Server that you want to use as a data "
                                  "source. The Oracle Server must have been defined with Oracle "
                                  "SQL Net Easy Configuration / Net Configuration Assistant. "));
    oracleServerBox =
        AddTextBox(QStringLiteral("oracleServerBox"), QStringLiteral("oracleServerLabel"),
                   QStringLiteral("O&racle server:"), &DataLink::server);
    oracleUserBox = AddTextBox(QStringLiteral("oracleUserBox"), QStringLiteral("oracleUserLabel"),
                               QStringLiteral("&User:"), &DataLink::user);
    oraclePasswordBox =
        AddTextBox(QStringLiteral("oraclePasswordBox"), QStringLiteral("oraclePasswordLabel"),
                   QStringLiteral("&Password:"), &DataLink::password, true);
    oracleDatabaseBox = named(new QComboBox(this), QStringLiteral("oracleDatabaseBox"));
    oracleDatabaseBox->setEditable(true);
    auto* schemaLabel =
        named(new QLabel(QStringLiteral("&Schema:"), this), QStringLiteral("databaseLabel"));
    schemaLabel->setBuddy(oracleDatabaseBox);
    grid_->addWidget(schemaLabel, row_, 0);
    grid_->addWidget(oracleDatabaseBox, row_++, 1);
    oracleDatabaseBox->setEnabled(false);
    connect(oracleDatabaseBox, &QComboBox::currentTextChanged, this, [this](const QString& text) {
        if (source_)
            source_->database = text;
    });
}

void OraclePanel::FillFields() {
    const DataLink s = *source_;
    SetBox(oracleServerBox, s.server);
    SetBox(oracleUserBox, s.user);
    SetBox(oraclePasswordBox, s.password);
    oracleDatabaseBox->setEditText(s.database);
    source_->database = s.database;
}

QList<QWidget*> OraclePanel::KeyboardOrder() const {
    return {oracleServerBox, oracleUserBox, oraclePasswordBox, oracleDatabaseBox};
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
    : DataLinkPanel(MainFormModel::DataLinkPanel::UDL, QStringLiteral("udlPanel"), parent) {
    AddDescription(QStringLiteral("udlIntro"),
                   QStringLiteral("Specify the Universal Data Link properties that you want to "
                                  "use as a data source. This data source then allows you "
                                  "retrieve data via this UDL."));
    loadUdlFileButton = named(new QPushButton(QStringLiteral("Load &UDL file ..."), this),
                              QStringLiteral("loadUdlFileButton"));
    udlPropertiesButton = named(new QPushButton(QStringLiteral("UDL &properties"), this),
                                QStringLiteral("udlPropertiesButton"));
    grid_->addWidget(loadUdlFileButton, row_, 0);
    grid_->addWidget(udlPropertiesButton, row_++, 1, Qt::AlignLeft);
    AddDescription(QStringLiteral("udlInfoLabel"),
                   QStringLiteral("When user and password are used to connect to the data "
                                  "source, be sure to check the field 'Allow saving password'."));
    connect(loadUdlFileButton, &QPushButton::clicked, this, [this] {
        const QString path = chooseFile(
            window(), QStringLiteral("Select Data Link File"), QString(),
            QStringLiteral("Universal Data Link File (*.udl)|*.udl|All Files (*.*)|*.*"));
        if (!path.isEmpty())
            LoadUDLFile(path);
    });
    connect(udlPropertiesButton, &QPushButton::clicked, this, [this] { EditProperties(); });
}

QList<QWidget*> UdlPanel::KeyboardOrder() const {
    return {loadUdlFileButton, udlPropertiesButton};
}

void UdlPanel::LoadUDLFile(const QString& path) {
    if (!source_)
        return;
    QString text;
    if (ReadDataLinkFile(QDir::fromNativeSeparators(path), text)) {
        source_->connectString = text;
        return;
    }
    source_->connectString.clear();
    PanelRunLog().Message(InvalidConnectInfoText(), true, 48,
                          QString::fromLatin1(InvalidConnectInfoTitle));
}

void UdlPanel::EditProperties() {
    if (!source_)
        return;
    const std::optional<QString> edited = editConnectText(source_->connectString, window());
    if (edited)
        source_->connectString = *edited;
    source_->connectString = AddProviderVersion(source_->connectString);
}

// ---- XML ----------------------------------------------------------------------------------

XmlFilesPanel::XmlFilesPanel(QWidget* parent)
    : DataLinkPanel(MainFormModel::DataLinkPanel::XMLFiles, QStringLiteral("xmlFilesPanel"),
                    parent) {
    AddDescription(QStringLiteral("fileIntro"),
                   QStringLiteral("Specify a XML data file that you want to use as a data source. "
                                  "Specify a XML schema file with the schema data beloging to the "
                                  "data file."));
    xmlFileBox = AddTextBox(QStringLiteral("xmlFileBox"), QStringLiteral("xmlFileLabel"),
                            QStringLiteral("XML &data file:"), &DataLink::file);
    browseXmlFileButton = AddBrowseButton(QStringLiteral("browseXmlFileButton"), xmlFileBox);
    xmlSchemaFileBox =
        AddTextBox(QStringLiteral("xmlSchemaFileBox"), QStringLiteral("xmlSchemaFileLabel"),
                   QStringLiteral("X&ML schema file:"), &DataLink::directory);
    browseXmlSchemaFileButton =
        AddBrowseButton(QStringLiteral("browseXmlSchemaFileButton"), xmlSchemaFileBox);
    connect(browseXmlFileButton, &QPushButton::clicked, this, [this] {
        BrowseFile(xmlFileBox, QStringLiteral("Browse for XML Data File"),
                   QStringLiteral("XML Files (*.xml)|*.xml"));
    });
    connect(browseXmlSchemaFileButton, &QPushButton::clicked, this, [this] {
        BrowseFile(xmlSchemaFileBox, QStringLiteral("Browse for XML Schema File"),
                   QStringLiteral("XML Files (*.xml)|*.xml"));
    });
}

void XmlFilesPanel::FillFields() {
    const DataLink s = *source_;
    SetBox(xmlFileBox, s.file);
    SetBox(xmlSchemaFileBox, s.directory);
}

QList<QWidget*> XmlFilesPanel::KeyboardOrder() const {
    return {xmlFileBox, browseXmlFileButton, xmlSchemaFileBox, browseXmlSchemaFileButton};
}

const RunLog& DataLinkPanel::PanelRunLog() const {
    static const RunLog operatorOnly;
    return runLog_ != nullptr ? *runLog_ : operatorOnly;
}

DataLinkPanel* CreateDataLinkPanel(const QString& name, QWidget* parent) {
    if (name == QStringLiteral("sqlServerPanel"))
        return new SqlServerPanel(parent);
    if (name == QStringLiteral("excelFilesPanel"))
        return new ExcelFilesPanel(parent);
    if (name == QStringLiteral("accessFilesPanel"))
        return new AccessFilesPanel(parent);
    if (name == QStringLiteral("oraclePanel"))
        return new OraclePanel(parent);
    if (name == QStringLiteral("udlPanel"))
        return new UdlPanel(parent);
    if (name == QStringLiteral("xmlFilesPanel"))
        return new XmlFilesPanel(parent);
    return nullptr;
}
