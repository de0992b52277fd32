// The main window driven through its widgets on the offscreen platform, with the form model on
// the embedded server of a private home. Texts are those the operator must see.

#include "GuiTestHelpers.h"
#include "app/MainFormFixture.h"
#include "gui/DataLinkPanels.h"
#include "gui/FlatFilePanel.h"
#include "gui/GuiOperator.h"
#include "gui/MainWindow.h"
#include "gui/ServerConnectionWidget.h"
#include "support/FakePackage.h"

using testsupport::readAll;

namespace {

const QString kCritical = QString::number(int(QMessageBox::Critical));

// A window on the fixture's form model; file dialogs are answered from `answers` and recorded.
class MainWindowTest : public FormModel {
  protected:
    void SetUp() override {
        FormModel::SetUp();
        storePackages({"Sales_Init", "Sales_Overall", "Stock_Overall"});
        makeWarehouse({1, 3, 6, 10, 8, 2});
    }
    void TearDown() override {
        window_.reset();
        form_.reset();
        SetOperator(&op);
        FormModel::TearDown();
    }
    MainWindow& window(bool jobMode = false) {
        window_.reset();
        form_.reset();
        form_ = std::make_unique<InteractiveForm>();
        form_->JobConfigMode = jobMode;
        form_->InitFormFields();
        window_ = std::make_unique<MainWindow>(*form_);
        window_->SetFileChooser([this](QWidget*, const MainFormModel::FileDialogSettings& d) {
            dialogs << d.Title + "|" + d.Filter + "|" + d.DefaultExtension + "|" +
                           (d.Save ? "save" : "open");
            return answers.isEmpty() ? QString() : answers.takeFirst();
        });
        gui_.AttachMainWindow(window_.get());
        SetOperator(&gui_);
        window_->show();
        window_->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window_.get()));
        return *window_;
    }
    // A configuration of package `package` saved by a form model of its own.
    QString savedConfiguration(const QString& package = "Sales_Overall") {
        const QString file = home.file("saved.etl");
        InteractiveForm f;
        fill(f, package);
        EXPECT_TRUE(f.SaveConfigurationFile(file));
        return file;
    }
    int row(const QString& link) const {
        const auto found = window_->dataLinks->findItems(link, Qt::MatchExactly);
        return found.isEmpty() ? -1 : window_->dataLinks->row(found.first());
    }

    std::unique_ptr<MainFormModel> form_;
    std::unique_ptr<MainWindow> window_;
    GuiOperator gui_;
    QStringList dialogs, answers;
};

TEST_F(MainWindowTest, OpenFillsTheWindowAndAnotherModelClearsTheLists) {
    const QString file = savedConfiguration();
    MainWindow& w = window();
    BoxAnswerer answerer;
    answers << file;
    QTest::mouseClick(w.openButton, Qt::LeftButton);
    EXPECT_EQ(dialogs, QStringList({"Pendrill: Open configuration|ETL Files (*.etl)|etl|open"}));
    EXPECT_EQ(w.windowTitle(), "Pendrill : [saved.etl]");
    EXPECT_EQ(comboItems(w.models), QStringList({"Sales", "Stock"}));
    EXPECT_EQ(w.models->currentText(), "Sales");
    EXPECT_EQ(comboItems(w.packages), QStringList({"Sales_Init", "Sales_Overall"}));
    EXPECT_EQ(w.packages->currentText(), "Sales_Overall");
    EXPECT_EQ(w.errorFile->text(), home.file("run.log"));
    EXPECT_EQ(w.warehouseServerWidget->DatabaseBox()->currentText(), "DW");
    EXPECT_EQ(w.dataLinks->count(), 6) << "the data links are read at once";
    EXPECT_TRUE(w.pages->isTabEnabled(2));
    EXPECT_TRUE(answerer.boxes.isEmpty()) << answerer.boxes.join('\n').toStdString();

    // A data link chosen on page 2 shows its panel.
    QTest::keyClick(w.pages, Qt::Key_R, Qt::AltModifier);
    EXPECT_EQ(w.pages->currentIndex(), 2);
    w.dataLinks->setCurrentRow(0);
    EXPECT_TRUE(form_->DataSourceInfoPresent());
    EXPECT_TRUE(w.DataLinkPanels.at(0)->isVisible());

    // Another model, chosen with the keyboard: package list, data links and panel are cleared.
    w.models->setFocus();
    QTest::keyClick(w.models, Qt::Key_Down);
    EXPECT_EQ(w.models->currentText(), "Stock");
    EXPECT_EQ(w.packages->count(), 0);
    EXPECT_EQ(w.dataLinks->count(), 0);
    EXPECT_FALSE(w.DataLinkPanels.at(0)->isVisible());
}

