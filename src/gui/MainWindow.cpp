// The main window's widgets: layout, captions, start states, keyboard order and the connections
// of the controls to the form model. The commands are in MainWindowCommands.cpp.

#include "gui/MainWindow.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include "gui/DataLinkPanels.h"
#include "gui/FlatFilePanel.h"
#include "gui/MainWindowPictures.h"
#include "gui/OpeningComboBox.h"
#include "gui/ServerConnectionWidget.h"

namespace {

QLabel* makeLabel(const QString& name, const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    // Only the longest texts wrap: a wrapping label asks its layout for more height than it
    // needs inside the tab control.
    label->setWordWrap(text.size() > 90);
    return label;
}

QLabel* makePicture(const QString& name, MainWindowPicture picture, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setPixmap(PaintMainWindowPicture(picture));
    label->setFixedSize(44, 44);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

// A picture that reacts to the mouse (double-click) and, so that the keyboard reaches it too, to
// Enter and Space when it has the focus.
QLabel* makeActivePicture(const QString& name, MainWindowPicture picture, QWidget* parent) {
    QLabel* label = makePicture(name, picture, parent);
    label->setFocusPolicy(Qt::StrongFocus);
    label->setCursor(Qt::PointingHandCursor);
    label->setFrameShape(QFrame::NoFrame);
    return label;
}

template <class W>
W* named(W* widget, const QString& name) {
    widget->setObjectName(name);
    return widget;
}

// One section of a page: a picture beside a column of rows.
QHBoxLayout* section(QVBoxLayout* page, QWidget* picture) {
    page->addSpacing(4);
    auto* row = new QHBoxLayout;
    row->addWidget(picture, 0, Qt::AlignTop);
    page->addLayout(row);
    return row;
}

}  // namespace

MainWindow::MainWindow(MainFormModel& form, QWidget* parent)
    : QMainWindow(parent), form_(form), chooseFile_(&MainWindow::ShowFileDialog) {
    setObjectName(QStringLiteral("MainFormModel"));
    // The window offers no Maximize.
    setWindowFlags((windowFlags() | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                    Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                    Qt::WindowCloseButtonHint) &
                   ~Qt::WindowMaximizeButtonHint);
    BuildMenus();

    auto* central = new QWidget(this);
    auto* layout = new QHBoxLayout(central);
    fraDataInfo = named(new QFrame(central), QStringLiteral("fraDataInfo"));
    auto* frameLayout = new QVBoxLayout(fraDataInfo);
    frameLayout->setContentsMargins(0, 0, 0, 0);
    tabDataInfo = named(new QTabWidget(fraDataInfo), QStringLiteral("tabDataInfo"));
    tabDataInfo->addTab(BuildPackagePage(), QStringLiteral(" D&TS package info "));
    tabDataInfo->addTab(BuildWarehousePage(), QStringLiteral("Data ware&house info "));
    tabDataInfo->addTab(BuildDataSourcePage(), QStringLiteral(" Data sou&rce info "));
    tabDataInfo->setAcceptDrops(true);
    tabDataInfo->installEventFilter(this);
    frameLayout->addWidget(tabDataInfo);
    layout->addWidget(fraDataInfo, 1);

    auto* buttons = new QVBoxLayout;
    cmdOpen =
        named(new QPushButton(QStringLiteral("&Open..."), central), QStringLiteral("cmdOpen"));
    cmdSave = named(new QPushButton(QStringLiteral("Sa&ve"), central), QStringLiteral("cmdSave"));
    cmdExecute =
        named(new QPushButton(form_.cmdExecuteCaption(), central), QStringLiteral("cmdExecute"));
    cmdClose = named(new QPushButton(form_.cmdCloseCaption(), central), QStringLiteral("cmdClose"));
    for (QPushButton* b : {cmdOpen, cmdSave, cmdExecute, cmdClose}) {
        b->setAutoDefault(false);
        b->setMinimumWidth(96);
        buttons->addWidget(b);
    }
    buttons->addStretch();
    layout->addLayout(buttons);
    setCentralWidget(central);

    sbStatus = named(new QStatusBar(this), QStringLiteral("sbStatus"));
    setStatusBar(sbStatus);

    // Page 2 starts unavailable.
    tabDataInfo->setTabEnabled(MainFormModel::DataSourcePage, false);
    BuildKeyboardOrder();
    ConnectControls();
    resize(760, 600);
    RefreshFromModel();
}

MainWindow::~MainWindow() = default;

void MainWindow::BuildMenus() {
    mnuFile = named(menuBar()->addMenu(QStringLiteral("&File")), QStringLiteral("mnuFile"));
    const auto add = [this](QMenu* menu, const QString& name, const QString& text) {
        QAction* action = menu->addAction(text);
        action->setObjectName(name);
        return action;
    };
    mnuFileNew = add(mnuFile, QStringLiteral("mnuFileNew"), QStringLiteral("New"));
    mnuFile->addSeparator();
    mnuFileOpen = add(mnuFile, QStringLiteral("mnuFileOpen"), QStringLiteral("Open"));
    mnuFileSave = add(mnuFile, QStringLiteral("mnuFileSave"), QStringLiteral("Save"));
    mnuFileSaveAs = add(mnuFile, QStringLiteral("mnuFileSaveAs"), QStringLiteral("Save As..."));
    mnuFile->addSeparator();
    mnuFileExecute = add(mnuFile, QStringLiteral("mnuFileExecute"), QStringLiteral("Execute"));
    mnuFile->addSeparator();
    mnuFileExit = add(mnuFile, QStringLiteral("mnuFileExit"), QStringLiteral("Exit"));
    mnuHelp = named(menuBar()->addMenu(QStringLiteral("&Help")), QStringLiteral("mnuHelp"));
    mnuHelpAbout = add(mnuHelp, QStringLiteral("mnuHelpAbout"), QStringLiteral("About"));
}

QWidget* MainWindow::BuildPackagePage() {
    auto* page = named(new QWidget, QStringLiteral("pageDTSPackageInfo"));
    auto* v = new QVBoxLayout(page);

    auto* intro = new QVBoxLayout;
    intro->addWidget(makeLabel(QStringLiteral("Label24"),
                               QStringLiteral("DTS packages can be loaded from any SQL Server."),
                               page));
    intro->addWidget(makeLabel(QStringLiteral("lblDTSLoadPacFromSQLInfo"),
                               QStringLiteral("Specify the name and how to logon to the server "
                                              "where the DTS packages are stored."),
                               page));
    section(v,
            makePicture(QStringLiteral("imgDTSPackageInfo"), MainWindowPicture::PackageInfo, page))
        ->addLayout(intro);

    packageServerWidget =
        named(new ServerConnectionWidget(page), QStringLiteral("packageServerWidget"));
    packageServerWidget->SetDatabaseVisible(false);
    packageServerWidget->Bind(&form_.packageServerWidget);
    section(v, makePicture(QStringLiteral("imgColorDTSServer"), MainWindowPicture::DTSServer, page))
        ->addWidget(packageServerWidget, 1);

    auto* packageRows = new QGridLayout;
    packageRows->addWidget(
        makeLabel(QStringLiteral("Label8"),
                  QStringLiteral("Specify the model and DTS package below."), page),
        0, 0, 1, 2);
    auto* modelBox = new OpeningComboBox(page);
    cmbETLModel = named(modelBox, QStringLiteral("cmbETLModel"));
    auto* packageBox = new OpeningComboBox(page);
    cmbETLPackage = named(packageBox, QStringLiteral("cmbETLPackage"));
    for (OpeningComboBox* box : {modelBox, packageBox}) {
        box->setEditable(false);  // a choice from the list only
        box->setMinimumContentsLength(24);
        box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        // Closed without a choice: show the model's selection again (after the choice, if any,
        // has reached the model).
        box->closed = [this] {
            QMetaObject::invokeMethod(
                this, [this] { RefreshFromModel(); }, Qt::QueuedConnection);
        };
    }
    modelBox->opening = [this] { Call([this] { form_.OpenModelList(); }); };
    packageBox->opening = [this] { Call([this] { form_.OpenPackageList(); }); };
    QLabel* lblETLModel = makeLabel(QStringLiteral("lblETLModel"), QStringLiteral("&Model:"), page);
    lblETLModel->setBuddy(cmbETLModel);
    QLabel* lblETLPackage =
        makeLabel(QStringLiteral("lblETLPackage"), QStringLiteral("P&ackage:"), page);
    lblETLPackage->setBuddy(cmbETLPackage);
    packageRows->addWidget(lblETLModel, 1, 0);
    packageRows->addWidget(cmbETLModel, 1, 1);
    packageRows->addWidget(lblETLPackage, 2, 0);
    packageRows->addWidget(cmbETLPackage, 2, 1);
    packageRows->setColumnStretch(1, 1);
    section(v, makePicture(QStringLiteral("imgDTSPackage"), MainWindowPicture::Package, page))
        ->addLayout(packageRows, 1);

    auto* logRows = new QGridLayout;
    logRows->addWidget(
        makeLabel(QStringLiteral("Label1"),
                  QStringLiteral("Occuring errors can be written to a log file."), page),
        0, 0, 1, 3);
    logRows->addWidget(makeLabel(QStringLiteral("Label4"),
                                 QStringLiteral("You can specify a log file and indicate to "
                                                "truncate it before execution."),
                                 page),
                       1, 0, 1, 3);
    txtDTSErrorFile = named(new QLineEdit(page), QStringLiteral("txtDTSErrorFile"));
    txtDTSErrorFile->installEventFilter(this);
    QLabel* lblDTSErrorFile =
        makeLabel(QStringLiteral("lblDTSErrorFile"), QStringLiteral("Log &file:"), page);
    lblDTSErrorFile->setBuddy(txtDTSErrorFile);
    cmdDTSErrorFile =
        named(new QPushButton(QStringLiteral("..."), page), QStringLiteral("cmdDTSErrorFile"));
    cmdDTSErrorFile->setFixedWidth(32);
    logRows->addWidget(lblDTSErrorFile, 2, 0);
    logRows->addWidget(txtDTSErrorFile, 2, 1);
    logRows->addWidget(cmdDTSErrorFile, 2, 2);
    cbTruncateErrorFile = named(new QCheckBox(QStringLiteral("Truncate log file"), page),
                                QStringLiteral("cbTruncateErrorFile"));
    cmdShowErrorFile = named(new QPushButton(QStringLiteral("&Get log file"), page),
                             QStringLiteral("cmdShowErrorFile"));
    cmdShowErrorFile->setAutoDefault(false);
    auto* truncateRow = new QHBoxLayout;
    truncateRow->addWidget(cbTruncateErrorFile);
    truncateRow->addStretch();
    truncateRow->addWidget(cmdShowErrorFile);
    logRows->addLayout(truncateRow, 3, 1, 1, 2);
    txtLogFilesDir = named(new QLineEdit(page), QStringLiteral("txtLogFilesDir"));
    txtLogFilesDir->setReadOnly(true);
    logRows->addWidget(
        makeLabel(QStringLiteral("lblUsedLogfileDir"), QStringLiteral("Used log dir: "), page), 4,
        0);
    logRows->addWidget(txtLogFilesDir, 4, 1, 1, 2);
    // Carry the default-directory flag and its browse button; never shown.
    cbDefaultLogFilesDir = named(new QCheckBox(QStringLiteral("Default log file directory"), page),
                                 QStringLiteral("cbDefaultLogFilesDir"));
    cmdLogFilesDir =
        named(new QPushButton(QStringLiteral("..."), page), QStringLiteral("cmdLogFilesDir"));
    cbDefaultLogFilesDir->setVisible(false);
    cmdLogFilesDir->setVisible(false);
    logRows->setColumnStretch(1, 1);
    imgErrorFile =
        makeActivePicture(QStringLiteral("imgErrorFile"), MainWindowPicture::ErrorFile, page);
    imgErrorFile->installEventFilter(this);
    section(v, imgErrorFile)->addLayout(logRows, 1);
    v->addStretch(1);
    return page;
}

QWidget* MainWindow::BuildWarehousePage() {
    auto* page = named(new QWidget, QStringLiteral("pageDataWarehouseInfo"));
    auto* v = new QVBoxLayout(page);

    auto* intro = new QVBoxLayout;
    intro->addWidget(makeLabel(QStringLiteral("Label5"),
                               QStringLiteral("After the data is transformed by DTS it is saved "
                                              "into the data warehouse."),
                               page));
    intro->addWidget(makeLabel(QStringLiteral("Label6"),
                               QStringLiteral("Here you specify on which server the data "
                                              "warehouse database is located."),
                               page));
    intro->addWidget(makeLabel(
        QStringLiteral("Label11"),
        QStringLiteral("Before the data can be transfered to the data warehouse, you must "
                       "specify the server, user name, password and database."),
        page));
    section(v, makePicture(QStringLiteral("imgDWServerDB"), MainWindowPicture::DWServerDB, page))
        ->addLayout(intro, 1);

    warehouseServerWidget =
        named(new ServerConnectionWidget(page), QStringLiteral("warehouseServerWidget"));
    warehouseServerWidget->Bind(&form_.warehouseServerWidget);
    section(v, makePicture(QStringLiteral("imgDWDB"), MainWindowPicture::DWDB, page))
        ->addWidget(warehouseServerWidget, 1);

    auto* eventRows = new QVBoxLayout;
    eventRows->addWidget(makeLabel(QStringLiteral("Label2"),
                                   QStringLiteral("It is possible to let the DTS package write a "
                                                  "completion event to the Windows NT Event Log."),
                                   page));
    eventRows->addWidget(makeLabel(QStringLiteral("Label3"),
                                   QStringLiteral("In this way it is easy to check if packages "
                                                  "run at night failed or executed succesfull."),
                                   page));
    cbWriteWinNTEvent =
        named(new QCheckBox(QStringLiteral("Write completion &event to Windows Event Log"), page),
              QStringLiteral("cbWriteWinNTEvent"));
    eventRows->addWidget(cbWriteWinNTEvent);
    imgEventLog =
        makeActivePicture(QStringLiteral("imgEventLog"), MainWindowPicture::EventLog, page);
    imgEventLog->installEventFilter(this);
    section(v, imgEventLog)->addLayout(eventRows, 1);
    v->addStretch(1);
    return page;
}

QWidget* MainWindow::BuildDataSourcePage() {
    auto* page = named(new QWidget, QStringLiteral("pageDataSourceInfo"));
    auto* v = new QVBoxLayout(page);

    auto* intro = new QVBoxLayout;
    intro->addWidget(makeLabel(QStringLiteral("Label13"),
                               QStringLiteral("Here you specify the settings for each data "
                                              "source of the handled model."),
                               page));
    intro->addWidget(makeLabel(QStringLiteral("Label14"),
                               QStringLiteral("Each model as defined at least one data source. "
                                              "Via such a data source data is read."),
                               page));
    intro->addWidget(makeLabel(QStringLiteral("Label15"),
                               QStringLiteral("Data source names are read from the data source "
                                              "info table in the data warehouse database. You "
                                              "must provide info for all data sources."),
                               page));
    section(v, makePicture(QStringLiteral("Image9"), MainWindowPicture::DataSources, page))
        ->addLayout(intro, 1);

    lstDataLinks = named(new QListWidget(page), QStringLiteral("lstDataLinks"));
    lstDataLinks->setSelectionMode(QAbstractItemView::SingleSelection);
    lstDataLinks->setMaximumHeight(110);
    QLabel* lblDataLinks =
        makeLabel(QStringLiteral("lblDataLinks"), QStringLiteral("Data sources:"), page);
    lblDataLinks->setBuddy(lstDataLinks);
    v->addWidget(lblDataLinks);
    v->addWidget(lstDataLinks);

    // The editor panels share one place below the list; at most one is shown.
    static const char* const kPanels[] = {
        "ctDLSQLServerOBJ",     "ctDLlFlatFileOBJ", "ctlDLExcelFilesOBJ", "ctlDLAccesFilesOBJ",
        "ctlDLOrcaleServerOBJ", "ctlDLUDLOBJ",      "ctlDLXMLFilesOBJ"};
    for (const char* name : kPanels) {
        if (qstrcmp(name, "ctDLlFlatFileOBJ") == 0) {
            auto* flatFile = new FlatFilePanel(page);
            flatFile->setVisible(false);
            v->addWidget(flatFile, 1);
            DataLinkPanels << flatFile;
            continue;
        }
        if (DataLinkPanel* editor = CreateDataLinkPanel(QString::fromLatin1(name), page)) {
            v->addWidget(editor, 1);
            DataLinkPanels << editor;
            continue;
        }
        auto* panel = named(new QFrame(page), QString::fromLatin1(name));
        panel->setFrameShape(QFrame::StyledPanel);
        auto* panelLayout = new QVBoxLayout(panel);
        auto* caption = named(new QLabel(panel), QStringLiteral("lblPanelDataSource"));
        caption->setWordWrap(true);
        panelLayout->addWidget(caption);
        panelLayout->addStretch();
        panel->setVisible(false);
        v->addWidget(panel, 1);
        DataLinkPanels << panel;
    }
    v->addStretch(1);
    return page;
}

void MainWindow::BuildKeyboardOrder() {
    // Page by page, top to bottom, then the button column.
    const QList<QWidget*> order = {
        tabDataInfo,
        packageServerWidget->ServerBox(),
        packageServerWidget->TestButton(),
        packageServerWidget->TrustedBox(),
        packageServerWidget->UserBox(),
        packageServerWidget->PasswordBox(),
        cmbETLModel,
        cmbETLPackage,
        imgErrorFile,
        txtDTSErrorFile,
        cmdDTSErrorFile,
        cbTruncateErrorFile,
        cmdShowErrorFile,
        txtLogFilesDir,
        warehouseServerWidget->ServerBox(),
        warehouseServerWidget->TestButton(),
        warehouseServerWidget->TrustedBox(),
        warehouseServerWidget->UserBox(),
        warehouseServerWidget->PasswordBox(),
        warehouseServerWidget->DatabaseBox(),
        imgEventLog,
        cbWriteWinNTEvent,
        lstDataLinks,
        cmdOpen,
        cmdSave,
        cmdExecute,
        cmdClose,
    };
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order.at(i - 1), order.at(i));
}

