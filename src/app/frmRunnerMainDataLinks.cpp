// The model and package lists, the data-link list of the data-source page and its editor panels.

#include <QDateTime>

#include "app/frmRunnerMain.h"
#include "datasources/DataSourceSections.h"
#include "datasources/ETLPackages.h"
#include "datasources/cDataSource.h"
#include "datasources/modDBConnection.h"
#include "datasources/modDataLinkInfo.h"
#include "rook/RookJobHistory.h"
#include "util/ErrLogging.h"
#include "util/KelmStatusFile.h"
#include "util/OperatorInterface.h"

namespace {

const QString kConnectTitle = QStringLiteral("Connect to data warehouse server");

}  // namespace

void frmRunnerMain::OpenModelList() {
    packageCatalogue_ = std::make_unique<ETLPackages>();
    ETLPackages& catalogue = *packageCatalogue_;
    catalogue.strSQLServer = uRookConnectDTS.ServerName;
    catalogue.blnSQLTrustedLogin = uRookConnectDTS.TrustedLogin;
    if (!uRookConnectDTS.TrustedLogin) {
        catalogue.strSQLUser = uRookConnectDTS.UserName;
        catalogue.strSQLPassword = uRookConnectDTS.Password;
    }
    // An unreachable server or an empty store simply lists nothing.
    catalogue.RetrievePackages();
    catalogue.FillComboBoxWithETLModels(cmbETLModel);
    cmbETLPackage.SetCurrentIndex(-1);
}

void frmRunnerMain::OpenPackageList() {
    if (packageCatalogue_)
        packageCatalogue_->FillComboBoxWithPackageFromETLModel(cmbETLPackage, cmbETLModel.Text());
}

void frmRunnerMain::ChooseModel(int index) {
    cmbETLModel.SetCurrentIndex(index);
    ClearDataLinks();
    cmbETLPackage.Clear();
    dataLinksOutdated_ = true;
}

void frmRunnerMain::ChoosePackage(int index) {
    cmbETLPackage.SetCurrentIndex(index);
    if (cbDefaultLogFilesDir)
        SetDefaultLogFilesDir();
    Page2Available = IsEtlModelPackage(cmbETLPackage.Text());
}

void frmRunnerMain::ChangePage(int page) {
    if (page == DataSourcePage && !Page2Available)
        return;
    const int previous = CurrentPage;
    CurrentPage = page;
    if (page == DataSourcePage && previous != DataSourcePage)
        RefreshDataLinks();
}

void frmRunnerMain::RefreshDataLinks() {
    if (!dataLinksOutdated_)
        return;
    ClearDataLinks();
    OperatorInterface& op = Operator();
    op.SetMousePointer(OperatorInterface::HourglassPointer);
    if (!uRookConnectDW.DatabaseName.isEmpty() && !cmbETLPackage.Text().isEmpty()) {
        if (getDataLinkInfo())
            dataLinksOutdated_ = false;
    } else {
        lstDataLinks.Clear();
        LogMessage(QStringLiteral("No DTS package or data warehouse database specified."), true, 16,
                   kConnectTitle);
    }
    op.SetMousePointer(OperatorInterface::DefaultPointer);
}

void frmRunnerMain::ClearDataLinks() {
    ReleaseDataSources();
    // The records the window pointed into are gone with the collection.
    currentDataSource_ = nullptr;
    panelDataSource_ = nullptr;
    lstDataLinks.Clear();
    if (currentPanel_ != DataLinkPanel::None)
        ShowPanel(DataLinkPanel::None);
}

bool frmRunnerMain::getDataLinkInfo() {
    const RookConnectModel& dw = uRookConnectDW;
    QString errorText;
    RookJobHistory& record = JobHistory();
    const auto closeRecord = [&](qint32 status, const QString& message) {
        record.setStatus(status);
        record.setMessage(message);
        record.setEndTime(QDateTime::currentDateTime());
        record.Close(
            4, QStringLiteral("Pendrill"),
            RookJobHistory::CloseArgumentsFor(QStringLiteral("DTS"), Settings.DTSPackageName));
    };
    if (!ConnectToDWServer(dw.ServerName, dw.TrustedLogin, dw.UserName, dw.Password, errorText,
                           dw.DatabaseName, 20)) {
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

void frmRunnerMain::ChooseDataLink(int index) {
    lstDataLinks.SetCurrentIndex(index);
    currentDataSource_ = index >= 0 ? FindDataSource(lstDataLinks.Text()) : nullptr;
    if (currentDataSource_ == nullptr)
        return;
    DataLinkPanel panel = currentPanel_;
    switch (currentDataSource_->etlType) {
        case cDataSource::SqlServer:
            panel = DataLinkPanel::SQLServer;
            break;
        case cDataSource::FlatFiles:
        case cDataSource::FlatFiles2:
            panel = DataLinkPanel::FlatFile;
            break;
        case cDataSource::Excel:
            panel = DataLinkPanel::Excel;
            break;
        case cDataSource::Access:
            panel = DataLinkPanel::Access;
            break;
        case cDataSource::Oracle:
            panel = DataLinkPanel::Oracle;
            break;
        case cDataSource::UniversalDataLink:
            panel = DataLinkPanel::UDL;
            break;
        case cDataSource::XmlFile:
            panel = DataLinkPanel::XMLFiles;
            break;
        default:  // any other type keeps the panel that is shown
            break;
    }
    ShowPanel(panel);
    if (currentPanel_ != DataLinkPanel::None)
        panelDataSource_ = currentDataSource_;
}

void frmRunnerMain::ShowPanel(DataLinkPanel panel) {
    currentPanel_ = panel;
    if (panel == DataLinkPanel::None)
        panelDataSource_ = nullptr;
}