TEST_F(MainWindowTest, ExecuteWithMissingInputShowsThePageAndFocus) {
    const struct {
        const char* package;
        const char* database;
        int page;
        const char* focusParent;
    } cases[] = {{"", "DW", 0, "packages"}, {"Sales_Overall", "", 1, "warehouseServerWidget"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.focusParent);
        MainWindow& w = window();
        fill(*form_, c.package[0] ? c.package : "Sales_Overall");
        if (!c.package[0])
            form_->packages.SetCurrentIndex(-1);
        form_->warehouseServerWidget.DatabaseName = c.database;
        form_->CurrentPage = c.page == 0 ? 1 : 0;
        w.RefreshFromModel();
        BoxAnswerer answerer;
        // The access key of Execute clicks it (after the button's short animation).
        QTest::keyClick(&w, Qt::Key_X, Qt::AltModifier);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !answerer.boxes.isEmpty(); }, 2000));
        EXPECT_EQ(answerer.boxes,
                  QStringList({kCritical + "|Connect to data warehouse server|Please fill in "
                                           "DTS package, DTS server and data warehouse "
                                           "database"}));
        EXPECT_EQ(w.pages->currentIndex(), c.page);
        QWidget* focus = w.focusWidget();
        ASSERT_NE(focus, nullptr);
        auto* expected = w.findChild<QWidget*>(c.focusParent);
        EXPECT_TRUE(focus == expected || expected->isAncestorOf(focus))
            << focus->objectName().toStdString();
    }
}

TEST_F(MainWindowTest, SaveAsksForANameOnlyWithoutACurrentFile) {
    const QString file = home.file("new.etl");
    MainWindow& w = window();
    fill(*form_);
    w.RefreshFromModel();

    // Save As cancelled: nothing changes, nothing is stored.
    w.saveAsAction->trigger();
    EXPECT_EQ(dialogs, QStringList({"Pendrill: Save configuration|ETL Files (*.etl)|etl|save"}));
    EXPECT_TRUE(form_->PendrillConfigFile.isEmpty());
    EXPECT_EQ(SettingsStore().GetSetting("Pendrill", "LastUsedConfigFile", "<unset>"), "<unset>");
    EXPECT_EQ(w.windowTitle(), "Pendrill");

    // Save without a file asks; with one it does not.
    answers << file;
    QTest::mouseClick(w.saveButton, Qt::LeftButton);
    EXPECT_EQ(dialogs.size(), 2);
    EXPECT_TRUE(QFile::exists(file));
    EXPECT_EQ(w.windowTitle(), "Pendrill : [new.etl]");
    EXPECT_EQ(SettingsStore().GetSetting("Pendrill", "LastUsedConfigFile"), file);
    QFile::remove(file);
    w.saveAction->trigger();
    EXPECT_EQ(dialogs.size(), 2);
    EXPECT_TRUE(QFile::exists(file));
}

