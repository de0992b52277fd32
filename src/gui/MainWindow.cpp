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
QHBoxLayout* AddSection(QVBoxLayout* page, QWidget* picture) {
    page->addSpacing(4);
    auto* row = new QHBoxLayout;
    row->addWidget(picture, 0, Qt::AlignTop);
    page->addLayout(row);
    return row;
}

}  // namespace

MainWindow::MainWindow(MainFormModel& form, QWidget* parent)
    : QMainWindow(parent), form_(form), chooseFile_(&MainWindow::ShowFileDialog) {
    form_.SetView(this);
    setObjectName(QStringLiteral("MainFormModel"));
    // The window offers no Maximize.
    setWindowFlags((windowFlags() | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                    Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                    Qt::WindowCloseButtonHint) &
                   ~Qt::WindowMaximizeButtonHint);
    BuildMenus();

    auto* central = new QWidget(this);
    auto* layout = new QHBoxLayout(central);
    pagesFrame = named(new QFrame(central), QStringLiteral("pagesFrame"));
    auto* frameLayout = new QVBoxLayout(pagesFrame);
    frameLayout->setContentsMargins(0, 0, 0, 0);
    pages = named(new QTabWidget(pagesFrame), QStringLiteral("pages"));
    pages->addTab(BuildPackagePage(), QStringLiteral(" D&TS package info "));
    pages->addTab(BuildWarehousePage(), QStringLiteral("Data ware&house info "));
    pages->addTab(BuildDataSourcePage(), QStringLiteral(" Data sou&rce info "));
    pages->setAcceptDrops(true);
    pages->installEventFilter(this);
    frameLayout->addWidget(pages);
    layout->addWidget(pagesFrame, 1);

    auto* buttons = new QVBoxLayout;
    openButton =
        named(new QPushButton(QStringLiteral("&Open..."), central), QStringLiteral("openButton"));
    saveButton =
        named(new QPushButton(QStringLiteral("Sa&ve"), central), QStringLiteral("saveButton"));
    executeButton =
        named(new QPushButton(form_.executeCaption(), central), QStringLiteral("executeButton"));
    closeButton =
        named(new QPushButton(form_.closeCaption(), central), QStringLiteral("closeButton"));
    for (QPushButton* b : {openButton, saveButton, executeButton, closeButton}) {
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
    pages->setTabEnabled(MainFormModel::DataSourcePage, false);
    BuildKeyboardOrder();
    ConnectControls();
    resize(760, 600);
    RefreshFromModel();
}

MainWindow::~MainWindow() {
    form_.SetView(nullptr);
}

void MainWindow::BuildMenus() {
    fileMenu = named(menuBar()->addMenu(QStringLiteral("&File")), QStringLiteral("fileMenu"));
    const auto add = [this](QMenu* menu, const QString& name, const QString& text) {
        QAction* action = menu->addAction(text);
        action->setObjectName(name);
        return action;
    };
    newAction = add(fileMenu, QStringLiteral("newAction"), QStringLiteral("New"));
    fileMenu->addSeparator();
    openAction = add(fileMenu, QStringLiteral("openAction"), QStringLiteral("Open"));
    saveAction = add(fileMenu, QStringLiteral("saveAction"), QStringLiteral("Save"));
    saveAsAction = add(fileMenu, QStringLiteral("saveAsAction"), QStringLiteral("Save As..."));
    fileMenu->addSeparator();
    executeAction = add(fileMenu, QStringLiteral("executeAction"), QStringLiteral("Execute"));
    fileMenu->addSeparator();
    exitAction = add(fileMenu, QStringLiteral("exitAction"), QStringLiteral("Exit"));
    helpMenu = named(menuBar()->addMenu(QStringLiteral("&Help")), QStringLiteral("helpMenu"));
    aboutAction = add(helpMenu, QStringLiteral("aboutAction"), QStringLiteral("About"));
}

QWidget* MainWindow::BuildPackagePage() {
    auto* page = named(new QWidget, QStringLiteral("pageDTSPackageInfo"));
    auto* v = new QVBoxLayout(page);

    auto* intro = new QVBoxLayout;
    intro->addWidget(makeLabel(QStringLiteral("Label24"),
                               QStringLiteral("DTS packages can be loaded from any SQL Server."),
                               page));
    intro->addWidget(makeLabel(QStringLiteral("packageServerIntro"),
                               QStringLiteral("Specify the name and how to logon to the server "
                                              "where the DTS packages are stored."),
                               page));
    AddSection(
        v, makePicture(QStringLiteral("packageInfoPicture"), MainWindowPicture::PackageInfo, page))
        ->addLayout(intro);

    packageServerWidget =
        named(new ServerConnectionWidget(page), QStringLiteral("packageServerWidget"));
    packageServerWidget->SetDatabaseVisible(false);
    packageServerWidget->Bind(&form_.packageServerWidget);
    AddSection(
        v, makePicture(QStringLiteral("packageServerPicture"), MainWindowPicture::DTSServer, page))
        ->addWidget(packageServerWidget, 1);

    auto* packageRows = new QGridLayout;
    packageRows->addWidget(
        makeLabel(QStringLiteral("Label8"),
                  QStringLiteral("Specify the model and DTS package below."), page),
        0, 0, 1, 2);
    auto* modelBox = new OpeningComboBox(page);
    models = named(modelBox, QStringLiteral("models"));
    auto* packageBox = new OpeningComboBox(page);
    packages = named(packageBox, QStringLiteral("packages"));
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
    QLabel* modelLabel = makeLabel(QStringLiteral("modelLabel"), QStringLiteral("&Model:"), page);
    modelLabel->setBuddy(models);
    QLabel* packageLabel =
        makeLabel(QStringLiteral("packageLabel"), QStringLiteral("P&ackage:"), page);
    packageLabel->setBuddy(packages);
    packageRows->addWidget(modelLabel, 1, 0);
    packageRows->addWidget(models, 1, 1);
    packageRows->addWidget(packageLabel, 2, 0);
    packageRows->addWidget(packages, 2, 1);
    packageRows->setColumnStretch(1, 1);
    AddSection(v, makePicture(QStringLiteral("packagePicture"), MainWindowPicture::Package, page))
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
    errorFile = named(new QLineEdit(page), QStringLiteral("errorFile"));
    errorFile->installEventFilter(this);
    QLabel* errorFileLabel =
        makeLabel(QStringLiteral("errorFileLabel"), QStringLiteral("Log &file:"), page);
    errorFileLabel->setBuddy(errorFile);
    errorFileButton =
        named(new QPushButton(QStringLiteral("..."), page), QStringLiteral("errorFileButton"));
    errorFileButton->setFixedWidth(32);
    logRows->addWidget(errorFileLabel, 2, 0);
    logRows->addWidget(errorFile, 2, 1);
    logRows->addWidget(errorFileButton, 2, 2);
    truncateErrorFile = named(new QCheckBox(QStringLiteral("Truncate log file"), page),
                              QStringLiteral("truncateErrorFile"));
    showErrorFileButton = named(new QPushButton(QStringLiteral("&Get log file"), page),
                                QStringLiteral("showErrorFileButton"));
    showErrorFileButton->setAutoDefault(false);
    auto* truncateRow = new QHBoxLayout;
    truncateRow->addWidget(truncateErrorFile);
    truncateRow->addStretch();
    truncateRow->addWidget(showErrorFileButton);
    logRows->addLayout(truncateRow, 3, 1, 1, 2);
    logFilesDir = named(new QLineEdit(page), QStringLiteral("logFilesDir"));
    logFilesDir->setReadOnly(true);
    logRows->addWidget(
        makeLabel(QStringLiteral("logFilesDirLabel"), QStringLiteral("Used log dir: "), page), 4,
        0);
    logRows->addWidget(logFilesDir, 4, 1, 1, 2);
    // Carry the default-directory flag and its browse button; never shown.
    useDefaultLogFilesDir = named(new QCheckBox(QStringLiteral("Default log file directory"), page),
                                  QStringLiteral("useDefaultLogFilesDir"));
    logFilesDirButton =
        named(new QPushButton(QStringLiteral("..."), page), QStringLiteral("logFilesDirButton"));
    useDefaultLogFilesDir->setVisible(false);
    logFilesDirButton->setVisible(false);
    logRows->setColumnStretch(1, 1);
    errorFilePicture =
        makeActivePicture(QStringLiteral("errorFilePicture"), MainWindowPicture::ErrorFile, page);
    errorFilePicture->installEventFilter(this);
    AddSection(v, errorFilePicture)->addLayout(logRows, 1);
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
    AddSection(v, makePicture(QStringLiteral("warehouseServerPicture"),
                              MainWindowPicture::DWServerDB, page))
        ->addLayout(intro, 1);

    warehouseServerWidget =
        named(new ServerConnectionWidget(page), QStringLiteral("warehouseServerWidget"));
    warehouseServerWidget->Bind(&form_.warehouseServerWidget);
    AddSection(
        v, makePicture(QStringLiteral("warehouseDatabasePicture"), MainWindowPicture::DWDB, page))
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
    writeCompletionEvent =
        named(new QCheckBox(QStringLiteral("Write completion &event to Windows Event Log"), page),
              QStringLiteral("writeCompletionEvent"));
    eventRows->addWidget(writeCompletionEvent);
    eventLogPicture =
        makeActivePicture(QStringLiteral("eventLogPicture"), MainWindowPicture::EventLog, page);
    eventLogPicture->installEventFilter(this);
    AddSection(v, eventLogPicture)->addLayout(eventRows, 1);
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
    AddSection(v, makePicture(QStringLiteral("Image9"), MainWindowPicture::DataSources, page))
        ->addLayout(intro, 1);

    dataLinks = named(new QListWidget(page), QStringLiteral("dataLinks"));
    dataLinks->setSelectionMode(QAbstractItemView::SingleSelection);
    dataLinks->setMaximumHeight(110);
    QLabel* dataLinksLabel =
        makeLabel(QStringLiteral("dataLinksLabel"), QStringLiteral("Data sources:"), page);
    dataLinksLabel->setBuddy(dataLinks);
    v->addWidget(dataLinksLabel);
    v->addWidget(dataLinks);

    // The editor panels share one place below the list; at most one is shown.
    static const char* const kPanels[] = {"sqlServerPanel",   "flatFilePanel", "excelFilesPanel",
                                          "accessFilesPanel", "oraclePanel",   "udlPanel",
                                          "xmlFilesPanel"};
    for (const char* name : kPanels) {
        if (qstrcmp(name, "flatFilePanel") == 0) {
            auto* flatFile = new FlatFilePanel(page, this);
            flatFile->SetRunLog(&form_.Log);
            flatFile->setVisible(false);
            v->addWidget(flatFile, 1);
            DataLinkPanels << flatFile;
            continue;
        }
        if (DataLinkPanel* editor = CreateDataLinkPanel(QString::fromLatin1(name), page)) {
            editor->SetRunLog(&form_.Log);
            v->addWidget(editor, 1);
            DataLinkPanels << editor;
            continue;
        }
        auto* panel = named(new QFrame(page), QString::fromLatin1(name));
        panel->setFrameShape(QFrame::StyledPanel);
        auto* panelLayout = new QVBoxLayout(panel);
        auto* caption = named(new QLabel(panel), QStringLiteral("panelDataLinkLabel"));
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
        pages,
        packageServerWidget->ServerBox(),
        packageServerWidget->TestButton(),
        packageServerWidget->TrustedBox(),
        packageServerWidget->UserBox(),
        packageServerWidget->PasswordBox(),
        models,
        packages,
        errorFilePicture,
        errorFile,
        errorFileButton,
        truncateErrorFile,
        showErrorFileButton,
        logFilesDir,
        warehouseServerWidget->ServerBox(),
        warehouseServerWidget->TestButton(),
        warehouseServerWidget->TrustedBox(),
        warehouseServerWidget->UserBox(),
        warehouseServerWidget->PasswordBox(),
        warehouseServerWidget->DatabaseBox(),
        eventLogPicture,
        writeCompletionEvent,
        dataLinks,
        openButton,
        saveButton,
        executeButton,
        closeButton,
    };
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order.at(i - 1), order.at(i));
}

