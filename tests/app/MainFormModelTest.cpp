#include <gtest/gtest.h>

#include <QLocale>

#include "MainFormFixture.h"
#include "app/ExitCodes.h"
#include "app/RunPreparation.h"
#include "app/RunSequence.h"
#include "history/JobRecord.h"
#include "support/FakePackage.h"
#include "util/RunTargets.h"

using testsupport::readAll;

namespace {

TEST_F(FormModel, RequiredSettingsFirstFailureWins) {
    struct Case {
        const char *package, *dtsServer, *errorFile, *dwServer, *database, *message;
    } cases[] = {
        {"P_Overall", "s", "e.log", "w", "DW", ""},
        {"", "", "", "", "", "DTS Package not filled"},
        {"P_Overall", "", "", "", "", "DTS Server not filled"},
        {"P_Overall", "s", "", "w", "DW", "DTS Error file not filled"},
        {"P_Overall", "s", "e.log", "", "", "Data warehouse server not filled"},
        {"P_Overall", "s", "e.log", "w", "", "Data warehouse database not filled"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        RunPreparation prepared;
        prepared.ListedPackage = c.package;
        prepared.Settings.DTSServer = c.dtsServer;
        prepared.Settings.ExceptionLogFile = c.errorFile;
        prepared.Settings.DWServer = c.dwServer;
        prepared.Settings.DWDatabaseName = c.database;
        QString message = "untouched";
        EXPECT_EQ(prepared.CheckRunnable(&message), *c.message == '\0');
        EXPECT_EQ(message, c.message);
    }
    InteractiveForm f;  // the window's Execute and Save follow the same check
    EXPECT_FALSE(f.CheckRunnable());
    EXPECT_FALSE(f.Enabled.executeButton || f.Enabled.saveButton);
}

TEST_F(FormModel, LogFileBoxRules) {
    struct Case {
        QString typed, left;  // "@" in `left` stands for the temporary directory
    } cases[] = {
        {"  run.log  ", "@run.log"},
        {"jobs/nightly/run.log", "@jobs/nightly/run.log"},
        {"/var/log/pendrill.log", "/var/log/pendrill.log"},
        {"C:\\logs\\run.log", "C:\\logs\\run.log"},
        {"\\\\server\\share\\run.log", "\\\\server\\share\\run.log"},
        {"   ", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        InteractiveForm f;
        f.SetLogFileText(c.typed);
        EXPECT_EQ(f.Enabled.truncateErrorFile, !c.left.isEmpty()) << "while typing";
        f.LeaveLogFileBox();
        EXPECT_EQ(f.errorFile, QString(c.left).replace("@", tmp));
        EXPECT_EQ(f.Enabled.truncateErrorFile, !c.left.isEmpty());
    }
    EXPECT_TRUE(QDir(tmp + "jobs/nightly").exists()) << "the log file's directory is created";
}

TEST_F(FormModel, PackagesAreListedAfterTheModels) {
    storePackages({"Sales_Init", "Sales_Overall", "Fin_upload"});
    InteractiveForm f;
    f.packageServerWidget = {"(local)", "", true, "", "", 0};
    f.OpenPackageList();
    EXPECT_EQ(f.packages.Count(), 0) << "packages are listed only after the models";
    f.OpenModelList();
    f.ChooseModel(0);
    f.OpenPackageList();
    EXPECT_EQ(f.packages.Items(), QStringList({"Sales_Init", "Sales_Overall"}));
    f.ChoosePackage(0);
    EXPECT_FALSE(f.Page2Available);
    f.ChangePage(MainFormModel::DataSourcePage);
    EXPECT_EQ(f.CurrentPage, MainFormModel::PackagePage) << "page 2 cannot be selected";
    f.ChooseModel(1);
    EXPECT_EQ(f.packages.Count(), 0) << "another model empties the package list";
    f.OpenPackageList();
    f.useDefaultLogFilesDir = false;
    f.ChoosePackage(0);
    EXPECT_TRUE(f.Page2Available) << "suffixes count in any letter case";
    EXPECT_EQ(f.logFilesDir, tmp + "Pendrill/Sales_Init/") << "kept without the default";
}

TEST_F(FormModel, DataLinksPanelsAndClearing) {
    storePackages({"Sales_Overall"});
    makeWarehouse({1, 3, 2, 10, 8, 7});
    InteractiveForm f;
    fill(f);
    f.SetView(&view);
    f.ChangePage(MainFormModel::DataSourcePage);
    EXPECT_EQ(f.dataLinks.Count(), 6);
    EXPECT_FALSE(f.DataLinksOutdated());
    EXPECT_EQ(view.calls, QStringList({"pointer 11", "pointer 0"}));

    using P = MainFormModel::DataLinkPanel;
    const std::pair<const char*, P> cases[] = {
        {"Link2", P::None},  // nothing shown yet: type 2 shows nothing
        {"Link1", P::SQLServer}, {"Link3", P::FlatFile}, {"Link10", P::XMLFiles},
        {"Link2", P::XMLFiles},  // type 2 keeps the shown panel, which gets the data source
        {"Link8", P::FlatFile},  {"Link7", P::FlatFile},
    };
    for (const auto& [link, panel] : cases) {
        SCOPED_TRACE(link);
        f.ChooseDataLink(f.dataLinks.Items().indexOf(link));
        ASSERT_NE(f.CurrentDataSource(), nullptr);
        EXPECT_EQ(f.CurrentDataSource()->name, link);
        EXPECT_EQ(f.CurrentPanel(), panel);
        EXPECT_EQ(f.PanelDataSource(), panel != P::None ? f.CurrentDataSource() : nullptr);
    }

    f.DTSConnectionChanged();
    EXPECT_EQ(f.dataLinks.Count(), 0);
    EXPECT_FALSE(f.DataSourceInfoPresent());
    EXPECT_EQ(f.CurrentDataSource(), nullptr);
    EXPECT_EQ(f.Warehouse.Links(), nullptr);
    EXPECT_FALSE(f.DataLinksOutdated()) << "the DTS control does not mark the links outdated";
    f.DWConnectionChanged();
    f.ChangePage(MainFormModel::PackagePage);
    f.ChangePage(MainFormModel::DataSourcePage);
    EXPECT_EQ(f.dataLinks.Count(), 6) << "the warehouse control marks them outdated";
}

TEST_F(FormModel, DataLinkLoadingFailures) {
    storePackages({"Sales_Overall"});
    const QString status = home.file("status");
    RunTargets::Current().statusFile = (status);
    struct Case {
        QString server, database, box;
        int historyStatus;
        QString historyMessage;
    } cases[] = {
        {"no such server", "DW",
         "16|Connect to data warehouse server|Error while connecting to : "
         "no such server",
         1, "Error while connecting to : no such server"},
        {"(local)", "Empty",
         "16|Checking data warehouse database|dwm_data_link table not found "
         "in specified data warehouse database.\r\nSelect a different database",
         2, "Table dwm_data_link not found in specified data warehouse database."},
    };
    open("Empty");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.server.toStdString());
        op.boxes.clear();
        QFile::remove(status);
        JobRecord record;
        InteractiveForm f;
        f.SetJobHistory(&record);
        fill(f);
        f.warehouseServerWidget.ServerName = c.server;
        f.warehouseServerWidget.DatabaseName = c.database;
        EXPECT_FALSE(f.getDataLinkInfo());
        ASSERT_EQ(op.boxes.size(), 1);
        EXPECT_TRUE(op.boxes[0].startsWith(c.box)) << op.boxes[0].toStdString();
        EXPECT_EQ(record.Status(), c.historyStatus);
        EXPECT_TRUE(record.Message().startsWith(c.historyMessage));
        EXPECT_TRUE(record.EndTime().isValid());
        EXPECT_EQ(readAll(status), "failure\r\n");
    }
    EXPECT_EQ(QString::fromUtf8(readAll(home.file("run.log")))
                  .count("Error while connecting to : no such server"),
              2)
        << "reported, then logged once more";
}

TEST_F(FormModel, TestConnectionReportsOnlyFailures) {
    InteractiveForm f;
    f.SetView(&view);
    f.packageServerWidget = {"(local)", "", true, "", "", 0};
    f.TestConnection(f.packageServerWidget);
    EXPECT_TRUE(op.boxes.isEmpty()) << op.boxes.join('\n').toStdString();
    f.warehouseServerWidget.ServerName = "elsewhere";
    f.TestConnection(f.warehouseServerWidget);
    ASSERT_EQ(op.boxes.size(), 1);
    EXPECT_TRUE(op.boxes[0].startsWith("16|Pendrill|Error while connecting to : elsewhere\r\n"))
        << op.boxes[0].toStdString();
    EXPECT_EQ(view.calls, QStringList({"pointer 11", "pointer 0", "pointer 11", "pointer 0"}));
}

QStringList describe(const MainFormModel::FileDialogSettings& d) {
    return {d.Title,     d.Filter,   d.DefaultExtension,
            d.Directory, d.FileName, d.Save ? "save" : "open"};
}

TEST_F(FormModel, FileDialogsProposeTheLastChosenFile) {
    InteractiveForm f;
    // Saving without a current file and without a recorded Quorra installation proposes no
    // directory; with one, its application path.
    EXPECT_EQ(f.ConfigFileDialog(true).Directory, "");
    WriteRegistryValue("SOFTWARE\\Tessaly\\TessalyQuorra\\Version Info", "Current Version", "5");
    WriteRegistryValue("SOFTWARE\\Tessaly\\TessalyQuorra\\5\\Install Info", "Quorra_app_path",
                       "/opt/quorra");
    EXPECT_EQ(describe(f.ConfigFileDialog(true)),
              QStringList({"Pendrill: Save configuration", "ETL Files (*.etl)", "etl",
                           "/opt/quorra/", "", "save"}));

    // The last-used configuration of the settings store is proposed until a file is chosen.
    f.PendrillConfigFile = "/srv/etl/last.etl";
    f.StoreLastUsedConfigFile();
    f.PendrillConfigFile = "/srv/jobs/current.etl";
    EXPECT_EQ(f.ConfigFileDialog(false).FileName, "/srv/etl/last.etl");
    EXPECT_EQ(f.ConfigFileDialog(true).Directory, "/srv/jobs/") << "the current file's directory";
    f.ConfigFileChosen("/srv/etl/chosen.etl");
    EXPECT_EQ(f.ConfigFileDialog(true).FileName, "/srv/etl/chosen.etl");
    EXPECT_EQ(f.ConfigFileDialog(false).FileName, "/srv/etl/chosen.etl");

    EXPECT_EQ(describe(f.LogFileDialog()), QStringList({"", "Text (*.txt)", "", "", "", "open"}));
}

// A run of the window's values (RunWith) with a package that stands in for the engine: outcomes a
// stored package cannot produce (steps that cannot be read, the operator's Close while it
// executes), the pointer and the buttons around a run.
TEST_F(FormModel, RunFailuresTheEngineCannotShow) {
    const struct {
        bool readable, stop;
        int exit;
        QString message;  // last run-log line and the record's message
    } cases[] = {
        {false, false, ExitExecutionFailed, "Execution of DTS package 'F_LoadDW' failed."},
        {true, true, ExitStopped, "Execution stopped by the user"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message.toStdString());
        view.calls.clear();
        FakeRecord record;
        for (const RunVariable& v : kRunVariables)
            record.values.insert(v.name, QString());
        InteractiveForm form;  // no configuration file: the header has no line for one
        form.SetView(&view);
        form.PackageFactory = [&] {
            auto p = std::make_unique<FakePackage>(&record);
            p->name = "F_LoadDW";
            p->steps = {{"One", DTSStepExecStat_Completed, DTSStepExecResult_Failure}};
            p->unreadableStep = c.readable ? 0 : 1;
            if (c.stop)
                p->onExecute = [] { StopFlags::StopRequested = true; };
            return p;
        };
        form.packageServerWidget.ServerName = "(local)";
        form.packages.SetText("F_LoadDW");
        const QString runLog = home.file(QString("run %1.log").arg(c.exit));
        form.SetLogFileText(runLog);
        RunSequence run(form.Settings, form.JobHistory(), {}, form.Log);
        run.PackageFactory = form.PackageFactory;
        form.RunWith(run);
        const QString log = QString::fromUtf8(readAll(runLog));
        EXPECT_TRUE(log.endsWith("\r\n" + c.message + "\r\n")) << log.toStdString();
        EXPECT_FALSE(log.contains("Pendrill Config file"));
        EXPECT_EQ(run.ExitStatus(), c.exit);
        EXPECT_EQ(form.JobHistory().Status(), 3);
        EXPECT_EQ(form.JobHistory().Message(), c.message);
        EXPECT_FALSE(form.Running);
        EXPECT_TRUE(form.Enabled.executeButton && form.Enabled.saveButton);
        EXPECT_EQ(view.calls, QStringList({"pointer 13", "pointer 0"})) << "busy, window answers";
        StopFlags::StopRequested = false;
    }
}

TEST(RunSequence, HeaderDateIsEnglishWhateverTheLocale) {
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(RunSequence::HeaderDate(QDate(2026, 12, 6)), "Sunday, Dec 6 2026");
    EXPECT_EQ(RunSequence::HeaderDate(QDate(2028, 2, 29)), "Tuesday, Feb 29 2028");
    QLocale::setDefault(before);
}

}  // namespace