void MainWindow::ConnectControls() {
    connect(mnuFileNew, &QAction::triggered, this, [this] { NewConfiguration(); });
    connect(mnuFileOpen, &QAction::triggered, this, [this] { OpenConfiguration(); });
    connect(cmdOpen, &QPushButton::clicked, this, [this] { OpenConfiguration(); });
    connect(mnuFileSave, &QAction::triggered, this, [this] { SaveConfiguration(); });
    connect(cmdSave, &QPushButton::clicked, this, [this] { SaveConfiguration(); });
    connect(mnuFileSaveAs, &QAction::triggered, this, [this] { SaveConfigurationAs(); });
    connect(mnuFileExecute, &QAction::triggered, this, [this] { Execute(); });
    connect(cmdExecute, &QPushButton::clicked, this, [this] { Execute(); });
    connect(mnuFileExit, &QAction::triggered, this, [this] { CloseCommand(); });
    connect(cmdClose, &QPushButton::clicked, this, [this] { CloseCommand(); });
    connect(mnuHelpAbout, &QAction::triggered, this, [this] { About(); });
    connect(cmdShowErrorFile, &QPushButton::clicked, this, [this] { ShowErrorFile(); });
    connect(cmdDTSErrorFile, &QPushButton::clicked, this, [this] { BrowseLogFile(); });

    connect(cmbETLModel, &QComboBox::activated, this,
            [this](int index) { Call([this, index] { form_.ChooseModel(index); }); });
    connect(cmbETLPackage, &QComboBox::activated, this,
            [this](int index) { Call([this, index] { form_.ChoosePackage(index); }); });
    connect(lstDataLinks, &QListWidget::currentRowChanged, this, [this](int row) {
        if (!refreshing_)
            Call([this, row] { form_.ChooseDataLink(row); });
    });
    connect(tabDataInfo, &QTabWidget::currentChanged, this, [this](int page) {
        if (!refreshing_)
            Call([this, page] { form_.ChangePage(page); });
    });
    connect(txtDTSErrorFile, &QLineEdit::textEdited, this,
            [this](const QString& text) { Call([this, text] { form_.SetLogFileText(text); }); });
    connect(cbTruncateErrorFile, &QCheckBox::clicked, this,
            [this](bool on) { Call([this, on] { form_.cbTruncateErrorFile = on; }); });
    connect(cbWriteWinNTEvent, &QCheckBox::clicked, this,
            [this](bool on) { Call([this, on] { form_.cbWriteWinNTEvent = on; }); });

    connect(packageServerWidget, &ServerConnectionWidget::SettingsChanged, this,
            [this] { Call([this] { form_.DTSConnectionChanged(); }); });
    connect(warehouseServerWidget, &ServerConnectionWidget::SettingsChanged, this,
            [this] { Call([this] { form_.DWConnectionChanged(); }); });
    connect(packageServerWidget, &ServerConnectionWidget::TestConnection, this,
            [this] { Call([this] { form_.TestConnection(form_.packageServerWidget); }); });
    connect(warehouseServerWidget, &ServerConnectionWidget::TestConnection, this,
            [this] { Call([this] { form_.TestConnection(form_.warehouseServerWidget); }); });
}