TEST_F(MainWindowTest, TheRealFileDialogShowsTheSettings) {
    InteractiveForm f;
    f.ConfigFileChosen(home.file("last.etl"));
    QStringList seen;
    QTimer::singleShot(100, [&] {
        if (auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            seen << d->windowTitle() << d->nameFilters().join(';') << d->defaultSuffix()
                 << QString::number(d->acceptMode() == QFileDialog::AcceptSave)
                 << QString::number(d->testOption(QFileDialog::DontConfirmOverwrite))
                 << d->directory().absolutePath();
            d->reject();
        }
    });
    EXPECT_EQ(MainWindow::ShowFileDialog(nullptr, f.ConfigFileDialog(true)), "") << "cancelled";
    EXPECT_EQ(seen, QStringList({"Pendrill: Save configuration", "ETL Files (*.etl)", "etl", "1",
                                 "1", QDir(home.path()).absolutePath()}));
}

TEST_F(MainWindowTest, JobConfigurationExecuteAndCancel) {
    // Execute without a saved configuration is refused with the form model (app/MainFormCommands).
    const QString job = home.file("job.cfg");
    MainWindow& w = window(true);
    EXPECT_EQ(w.executeButton->text() + w.closeButton->text(), "E&xit&Cancel");
    form_->JobConfigFile = job;
    fill(*form_);
    w.RefreshFromModel();
    const QString file = home.file("job.etl");
    form_->PendrillConfigFile = file;
    QSignalSpy unloaded(&w, &MainWindow::Unloaded);
    QTest::mouseClick(w.executeButton, Qt::LeftButton);
    EXPECT_EQ(readAll(job), "-configfile \"" + file.toUtf8() + "\"\r\n");
    EXPECT_EQ(unloaded.count(), 1);
    EXPECT_FALSE(w.isVisible());

    MainWindow& cancel = window(true);
    form_->JobConfigFile = job;
    cancel.close();  // the window's own close button is Cancel
    EXPECT_EQ(readAll(job), "canceled\r\n");
    EXPECT_FALSE(cancel.isVisible());
}

TEST_F(MainWindowTest, LogFileBoxTypedAndLeftWithTheKeyboard) {
    MainWindow& w = window();
    w.errorFile->setFocus();
    QTest::keyClicks(w.errorFile, "  logs/run.log ");
    EXPECT_TRUE(w.truncateErrorFile->isEnabled()) << "enabled while the box holds a name";
    // Tab leaves the box for the next control of the page: the name goes under the temporary
    // directory, which is created.
    QTest::keyClick(w.errorFile, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), w.errorFileButton);
    EXPECT_EQ(w.errorFile->text(), tmp + "logs/run.log");

    // The model box is followed by the package box.
    w.models->setFocus();
    QTest::keyClick(w.models, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), w.packages);
}

TEST_F(MainWindowTest, DroppedFileAndEventLogPicture) {
    const QString file = savedConfiguration();
    MainWindow& w = window();
    w.DropFile(file);
    EXPECT_EQ(w.windowTitle(), "Pendrill : [saved.etl]");
    EXPECT_EQ(w.packages->currentText(), "Sales_Overall");
    EXPECT_EQ(w.dataLinks->count(), 0) << "a dropped file is only loaded";
    EXPECT_TRUE(dialogs.isEmpty());

    // Without a log viewer on the PATH the event-log picture names journalctl, from the mouse and
    // from the keyboard alike.
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", home.path().toUtf8());
    BoxAnswerer answerer;
    w.pages->setCurrentIndex(1);
    QTest::mouseDClick(w.eventLogPicture, Qt::LeftButton);
    w.eventLogPicture->setFocus();
    QTest::keyClick(w.eventLogPicture, Qt::Key_Return);
    qputenv("PATH", path);
    const QString box = QString::number(int(QMessageBox::Information)) + "|Pendrill|" +
                        MainFormModel::NoLogViewerText();
    EXPECT_EQ(answerer.boxes, QStringList({box, box}));
}

