// The flat-file panel in the main window: chosen by the data link's type, bound to its data
// source, and its edits saved with the configuration.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>

#include "app/FormModelFixture.h"
#include "datasources/cDataSource.h"
#include "gui/GuiOperator.h"
#include "gui/MainWindow.h"
#include "gui/ctDLlFlatFile.h"

namespace {

class FlatFileWindowTest : public FormModel {
  protected:
    void SetUp() override {
        FormModel::SetUp();
        storePackages({"Sales_Overall"});
        makeWarehouse({1, 3, 8, 2});
        form_ = std::make_unique<frmRunnerMain>();
        form_->InitFormFields();
        window_ = std::make_unique<RunnerMainWindow>(*form_);
        gui_.AttachMainWindow(window_.get());
        SetOperator(&gui_);
        window_->show();
    }
    void TearDown() override {
        window_.reset();
        form_.reset();
        SetOperator(&op);
        FormModel::TearDown();
    }
    int row(const QString& name) const {
        const auto found = window_->lstDataLinks->findItems(name, Qt::MatchExactly);
        return found.isEmpty() ? -1 : window_->lstDataLinks->row(found.first());
    }

    std::unique_ptr<frmRunnerMain> form_;
    std::unique_ptr<RunnerMainWindow> window_;
    GuiOperator gui_;
};

}  // namespace

TEST_F(FlatFileWindowTest, ChosenByTypeBoundAndSaved) {
    RunnerMainWindow& w = *window_;
    fill(*form_);
    w.tabDataInfo->setCurrentIndex(2);
    ASSERT_GE(row("Link3"), 0);
    auto* panel = w.findChild<ctDLlFlatFile*>(QStringLiteral("ctDLlFlatFileOBJ"));
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(w.DataLinkPanels.at(1), panel);

    // Types 3 and 8 show the flat-file panel bound to the data source, whose database fields
    // are cleared; type 2 keeps it and hands it that data source; type 1 hides it.
    for (const char* link : {"Link3", "Link8", "Link2"}) {
        w.lstDataLinks->setCurrentRow(row(link));
        EXPECT_TRUE(panel->isVisible()) << link;
        ASSERT_NE(panel->objDataSource(), nullptr) << link;
        EXPECT_EQ(panel->objDataSource()->strName, link);
        EXPECT_TRUE(panel->objDataSource()->strDSServer.isEmpty()) << link;
        EXPECT_EQ(panel->txtSourceDataDir->text(), "/data/") << link;
    }
    w.lstDataLinks->setCurrentRow(row("Link1"));
    EXPECT_FALSE(panel->isVisible());

    // Edits go straight into the data source and reach dwm_data_link when saved.
    w.lstDataLinks->setCurrentRow(row("Link3"));
    cDataSource* source = panel->objDataSource();
    panel->txtSourceDataDir->setText("/night/in");
    panel->cbSourceCopyRemData->click();
    panel->optSourceFromFTP->click();
    panel->txtSourceRemDataDir->setText("/out");
    panel->txtSourceFTPServer->setText("ftp.example");
    panel->txtSourceFTPPassword->setText("abc");
    panel->txtSourceRemPollInterval->setText("015");
    EXPECT_EQ(source->strDSDirectory, "/night/in");
    EXPECT_EQ(source->intTransferData, 1);
    EXPECT_EQ(source->intPollInterval, 15);

    const QString file = home.file("flat.etl");
    form_->SaveConfiguration(file);
    // The configuration file's data-source section holds the edits as well.
    EXPECT_TRUE(testsupport::readAll(file).contains("ftp.example"));
    const QString where = " FROM dwm_data_link WHERE source_name = 'Link3'";
    EXPECT_EQ(column("SELECT ds_directory" + where), "/night/in/");
    EXPECT_EQ(column("SELECT remote_directory" + where), "/out/");
    EXPECT_EQ(column("SELECT transfer_data" + where), "1");
    EXPECT_EQ(column("SELECT ftp_server" + where), "ftp.example");
    EXPECT_EQ(column("SELECT ftp_password" + where), "nop");
    EXPECT_EQ(column("SELECT poll_interval" + where), "15");
    EXPECT_EQ(column("SELECT ds_server" + where), "");
}
