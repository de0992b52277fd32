#include "datasources/DataLinks.h"

#include "config/PasswordScrambler.h"
#include "datasources/FieldConversions.h"
#include "db/DbInterface.h"
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

DataLink* DataLinks::Add(const QString& modelName, const QString& name, qint32 etlType,
                         const QString& server, const QString& database, bool trustedLogin,
                         const QString& user, const QString& password, const QString& file,
                         const QString& directory, const QString& connectString,
                         qint32 transferData, const QString& ftpServer, const QString& ftpUser,
                         const QString& ftpPassword, const QString& remoteDirectory,
                         short pollDuration, short pollInterval, const QString& key) {
    if (!key.isEmpty() && keys_.contains(key))
        return nullptr;
    auto ds = std::make_unique<DataLink>();
    ds->modelName = modelName;
    ds->name = name;
    ds->etlType = etlType;
    ds->server = server;
    ds->database = database;
    ds->trustedLogin = trustedLogin;
    ds->user = user;
    ds->password = password;
    ds->file = file;
    ds->directory = directory;
    ds->connectString = connectString;
    ds->transferData = static_cast<short>(transferData);
    ds->ftpServer = ftpServer;
    ds->ftpUser = ftpUser;
    ds->ftpPassword = ftpPassword;
    ds->remoteDirectory = remoteDirectory;
    ds->pollDuration = pollDuration;
    ds->pollInterval = pollInterval;
    ds->remoteDataHandled = false;
    DataLink* added = ds.get();
    items_.push_back(std::move(ds));
    if (!key.isEmpty())
        keys_.insert(key, added);
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
    ds.password = Rot13(text("ds_password"));
    ds.ftpPassword = Rot13(text("ftp_password"));
    ds.modelName = text("model");
    ds.name = text("source_name");
    ds.etlType = *type;
    ds.server = text("ds_server");
    ds.database = text("ds_database");
    ds.trustedLogin = GetFieldBoolean(rs.Field(QStringLiteral("ds_trusted_login")), false);
    ds.user = text("ds_user");
    ds.file = text("ds_file");
    ds.directory = text("ds_directory");
    ds.connectString = text("ds_connect_string");
    ds.transferData = integer("transfer_data");
    ds.ftpServer = text("ftp_server");
    ds.ftpUser = text("ftp_user");
    ds.remoteDirectory = text("remote_directory");
    ds.pollDuration = integer("poll_duration");
    ds.pollInterval = integer("poll_interval");
    ds.remoteDataHandled = false;
    return true;
}

bool DataLinks::Load(DbConnection& connection, const QString& modelName, QStringList* skipped,
                     QString* error) {
    const QString table = QString::fromLatin1(DataLinkTable);
    DbRecordset rs;
    if (!rs.Open(QStringLiteral("SELECT * FROM %1 WHERE %1.model = ?").arg(table), connection,
                 {TextParameter(modelName)})) {
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
            if (skipped != nullptr)
                *skipped << QStringLiteral("Data link '%1' of model '%2' skipped: %3.")
                                .arg(GetFieldText(rs.Field(QStringLiteral("source_name")),
                                                  QString()),
                                     GetFieldText(rs.Field(QStringLiteral("model")), QString()),
                                     why);
            continue;
        }
        Add(ds.modelName, ds.name, ds.etlType, ds.server, ds.database, ds.trustedLogin, ds.user,
            ds.password, ds.file, ds.directory, ds.connectString, ds.transferData, ds.ftpServer,
            ds.ftpUser, ds.ftpPassword, ds.remoteDirectory, ds.pollDuration, ds.pollInterval);
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

DataLink* DataLinks::FindByName(const QString& name) const {
    for (const auto& ds : items_)
        if (ds->name == name)
            return ds.get();
    return nullptr;
}