TEST_F(MainWindowTest, CloseDuringARunOnlyStopsIt) {
    MainWindow& w = window();
    FakeRecord record;
    for (const RunVariable& v : kRunVariables)
        record.values.insert(v.name, QString());
    form_->PackageFactory = [&] {
        auto p = std::make_unique<FakePackage>(&record);
        p->name = "Sales_Init";
        p->steps = {{"Load", DTSStepExecStat_Completed, DTSStepExecResult_Failure}};
        // Runs until stopped, letting the window's events through as the engine does.
        p->onExecute = [] {
            QElapsedTimer clock;
            clock.start();
            while (!StopFlags::StopRequested && clock.elapsed() < 10000) {
                Operator().ProcessPendingEvents();
                QThread::msleep(2);
            }
        };
        return p;
    };
    fill(*form_, "Sales_Init");
    w.RefreshFromModel();
    BoxAnswerer answerer;
    bool executeDuringRun = true;
    qint64 answeredAfter = -1;
    QTimer::singleShot(300, [&] {
        executeDuringRun = w.executeButton->isEnabled() || w.executeAction->isEnabled();
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(w.closeButton, Qt::LeftButton);
        if (StopFlags::StopRequested)
            answeredAfter = clock.elapsed();
    });
    QTest::mouseClick(w.executeButton, Qt::LeftButton);

    EXPECT_FALSE(executeDuringRun) << "no second run while one is in progress";
    EXPECT_GE(answeredAfter, 0);
    EXPECT_LT(answeredAfter, 100);
    EXPECT_TRUE(w.isVisible()) << "Close during a run leaves the window open";
    EXPECT_FALSE(form_->Unloaded);
    const QByteArray log = readAll(home.file("run.log"));
    EXPECT_TRUE(log.contains("Waiting for end of execution\r\n")) << log.toStdString();
    EXPECT_EQ(answerer.boxes,
              QStringList({kCritical + "|DTS execution error|Execution stopped by the user"}));
    EXPECT_EQ(w.sbStatus->currentMessage(), "Execution stopped by the user");
    EXPECT_TRUE(w.executeButton->isEnabled());
    EXPECT_TRUE(w.showErrorFileButton->isEnabled());
}

// Each data link shows the panel of its type, bound to its data source. (Edits through a panel's
// boxes: the panel tests; the edited data links saved: app/MainFormCommandsTest, RoundTrip.)
TEST_F(MainWindowTest, DataLinkPanelChosenByTypeAndBound) {
    MainWindow& w = window();
    fill(*form_);
    w.RefreshFromModel();
    w.pages->setCurrentIndex(2);
    auto* flat = w.findChild<FlatFilePanel*>("flatFilePanel");
    ASSERT_NE(flat, nullptr);
    EXPECT_EQ(w.DataLinkPanels.at(1), flat);
    // Type 3 shows the flat-file panel and clears the database fields (which type shows which
    // panel is chosen with the form model).
    const struct {
        const char *link, *panel;
    } cases[] = {
        {"Link1", "sqlServerPanel"}, {"Link10", "xmlFilesPanel"}, {"Link3", "flatFilePanel"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.link);
        w.dataLinks->setCurrentRow(row(c.link));
        QCoreApplication::processEvents();
        for (QFrame* panel : w.DataLinkPanels)
            EXPECT_EQ(panel->isVisible(), panel->objectName() == c.panel);
        auto* shown = w.findChild<QFrame*>(c.panel);
        auto* editor = dynamic_cast<DataLinkPanel*>(shown);
        DataLink* bound = editor ? editor->DataSource() : flat->DataSource();
        ASSERT_NE(bound, nullptr);
        EXPECT_EQ(bound, form_->PanelDataSource());
        EXPECT_EQ(bound->name, c.link);
        if (!editor) {
            EXPECT_TRUE(bound->server.isEmpty());
            EXPECT_EQ(flat->directoryBox->text(), "/data/");
        }
    }

    w.dataLinks->setCurrentRow(row("Link1"));
    QCoreApplication::processEvents();
    auto* sql = w.findChild<SqlServerPanel*>("sqlServerPanel");
    EXPECT_EQ(sql->sqlServerBox->text(), "srv");
    QWidget* next = w.dataLinks->nextInFocusChain();
    while (w.dataLinks->isAncestorOf(next))
        next = next->nextInFocusChain();
    EXPECT_EQ(next, sql->sqlServerBox) << "the shown panel follows the list in the keyboard order";
}

}  // namespace
