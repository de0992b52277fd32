// Remote data of a run: the data sources of the package's ETL model that receive their files
// over FTP or from a share. This version cannot fetch remote data yet: a model without such a
// data source passes, one with such a data source fails the run with a line that names it.

#include "config/ExecDTSPackage.h"
#include "datasources/cDataSources.h"
#include "datasources/modDataLinkInfo.h"
#include "util/ErrLogging.h"

bool ExecDTSPackage::HandleRemoteData() {
    // The data sources are read afresh from the catalogue, not taken from the window.
    cDataSources sources;
    QString error;
    if (!sources.Load(GetEtlModelName(DTSPackageName), &error)) {
        LogInfo(QStringLiteral("Error: data sources for remote data not read: ") + error);
        return false;
    }
    bool result = true;
    for (const cDataSource& ds : sources) {
        if (ds.intTransferData != cDataSource::TransferFtp &&
            ds.intTransferData != cDataSource::TransferShare)
            continue;
        LogInfo(QStringLiteral("Remote data of data source '%1' (%2 %3) cannot be fetched: "
                               "remote transfer is not available in this version of Pendrill.")
                    .arg(ds.strName,
                         ds.intTransferData == cDataSource::TransferFtp ? QStringLiteral("FTP")
                                                                        : QStringLiteral("share"),
                         ds.intTransferData == cDataSource::TransferFtp
                             ? ds.strFTPServer + QLatin1Char(':') + ds.strRemoteDir
                             : ds.strRemoteDir));
        result = false;
    }
    return result;
}
