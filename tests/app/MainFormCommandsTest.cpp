#include <gtest/gtest.h>
#include <sys/stat.h>

#include "MainFormFixture.h"
#include "datasources/DataSourceSections.h"
#include "history/JobRecord.h"

using testsupport::readAll;
using testsupport::writeAll;

namespace {

QString lastUsed() {
    return SettingsStore().GetSetting("Pendrill", "LastUsedConfigFile", "<unset>");
}

// The configuration file the form's settings and data links write, for comparisons.
QByteArray written(MainFormModel& form, const QString& file) {
    RunSettings& settings = form.Settings;
    const QString own = settings.PendrillConfigFile;
    settings.PendrillConfigFile = file;
    EXPECT_TRUE(settings.WriteConfigFile());
    WriteDataSourceSections(file, *form.Warehouse.Links());
    settings.PendrillConfigFile = own;
    return readAll(file);
}

// Save with data links edited in a panel, open again, New and save over the same file. (Saving
// the data links on PostgreSQL: datasources/DataLinkCatalogueTest.)
TEST_F(FormModel, RoundTrip) {
    storePackages({"Sales_Init", "Sales_Overall"});
    makeWarehouse({1, 3});
    QDir().mkpath(home.file("cfg dir"));
    const QString file = home.file("cfg dir/job one.etl");

    InteractiveForm f;
    fill(f);
    f.writeCompletionEvent = true;
    f.truncateErrorFile = false;
    f.ChangePage(MainFormModel::DataSourcePage);
    f.ChooseDataLink(f.dataLinks.Items().indexOf("Link3"));
    ASSERT_EQ(f.CurrentPanel(), MainFormModel::DataLinkPanel::FlatFile);
    f.PanelDataSource()->directory = "/incoming/";
    ASSERT_TRUE(f.SaveNeedsName());
    f.SaveConfiguration(file);
    EXPECT_TRUE(op.boxes.isEmpty()) << op.boxes.join('\n').toStdString();
    EXPECT_EQ(f.PendrillConfigFile, file);
    EXPECT_EQ(column("SELECT ds_directory FROM dwm_data_link WHERE source_name = 'Link3'"),
              "/incoming/")
        << "the edited data source is saved back to the warehouse";

    // The warehouse changes; the configuration's own data-source section wins on opening.
    ASSERT_TRUE(open(dw)->Execute(
        "UPDATE dwm_data_link SET ds_directory = '/other/' WHERE source_name = 'Link3'"));
    InteractiveForm g;
    g.OpenConfiguration(file);
    EXPECT_TRUE(op.boxes.isEmpty()) << op.boxes.join('\n').toStdString();
    g.FormToSettings();
    EXPECT_EQ(written(g, home.file("g.etl")), written(f, home.file("f.etl")));
    EXPECT_TRUE(g.Enabled.truncateErrorFile);
    EXPECT_TRUE(g.DTSCheckResult() && g.DWCheckResult());
    EXPECT_EQ(g.dataLinks.Items(), QStringList({"Link1", "Link3"}));
    ASSERT_NE(g.Warehouse.Find("Link3"), nullptr);
    EXPECT_EQ(g.Warehouse.Find("Link3")->directory, "/incoming/");

    // New keeps the file: Save after New overwrites it, here with no package.
    g.NewConfiguration();
    EXPECT_EQ(g.PendrillConfigFile, file);
    EXPECT_EQ(g.Caption, "Pendrill : [job one.etl]");
    EXPECT_TRUE(g.packageServerWidget.ServerName.isEmpty());
    EXPECT_EQ(g.packageServerWidget.UserName, user) << "only the server name is cleared";
    EXPECT_EQ(g.models.Count() + g.packages.Count() + g.dataLinks.Count(), 0);
    EXPECT_TRUE(g.truncateErrorFile && g.useDefaultLogFilesDir && !g.writeCompletionEvent);
    EXPECT_EQ(g.warehouseServerWidget.DatabaseName, dw)
        << "status 0: the warehouse control is kept";
    g.warehouseServerWidget.Status = ServerConnectionModel::StatusConnected;
    g.NewConfiguration();
    EXPECT_EQ(g.warehouseServerWidget.ServerName + g.warehouseServerWidget.DatabaseName, "(local)");
    g.warehouseServerWidget = f.warehouseServerWidget;
    g.packageServerWidget.ServerName = server;
    g.SaveConfiguration();
    RunSettings reread;
    reread.PendrillConfigFile = file;
    ASSERT_TRUE(reread.ReadConfigFile());
    EXPECT_TRUE(reread.DTSPackageName.isEmpty());
    EXPECT_FALSE(reread.WriteCompletionStatusToNT);
}

TEST_F(FormModel, LoadAndSaveFailures) {
    storePackages({"Sales_Overall"});
    const QString missing = home.file("nowhere/gone.etl");
    InteractiveForm f;
    f.SetLogFileText(home.file("run.log"));
    EXPECT_FALSE(f.LoadConfiguration(missing));
    EXPECT_EQ(f.PendrillConfigFile, missing) << "a failed read still names the file";
    EXPECT_EQ(op.boxes,
              QStringList({"16|Pendrill error|Error: Can't load config file " + missing}));

    // Nothing named: nothing written, nothing said.
    InteractiveForm unnamed;
    op.boxes.clear();
    EXPECT_FALSE(unnamed.SaveConfigurationFile(QString()));
    EXPECT_TRUE(op.boxes.isEmpty());

    // Data links that cannot be read from the warehouse stop the save.
    open("NoLinks");
    const QString file = home.file("refused.etl");
    InteractiveForm g;
    fill(g);
    g.warehouseServerWidget.DatabaseName = "NoLinks";
    op.boxes.clear();
    EXPECT_FALSE(g.SaveConfigurationFile(file));
    EXPECT_FALSE(QFile::exists(file));
    EXPECT_EQ(g.PendrillConfigFile, file);
    EXPECT_EQ(op.boxes.size(), 1);

    // A configuration whose package left the store: the model is found, the package is not.
    makeWarehouse();
    RunSettings s;
    s.PendrillConfigFile = file;
    s.DTSServer = "(local)";
    s.DTSServerTrustedLogin = true;
    s.DTSPackageName = "sales_OVERALL_v2";
    s.DWServer = "(local)";
    s.DWDatabaseName = "DW";
    ASSERT_TRUE(s.WriteConfigFile());
    // Opening it reads the data links at once, which needs the package.
    op.boxes.clear();
    InteractiveForm h;
    h.OpenConfiguration(file);
    EXPECT_EQ(h.models.Text(), "Sales");
    EXPECT_TRUE(h.packages.Text().isEmpty());
    EXPECT_EQ(op.boxes, QStringList({"16|Connect to data warehouse server|No DTS package or data "
                                     "warehouse database specified."}));
    EXPECT_EQ(lastUsed(), file);

    // A password the scrambling cannot keep is not saved changed: the save is refused.
    const QString passwordFile = home.file("password.etl");
    InteractiveForm p;
    fill(p);
    p.warehouseServerWidget.Password = "caf\u00e9";
    op.boxes.clear();
    EXPECT_FALSE(p.SaveConfigurationFile(passwordFile));
    EXPECT_FALSE(QFile::exists(passwordFile));
    ASSERT_EQ(op.boxes.size(), 1);
    EXPECT_TRUE(op.boxes.at(0).startsWith("16|Pendrill error|Error: Can't save config file "))
        << op.boxes.at(0).toStdString();
    EXPECT_TRUE(op.boxes.at(0).contains("DWPwd")) << op.boxes.at(0).toStdString();
    p.warehouseServerWidget.Password = "cafe";
    op.boxes.clear();
    EXPECT_TRUE(p.SaveConfigurationFile(passwordFile)) << op.boxes.join('\n').toStdString();
}

// The window test shows the job file written or "canceled"; here the texts and the settings.
TEST_F(FormModel, JobConfigurationMode) {
    storePackages({"Sales_Overall"});
    makeWarehouse();
    const QString job = home.file("job.cfg");
    const QString file = home.file("saved.etl");
    ASSERT_TRUE(writeAll(job, "older content\r\n"));

    InteractiveForm f;
    f.JobConfigMode = true;
    f.JobConfigFile = job;
    fill(f);
    f.Execute();
    EXPECT_EQ(op.boxes,
              QStringList({"16|Pendrill config mode|You did not save your current settings to an "
                           "Pendrill config file.\r\nSettings must be saved, because Pendrill "
                           "will read this info when \r\nthe job is executed."}));

    op.boxes.clear();
    f.PendrillConfigFile = file;
    f.Execute();
    EXPECT_TRUE(op.boxes.isEmpty()) << op.boxes.join('\n').toStdString();
    EXPECT_TRUE(QFile::exists(file)) << "the configuration is saved first";
    EXPECT_EQ(lastUsed(), file);

    InteractiveForm cancelled;
    cancelled.JobConfigMode = true;
    cancelled.JobConfigFile = job;
    cancelled.Close();
    EXPECT_EQ(lastUsed(), "") << "Close stores the (empty) current file too";

    // An unwritable job file is not an error.
    MainFormModel::WriteJobConfigFile(home.file("no dir/job.cfg"), "canceled");
    EXPECT_FALSE(QFile::exists(home.file("no dir/job.cfg")));
}

// The window test shows a missing package or database; here the missing error file.
TEST_F(FormModel, ExecuteAsksForTheErrorFile) {
    StopFlags::StopRequested = true;
    InteractiveForm f;
    f.SetView(&view);
    f.packages.SetText("Sales_Overall");
    f.warehouseServerWidget.DatabaseName = "DW";
    f.CurrentPage = 2;
    f.Execute();
    EXPECT_FALSE(StopFlags::StopRequested) << "Execute clears a stop request";
    EXPECT_EQ(op.boxes, QStringList({"16|DTS package info check input|Please fill in error file "
                                     "before executing DTS package"}));
    EXPECT_EQ(f.CurrentPage, 0);
    EXPECT_EQ(view.calls, QStringList({"page 0", "focus errorFile"}));
}

TEST_F(FormModel, ExecuteFillsTheJobHistory) {
    storePackages({"Sales_Overall"});
    makeWarehouse();
    JobRecord record;
    InteractiveForm f;
    f.SetJobHistory(&record);
    f.SetView(&view);
    fill(f);
    f.packageServerWidget.TrustedLogin = false;
    f.packageServerWidget.UserName = "loader";
    f.Execute();
    EXPECT_EQ(QStringList({record.SourceServer(), record.SourceDatabase(), record.SourceUser(),
                           record.TargetDatabase(), record.ExceptionFile()}),
              QStringList({"(local)", "DTS Local Packages", "loader", "DW", home.file("run.log")}));
    EXPECT_EQ(record.TargetUser(), record.CurrentUserName());
    EXPECT_TRUE(record.StartTime().isValid());
    EXPECT_TRUE(f.Enabled.showErrorFileButton);
    EXPECT_FALSE(f.Unloaded) << "the window stays open after a run";
    EXPECT_NE(f.Warehouse.Links(), nullptr) << "the data links were read before the run";

    f.Running = true;  // the window test shows the rest of a Close during a run
    f.Close();
    EXPECT_TRUE(StopFlags::RemoteStopRequested) << "the wait for remote data stops too";
    f.Running = false;
    f.Close();
    EXPECT_TRUE(f.Unloaded);

    f.SetLogFileText("/typed/but/not/run.log");
    f.ShowErrorFile();
    EXPECT_EQ(view.calls.last(), "edit " + home.file("run.log")) << "the log of the last run";
}

}  // namespace

// Save puts a password into a file that others could read: the file becomes its owner's alone,
// and the run log and the status bar say so.
TEST_F(FormModel, SavingAPasswordMakesAnOpenFilePrivate) {
    storePackages({"Sales_Overall"});
    makeWarehouse({1});
    const QString file = home.file("open.etl");
    ASSERT_TRUE(testsupport::writeAll(file, "[Package Info]\r\nPackage=Old\r\n"));
    ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0644), 0);
    InteractiveForm f;
    fill(f);
    f.packageServerWidget.Password = "secret";
    f.SaveConfiguration(file);
    EXPECT_TRUE(op.boxes.isEmpty()) << op.boxes.join('\n').toStdString();
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const QString notice = file + " could be read by other users (mode 0644); it holds a password";
    EXPECT_TRUE(QString::fromUtf8(testsupport::readAll(home.file("run.log"))).contains(notice));
}