void MainWindow::ConnectControls() {
    connect(newAction, &QAction::triggered, this, [this] { NewConfiguration(); });
    connect(openAction, &QAction::triggered, this, [this] { OpenConfiguration(); });
    connect(openButton, &QPushButton::clicked, this, [this] { OpenConfiguration(); });
    connect(saveAction, &QAction::triggered, this, [this] { SaveConfiguration(); });
    connect(saveButton, &QPushButton::clicked, this, [this] { SaveConfiguration(); });
    connect(saveAsAction, &QAction::triggered, this, [this] { SaveConfigurationAs(); });
    connect(executeAction, &QAction::triggered, this, [this] { Execute(); });
    connect(executeButton, &QPushButton::clicked, this, [this] { Execute(); });
    connect(exitAction, &QAction::triggered, this, [this] { CloseCommand(); });
    connect(closeButton, &QPushButton::clicked, this, [this] { CloseCommand(); });
    connect(aboutAction, &QAction::triggered, this, [this] { About(); });
    connect(showErrorFileButton, &QPushButton::clicked, this, [this] { ShowErrorFile(); });
    connect(errorFileButton, &QPushButton::clicked, this, [this] { BrowseLogFile(); });

    connect(models, &QComboBox::activated, this,
            [this](int index) { Call([this, index] { form_.ChooseModel(index); }); });
    connect(packages, &QComboBox::activated, this,
            [this](int index) { Call([this, index] { form_.ChoosePackage(index); }); });
    connect(dataLinks, &QListWidget::currentRowChanged, this, [this](int row) {
        if (!refreshing_)
            Call([this, row] { form_.ChooseDataLink(row); });
    });
    connect(pages, &QTabWidget::currentChanged, this, [this](int page) {
        if (!refreshing_)
            Call([this, page] { form_.ChangePage(page); });
    });
    connect(errorFile, &QLineEdit::textEdited, this,
            [this](const QString& text) { Call([this, text] { form_.SetLogFileText(text); }); });
    connect(truncateErrorFile, &QCheckBox::clicked, this,
            [this](bool on) { Call([this, on] { form_.truncateErrorFile = on; }); });
    connect(writeCompletionEvent, &QCheckBox::clicked, this,
            [this](bool on) { Call([this, on] { form_.writeCompletionEvent = on; }); });

    connect(packageServerWidget, &ServerConnectionWidget::SettingsChanged, this,
            [this] { Call([this] { form_.DTSConnectionChanged(); }); });
    connect(warehouseServerWidget, &ServerConnectionWidget::SettingsChanged, this,
            [this] { Call([this] { form_.DWConnectionChanged(); }); });
    connect(packageServerWidget, &ServerConnectionWidget::TestConnection, this,
            [this] { Call([this] { form_.TestConnection(form_.packageServerWidget); }); });
    connect(warehouseServerWidget, &ServerConnectionWidget::TestConnection, this,
            [this] { Call([this] { form_.TestConnection(form_.warehouseServerWidget); }); });
}
