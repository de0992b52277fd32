// The model and package lists, the data-link list of the data-source page and its editor panels.

#include <QDateTime>

#include "app/MainFormModel.h"
#include "app/RunSequence.h"
#include "datasources/DataLink.h"
#include "datasources/DataLinkCatalogue.h"
#include "datasources/PackageCatalogue.h"
#include "history/JobRecord.h"
#include "util/RunLog.h"
#include "util/StatusFile.h"

namespace {

const QString kConnectTitle = QStringLiteral("Connect to data warehouse server");

}  // namespace

void MainFormModel::DTSConnectionChanged() {
    ClearDataLinks();
}

void MainFormModel::DWConnectionChanged() {
    ClearDataLinks();
    dataLinksOutdated_ = true;
}

void MainFormModel::OpenModelList() {
    packageCatalogue_ =
        ReadPackageCatalogue(packageServerWidget.ServerName, packageServerWidget.TrustedLogin,
                             packageServerWidget.UserName, packageServerWidget.Password);
    packageCatalogue_->FillComboBoxWithETLModels(models);
    packages.SetCurrentIndex(-1);
}

void MainFormModel::OpenPackageList() {
    if (packageCatalogue_)
        packageCatalogue_->FillComboBoxWithPackageFromETLModel(packages, models.Text());
}

void MainFormModel::ChooseModel(int index) {
    models.SetCurrentIndex(index);
    ClearDataLinks();
    packages.Clear();
    dataLinksOutdated_ = true;
}

void MainFormModel::ChoosePackage(int index) {
    packages.SetCurrentIndex(index);
    if (useDefaultLogFilesDir)
        SetDefaultLogFilesDir();
    Page2Available = IsEtlModelPackage(packages.Text());
}

void MainFormModel::ChangePage(int page) {
    if (page == DataSourcePage && !Page2Available)
        return;
    const int previous = CurrentPage;
    CurrentPage = page;
    if (page == DataSourcePage && previous != DataSourcePage)
        RefreshDataLinks();
}

void MainFormModel::RefreshDataLinks() {
    if (!dataLinksOutdated_)
        return;
    ClearDataLinks();
    MainFormView& view = View();
    view.SetMousePointer(MainFormView::HourglassPointer);
    if (!warehouseServerWidget.DatabaseName.isEmpty() && !packages.Text().isEmpty()) {
        if (getDataLinkInfo())
            dataLinksOutdated_ = false;
    } else {
        dataLinks.Clear();
        Log.Message(QStringLiteral("No DTS package or data warehouse database specified."), true,
                    16, kConnectTitle);
    }
    view.SetMousePointer(MainFormView::DefaultPointer);
}

void MainFormModel::ClearDataLinks() {
    Warehouse.ReleaseLinks();
    // The records the window pointed into are gone with the collection.
    currentDataSource_ = nullptr;
    panelDataSource_ = nullptr;
    dataLinks.Clear();
    if (currentPanel_ != DataLinkPanel::None)
        ShowPanel(DataLinkPanel::None);
}

bool MainFormModel::getDataLinkInfo() {
    return RunSequence::LoadDataLinks(Warehouse, warehouseServerWidget, packages.Text(),
                                      Settings.DTSPackageName, PendrillConfigFile, dataLinks,
                                      JobHistory(), Log);
}

void MainFormModel::ChooseDataLink(int index) {
    dataLinks.SetCurrentIndex(index);
    currentDataSource_ = index >= 0 ? Warehouse.Find(dataLinks.Text()) : nullptr;
    if (currentDataSource_ == nullptr)
        return;
    DataLinkPanel panel = currentPanel_;
    switch (currentDataSource_->etlType) {
        case DataLink::SqlServer:
            panel = DataLinkPanel::SQLServer;
            break;
        case DataLink::FlatFiles:
        case DataLink::FlatFiles2:
            panel = DataLinkPanel::FlatFile;
            break;
        case DataLink::Excel:
            panel = DataLinkPanel::Excel;
            break;
        case DataLink::Access:
            panel = DataLinkPanel::Access;
            break;
        case DataLink::Oracle:
            panel = DataLinkPanel::Oracle;
            break;
        case DataLink::UniversalDataLink:
            panel = DataLinkPanel::UDL;
            break;
        case DataLink::XmlFile:
            panel = DataLinkPanel::XMLFiles;
            break;
        default:  // any other type keeps the panel that is shown
            break;
    }
    ShowPanel(panel);
    if (currentPanel_ != DataLinkPanel::None)
        panelDataSource_ = currentDataSource_;
}

void MainFormModel::ShowPanel(DataLinkPanel panel) {
    currentPanel_ = panel;
    if (panel == DataLinkPanel::None)
        panelDataSource_ = nullptr;
}
