// The model and package lists, the data-link list of the data-source page and its editor panels.

#include <QDateTime>

#include "app/MainFormModel.h"
#include "datasources/DataLink.h"
#include "datasources/DataLinkCatalogue.h"
#include "datasources/DataSourceSections.h"
#include "datasources/PackageCatalogue.h"
#include "datasources/WarehouseConnection.h"
#include "history/JobRecord.h"
#include "util/OperatorInterface.h"
#include "util/RunLog.h"
#include "util/StatusFile.h"

namespace {

const QString kConnectTitle = QStringLiteral("Connect to data warehouse server");

}  // namespace

void MainFormModel::OpenModelList() {
    packageCatalogue_ = std::make_unique<PackageCatalogue>();
    PackageCatalogue& catalogue = *packageCatalogue_;
    catalogue.strSQLServer = packageServerWidget.ServerName;
    catalogue.blnSQLTrustedLogin = packageServerWidget.TrustedLogin;
    if (!packageServerWidget.TrustedLogin) {
        catalogue.strSQLUser = packageServerWidget.UserName;
        catalogue.strSQLPassword = packageServerWidget.Password;
    }
    // An unreachable server or an empty store simply lists nothing.
    catalogue.RetrievePackages();
    catalogue.FillComboBoxWithETLModels(cmbETLModel);
    cmbETLPackage.SetCurrentIndex(-1);
}

void MainFormModel::OpenPackageList() {
    if (packageCatalogue_)
        packageCatalogue_->FillComboBoxWithPackageFromETLModel(cmbETLPackage, cmbETLModel.Text());
}

void MainFormModel::ChooseModel(int index) {
    cmbETLModel.SetCurrentIndex(index);
    ClearDataLinks();
    cmbETLPackage.Clear();
    dataLinksOutdated_ = true;
}

void MainFormModel::ChoosePackage(int index) {
    cmbETLPackage.SetCurrentIndex(index);
    if (cbDefaultLogFilesDir)
        SetDefaultLogFilesDir();
    Page2Available = IsEtlModelPackage(cmbETLPackage.Text());
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
    OperatorInterface& op = Operator();
    op.SetMousePointer(OperatorInterface::HourglassPointer);
    if (!warehouseServerWidget.DatabaseName.isEmpty() && !cmbETLPackage.Text().isEmpty()) {
        if (getDataLinkInfo())
            dataLinksOutdated_ = false;
    } else {
        lstDataLinks.Clear();
        LogMessage(QStringLiteral("No DTS package or data warehouse database specified."), true, 16,
                   kConnectTitle);
    }
    op.SetMousePointer(OperatorInterface::DefaultPointer);
}

void MainFormModel::ClearDataLinks() {
    ReleaseDataSources();
    // The records the window pointed into are gone with the collection.
    currentDataSource_ = nullptr;
    panelDataSource_ = nullptr;
    lstDataLinks.Clear();
    if (currentPanel_ != DataLinkPanel::None)
        ShowPanel(DataLinkPanel::None);
}

bool MainFormModel::getDataLinkInfo() {
    const ServerConnectionModel& dw = warehouseServerWidget;
    QString errorText;
    JobRecord& record = JobHistory();
    const auto closeRecord = [&](qint32 status, const QString& message) {
        record.setStatus(status);
        record.setMessage(message);
        record.setEndTime(QDateTime::currentDateTime());
        record.Close(4, QStringLiteral("Pendrill"),
                     JobRecord::CloseArgumentsFor(QStringLiteral("DTS"), Settings.DTSPackageName));
    };
    if (!ConnectToDWServer(dw.ServerName, dw.TrustedLogin, dw.UserName, dw.Password,
                           dw.DatabaseName, 20, &errorText)) {
        LogMessage(errorText, true, 16, kConnectTitle);
        closeRecord(1, errorText);
        LogInfo(errorText);
        StatusFailure();
        return false;
    }
    if (!LoadDataLinkList(cmbETLPackage.Text(), lstDataLinks)) {
        closeRecord(2, QStringLiteral(
                           "Table dwm_data_link not found in specified data warehouse database."));
        StatusFailure();
        return false;
    }
    if (!PendrillConfigFile.isEmpty())
        ReadDataSourceSections(PendrillConfigFile);
    return true;
}

void MainFormModel::ChooseDataLink(int index) {
    lstDataLinks.SetCurrentIndex(index);
    currentDataSource_ = index >= 0 ? FindDataSource(lstDataLinks.Text()) : nullptr;
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
