// The file dialogs of the main window as the form model describes them, and the event viewer
// where no system-log viewer is installed.

#include <gtest/gtest.h>

#include "FormModelFixture.h"

namespace {

QStringList describe(const frmRunnerMain::FileDialogSettings& d) {
    return {d.Title,     d.Filter,   d.DefaultExtension,
            d.Directory, d.FileName, d.Save ? "save" : "open"};
}

TEST_F(FormModel, FileDialogsProposeTheLastChosenFile) {
    frmRunnerMain f;
    EXPECT_EQ(
        describe(f.ConfigFileDialog(false)),
        QStringList({"Pendrill: Open configuration", "ETL Files (*.etl)", "etl", "", "", "open"}));
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

TEST_F(FormModel, EventViewerWithoutALogViewerNamesJournalctl) {
    frmRunnerMain f;
    f.ShowEventViewer();
    ASSERT_EQ(op.boxes.size(), 1);
    EXPECT_TRUE(op.boxes.at(0).startsWith("64|Pendrill|")) << op.boxes.at(0).toStdString();
    EXPECT_TRUE(op.boxes.at(0).contains("journalctl -t Pendrill"));
}

}  // namespace
