#include <gtest/gtest.h>

#include "FormModelFixture.h"
#include "rook/RookJobHistory.h"
#include "util/ErrLogging.h"

using testsupport::readAll;

namespace {

TEST_F(FormModel, StartStateCaptionsAndTitles) {
    frmRunnerMain f;
    f.InitFormFields();
    EXPECT_EQ(f.Caption, "Pendrill");
    EXPECT_TRUE(f.cbTruncateErrorFile);
    EXPECT_FALSE(f.Enabled.cbTruncateErrorFile);
    EXPECT_FALSE(f.Enabled.cmdShowErrorFile);
    EXPECT_FALSE(f.Enabled.txtLogFilesDir);
    EXPECT_TRUE(f.cbDefaultLogFilesDir);
    EXPECT_FALSE(f.Page2Available);
    EXPECT_FALSE(f.DataSourceInfoPresent());
    EXPECT_EQ(f.txtLogFilesDir, tmp + "Pendrill//") << "no package chosen: two separators";
    EXPECT_FALSE(f.DTSCheckResult());
    EXPECT_FALSE(f.DWCheckResult());

    EXPECT_EQ(f.cmdExecuteCaption(), "E&xecute");
    EXPECT_EQ(f.cmdCloseCaption(), "&Close");
    f.StartInRookJobConfigMode = true;
    EXPECT_EQ(f.cmdExecuteCaption(), "E&xit");
    EXPECT_EQ(f.cmdCloseCaption(), "&Cancel");

    f.SetFormTitle("[x.etl]");
    EXPECT_EQ(f.Caption, "Pendrill : [x.etl]");
    f.SetFormStatus("Start");
    EXPECT_EQ(f.StatusText, "Start");
    EXPECT_EQ(op.status, "Start");
    LogInfo("a logged line");
    EXPECT_EQ(f.StatusText, "a logged line") << "logged texts reach the window's status bar";
    EXPECT_EQ(op.status, "a logged line");
}

TEST_F(FormModel, CheckRulesFirstFailureWins) {
    struct Case {
        const char* package;
        const char* dtsServer;
        const char* errorFile;
        const char* dwServer;
        const char* database;
        bool runnable;
        const char* message;
    } cases[] = {
        {"P_Overall", "s", "e.log", "w", "DW", true, ""},
        {"", "", "", "", "", false, "DTS Package not filled"},
        {"P_Overall", "", "", "", "", false, "DTS Server not filled"},
        {"P_Overall", "s", "", "w", "DW", false, "DTS Error file not filled"},
        {"P_Overall", "s", "e.log", "", "", false, "Data warehouse server not filled"},
        {"P_Overall", "s", "e.log", "w", "", false, "Data warehouse database not filled"},
        {"", "s", "e.log", "", "", false, "DTS Package not filled"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        frmRunnerMain f;
        f.cmbETLPackage.SetText(c.package);
        f.uRookConnectDTS.ServerName = c.dtsServer;
        f.txtDTSErrorFile = c.errorFile;
        f.uRookConnectDW.ServerName = c.dwServer;
        f.uRookConnectDW.DatabaseName = c.database;
        f.Enabled.cmdExecute = !c.runnable;
        f.Enabled.cmdSave = !c.runnable;
        QString message = "untouched";
        EXPECT_EQ(f.CheckRunnable(message), c.runnable);
        EXPECT_EQ(message, c.message);
        EXPECT_EQ(f.Enabled.cmdExecute, c.runnable);
        EXPECT_EQ(f.Enabled.cmdSave, c.runnable);
    }
}

TEST_F(FormModel, LogFileBoxRules) {
    struct Case {
        QString typed;
        QString left;  // the text after leaving the box; "@" stands for the temporary directory
        bool truncateEnabled;
    } cases[] = {
        {"  run.log  ", "@run.log", true},
        {"jobs/nightly/run.log", "@jobs/nightly/run.log", true},
        {"/var/log/pendrill.log", "/var/log/pendrill.log", true},
        {"C:\\logs\\run.log", "C:\\logs\\run.log", true},
        {"\\\\server\\share\\run.log", "\\\\server\\share\\run.log", true},
        {"   ", "", false},
        {"", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        frmRunnerMain f;
        f.SetLogFileText(c.typed);
        EXPECT_EQ(f.Enabled.cbTruncateErrorFile, c.truncateEnabled) << "while typing";
        f.LeaveLogFileBox();
        EXPECT_EQ(f.txtDTSErrorFile, QString(c.left).replace("@", tmp));
        EXPECT_EQ(f.Enabled.cbTruncateErrorFile, c.truncateEnabled);
    }
    EXPECT_TRUE(QDir(tmp + "jobs/nightly").exists()) << "the log file's directory is created";

    frmRunnerMain f;
    f.cmbETLPackage.SetText("P_Overall");
    f.uRookConnectDTS.ServerName = "s";
    f.BrowsedLogFile("");
    EXPECT_FALSE(f.DTSCheckResult()) << "a cancelled browse keeps the empty box";
    f.BrowsedLogFile("/x/chosen.txt");
    EXPECT_EQ(f.txtDTSErrorFile, "/x/chosen.txt");
    EXPECT_TRUE(f.DTSCheckResult());
}

TEST_F(FormModel, ModelAndPackageListsFollowThePackageStore) {
    storePackages({"Sales_Init", "Sales_Overall", "Sales_LoadDW_base", "Misc", "Fin_upload"});
    frmRunnerMain f;
    f.uRookConnectDTS.ServerName = "(local)";
    f.uRookConnectDTS.TrustedLogin = true;

    f.OpenPackageList();
    EXPECT_EQ(f.cmbETLPackage.Count(), 0) << "packages are listed only after the models";
    f.OpenModelList();
    EXPECT_EQ(f.cmbETLModel.Items(), QStringList({"Sales", "Fin"}));
    EXPECT_EQ(f.cmbETLPackage.CurrentIndex(), -1);

    f.ChooseModel(0);
    EXPECT_TRUE(f.DataLinksOutdated());
    f.OpenPackageList();
    EXPECT_EQ(f.cmbETLPackage.Items(), QStringList({"Sales_Init", "Sales_Overall"}));

    struct Case {
        QString package;
        bool page2;
    } cases[] = {{"Sales_Overall", true}, {"Sales_Init", false}};
    for (const Case& c : cases) {
        f.ChoosePackage(f.cmbETLPackage.Items().indexOf(c.package));
        EXPECT_EQ(f.cmbETLPackage.Text(), c.package);
        EXPECT_EQ(f.Page2Available, c.page2) << c.package.toStdString();
        EXPECT_EQ(f.txtLogFilesDir, tmp + "Pendrill/" + c.package + "/");
    }
    f.ChangePage(frmRunnerMain::DataSourcePage);
    EXPECT_EQ(f.CurrentPage, frmRunnerMain::PackagePage) << "page 2 cannot be selected";

    f.ChooseModel(1);
    EXPECT_EQ(f.cmbETLPackage.Count(), 0) << "another model empties the package list";
    f.OpenPackageList();
    f.ChoosePackage(0);
    EXPECT_EQ(f.cmbETLPackage.Text(), "Fin_upload");
    EXPECT_TRUE(f.Page2Available) << "suffixes count in any letter case";

    f.cbDefaultLogFilesDir = false;
    f.txtLogFilesDir = "/kept/";
    f.ChoosePackage(0);
    EXPECT_EQ(f.txtLogFilesDir, "/kept/");

    frmRunnerMain unreachable;
    unreachable.uRookConnectDTS.ServerName = "no such server";
    unreachable.OpenModelList();
    EXPECT_EQ(unreachable.cmbETLModel.Count(), 0);
}

TEST_F(FormModel, DataLinksPanelsAndClearing) {
    storePackages({"Sales_Overall"});
    makeWarehouse({1, 3, 2, 10, 8, 7});
    frmRunnerMain f;
    fill(f);
    ASSERT_TRUE(f.Page2Available);
    op.pointers.clear();
    f.ChangePage(frmRunnerMain::DataSourcePage);
    EXPECT_EQ(f.lstDataLinks.Count(), 6);
    EXPECT_FALSE(f.DataLinksOutdated());
    EXPECT_EQ(op.pointers, QList<int>({11, 0}));
    EXPECT_TRUE(op.boxes.isEmpty()) << op.boxes.join('\n').toStdString();

    using P = frmRunnerMain::DataLinkPanel;
    struct Case {
        const char* link;
        P panel;  // the panel shown afterwards
    } cases[] = {
        {"Link2", P::None},  // nothing shown yet: type 2 shows nothing
        {"Link1", P::SQLServer}, {"Link3", P::FlatFile}, {"Link10", P::XMLFiles},
        {"Link2", P::XMLFiles},  // type 2 keeps the shown panel, which gets the data source
        {"Link8", P::FlatFile},  {"Link7", P::FlatFile},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.link);
        f.ChooseDataLink(f.lstDataLinks.Items().indexOf(c.link));
        ASSERT_NE(f.CurrentDataSource(), nullptr);
        EXPECT_EQ(f.CurrentDataSource()->strName, c.link);
        EXPECT_EQ(f.CurrentPanel(), c.panel);
        EXPECT_EQ(f.DataSourceInfoPresent(), c.panel != P::None);
        EXPECT_EQ(f.PanelDataSource(), c.panel != P::None ? f.CurrentDataSource() : nullptr);
    }

    // Leaving and coming back does not reload current links.
    f.ChangePage(frmRunnerMain::PackagePage);
    f.ChangePage(frmRunnerMain::DataSourcePage);
    EXPECT_TRUE(f.DataSourceInfoPresent());

    f.DTSConnectionChanged();
    EXPECT_EQ(f.lstDataLinks.Count(), 0);
    EXPECT_FALSE(f.DataSourceInfoPresent());
    EXPECT_EQ(f.CurrentDataSource(), nullptr);
    EXPECT_EQ(LoadedDataSources(), nullptr);
    EXPECT_FALSE(f.DataLinksOutdated()) << "the DTS control does not mark the links outdated";
    f.DWConnectionChanged();
    EXPECT_TRUE(f.DataLinksOutdated());

    f.ChangePage(frmRunnerMain::PackagePage);
    f.ChangePage(frmRunnerMain::DataSourcePage);
    ASSERT_EQ(f.lstDataLinks.Count(), 6);
    f.ChooseDataLink(0);
    f.ChooseModel(0);
    EXPECT_EQ(f.lstDataLinks.Count(), 0) << "choosing a model clears the links";
    EXPECT_FALSE(f.DataSourceInfoPresent());
}

TEST_F(FormModel, DataLinkLoadingFailures) {
    storePackages({"Sales_Overall"});
    const QString status = home.file("status");
    SetStatusFile(status);

    {  // Neither package nor database.
        frmRunnerMain f;
        f.Page2Available = true;
        f.DWConnectionChanged();
        f.ChangePage(frmRunnerMain::DataSourcePage);
        EXPECT_EQ(op.boxes, QStringList({"16|Connect to data warehouse server|No DTS package or "
                                         "data warehouse database specified."}));
        EXPECT_TRUE(f.DataLinksOutdated());
    }
    op.boxes.clear();
    {  // The warehouse server does not exist.
        RookJobHistory record;
        frmRunnerMain f;
        f.SetJobHistory(&record);
        fill(f);
        f.uRookConnectDW.ServerName = "no such server";
        f.FormToSettings();
        EXPECT_FALSE(f.getDataLinkInfo());
        ASSERT_EQ(op.boxes.size(), 1);
        EXPECT_TRUE(
            op.boxes[0].startsWith("16|Connect to data warehouse server|Error while "
                                   "connecting to : no such server"))
            << op.boxes[0].toStdString();
        EXPECT_EQ(record.Status(), 1);
        EXPECT_TRUE(record.Message().startsWith("Error while connecting to : no such server"));
        EXPECT_TRUE(record.EndTime().isValid());
        EXPECT_EQ(readAll(status), "failure\r\n");
        const QString log = QString::fromUtf8(readAll(home.file("run.log")));
        EXPECT_EQ(log.count("Error while connecting to : no such server"), 2)
            << "reported, then logged once more";
    }
    op.boxes.clear();
    QFile::remove(status);
    {  // The database has no dwm_data_link table.
        open("Empty");
        RookJobHistory record;
        frmRunnerMain f;
        f.SetJobHistory(&record);
        fill(f);
        f.uRookConnectDW.DatabaseName = "Empty";
        EXPECT_FALSE(f.getDataLinkInfo());
        EXPECT_EQ(op.boxes, QStringList({"16|Checking data warehouse database|dwm_data_link table "
                                         "not found in specified data warehouse database.\r\n"
                                         "Select a different database"}));
        EXPECT_EQ(record.Status(), 2);
        EXPECT_EQ(record.Message(),
                  "Table dwm_data_link not found in specified data warehouse database.");
        EXPECT_EQ(readAll(status), "failure\r\n");
        EXPECT_EQ(f.lstDataLinks.Count(), 0);
    }
}

TEST_F(FormModel, TestConnectionReportsOnlyFailures) {
    frmRunnerMain f;
    f.uRookConnectDTS.ServerName = "(local)";
    f.uRookConnectDTS.TrustedLogin = true;
    f.TestConnection(f.uRookConnectDTS);
    EXPECT_TRUE(op.boxes.isEmpty()) << op.boxes.join('\n').toStdString();
    f.uRookConnectDW.ServerName = "elsewhere";
    f.TestConnection(f.uRookConnectDW);
    ASSERT_EQ(op.boxes.size(), 1);
    EXPECT_TRUE(op.boxes[0].startsWith("16|Pendrill|Error while connecting to : elsewhere\r\n"))
        << op.boxes[0].toStdString();
    EXPECT_EQ(op.pointers, QList<int>({11, 0, 11, 0}));
}

}  // namespace
