#include "datasources/DataLinks.h"

#include "config/PasswordScrambler.h"
#include "datasources/FieldConversions.h"
#include "datasources/WarehouseConnection.h"
#include "db/DbInterface.h"
#include "util/RunLog.h"
#include "util/Errors.h"

const char* const DataLinkColumns[18] = {
    "model",
    "source_name",
    "Type",
    "ds_server",
    "ds_database",
    "ds_trusted_login",
    "ds_user",
    "ds_password",
    "ds_file",
    "ds_directory",
    "ds_connect_string",
    "transfer_data",
    "ftp_server",
    "ftp_user",
    "ftp_password",
    "remote_directory",
    "poll_interval",
    "poll_duration",
};

DataLink* DataLinks::Add(const QString& strModelName, const QString& strName, qint32 etlType,
                               const QString& strDSServer, const QString& strDSDatabase,
                               bool blnDSTrustedLogin, const QString& strDSUser,
                               const QString& strDSPassword, const QString& strDSFile,
                               const QString& strDSDirectory, const QString& strDSConnectString,
                               qint32 intTransferData, const QString& strFTPServer,
                               const QString& strFTPUser, const QString& strFTPPassword,
                               const QString& strRemoteDir, short intPollDuration,
                               short intPollInterval, const QString& sKey) {
    if (!sKey.isEmpty() && keys_.contains(sKey))
        return nullptr;
    auto ds = std::make_unique<DataLink>();
    ds->strModelName = strModelName;
    ds->strName = strName;
    ds->etlType = etlType;
    ds->strDSServer = strDSServer;
    ds->strDSDatabase = strDSDatabase;
    ds->blnDSTrustedLogin = blnDSTrustedLogin;
    ds->strDSUser = strDSUser;
    ds->strDSPassword = strDSPassword;
    ds->strDSFile = strDSFile;
    ds->strDSDirectory = strDSDirectory;
    ds->strDSConnectString = strDSConnectString;
    ds->intTransferData = static_cast<short>(intTransferData);
    ds->strFTPServer = strFTPServer;
    ds->strFTPUser = strFTPUser;
    ds->strFTPPassword = strFTPPassword;
    ds->strRemoteDir = strRemoteDir;
    ds->intPollDuration = intPollDuration;
    ds->intPollInterval = intPollInterval;
    ds->blnHandledRemoteData = false;
    DataLink* added = ds.get();
    items_.push_back(std::move(ds));
    if (!sKey.isEmpty())
        keys_.insert(sKey, added);
    return added;
}

bool ReadDataLinkRow(const DbRecordset& rs, DataLink& ds) {
    auto text = [&](const char* column) {
        return GetFieldText(rs.Field(QString::fromLatin1(column)), QString());
    };
    auto integer = [&](const char* column) {
        return GetFieldInteger(rs.Field(QString::fromLatin1(column)), 0);
    };
    const std::optional<qint32> type = FieldToLong(rs.Field(QStringLiteral("Type")));
    if (!type)
        return false;
    ds.strDSPassword = Rot13(text("ds_password"));
    ds.strFTPPassword = Rot13(text("ftp_password"));
    ds.strModelName = text("model");
    ds.strName = text("source_name");
    ds.etlType = *type;
    ds.strDSServer = text("ds_server");
    ds.strDSDatabase = text("ds_database");
    ds.blnDSTrustedLogin = GetFieldBoolean(rs.Field(QStringLiteral("ds_trusted_login")), false);
    ds.strDSUser = text("ds_user");
    ds.strDSFile = text("ds_file");
    ds.strDSDirectory = text("ds_directory");
    ds.strDSConnectString = text("ds_connect_string");
    ds.intTransferData = integer("transfer_data");
    ds.strFTPServer = text("ftp_server");
    ds.strFTPUser = text("ftp_user");
    ds.strRemoteDir = text("remote_directory");
    ds.intPollDuration = integer("poll_duration");
    ds.intPollInterval = integer("poll_interval");
    ds.blnHandledRemoteData = false;
    return true;
}

bool DataLinks::Load(const QString& strModelName, QString* error) {
    DbConnection* dw = GetDWConnection();
    if (dw == nullptr) {
        return Fail(error,
                    QStringLiteral("There is no open connection to the data warehouse database."));
    }
    return Load(*dw, strModelName, error);
}

bool DataLinks::Load(DbConnection& connection, const QString& strModelName, QString* error) {
    const QString table = QString::fromLatin1(DataLinkTable);
    DbRecordset rs;
    if (!rs.Open(QStringLiteral("SELECT * FROM %1 WHERE %1.model = ?").arg(table), connection,
                 {TextParameter(strModelName)})) {
        return Fail(error, rs.LastError());
    }
    for (const char* column : DataLinkColumns) {
        if (rs.FieldIndex(QString::fromLatin1(column)) < 0) {
            return Fail(error, QStringLiteral("Item cannot be found in the collection "
                                              "corresponding to the requested name or ordinal: %1")
                                   .arg(QString::fromLatin1(column)));
        }
    }
    for (; !rs.IsEOF(); rs.MoveNext()) {
        DataLink ds;
        if (!ReadDataLinkRow(rs, ds)) {
            const QVariant type = rs.Field(QStringLiteral("Type"));
            const QString why =
                type.isNull()
                    ? QStringLiteral("its Type is NULL")
                    : QStringLiteral("its Type '%1' is not a number in range").arg(type.toString());
            LogInfo(QStringLiteral("Data link '%1' of model '%2' skipped: %3.")
                        .arg(GetFieldText(rs.Field(QStringLiteral("source_name")), QString()),
                             GetFieldText(rs.Field(QStringLiteral("model")), QString()), why));
            continue;
        }
        Add(ds.strModelName, ds.strName, ds.etlType, ds.strDSServer, ds.strDSDatabase,
            ds.blnDSTrustedLogin, ds.strDSUser, ds.strDSPassword, ds.strDSFile, ds.strDSDirectory,
            ds.strDSConnectString, ds.intTransferData, ds.strFTPServer, ds.strFTPUser,
            ds.strFTPPassword, ds.strRemoteDir, ds.intPollDuration, ds.intPollInterval);
    }
    rs.Close();
    return true;
}

DataLink* DataLinks::Item(int index) const {
    if (index < 1 || index > Count())
        return nullptr;
    return items_[static_cast<size_t>(index - 1)].get();
}

DataLink* DataLinks::Item(const QString& key) const {
    return keys_.value(key, nullptr);
}

void DataLinks::Clear() {
    keys_.clear();
    items_.clear();
}

DataLink* DataLinks::getDSByName(const QString& name) const {
    for (const auto& ds : items_)
        if (ds->strName == name)
            return ds.get();
    return nullptr;
}
