#include "datasources/DataLink.h"

#include "config/PasswordScrambler.h"
#include "datasources/DataLinks.h"
#include "datasources/FieldConversions.h"
#include "db/DbInterface.h"
#include "db/SqlDialect.h"
#include "util/Errors.h"
#include "util/FileUtils.h"

namespace {

// The row of one model and name, compared exactly whatever the server's collation: on a server
// that ignores case, "sales" is another model than "Sales".
QString selectRow(const DbConnection& connection) {
    const SqlDialect& d = connection.Dialect();
    return QStringLiteral("SELECT * FROM %1 WHERE %2 AND %3")
        .arg(QString::fromLatin1(DataLinkTable), d.ExactTextEquals(QStringLiteral("model")),
             d.ExactTextEquals(QStringLiteral("source_name")));
}

}  // namespace

bool DataLink::Save(DbConnection& connection, QString* error) {
    DbRecordset rs;
    // The names are bound, so quotes in them are just characters.
    if (!rs.Open(selectRow(connection), connection,
                 {TextParameter(modelName), TextParameter(name)}))
        return Fail(error, rs.LastError());

    if (etlType == FlatFiles) {
        AddBackslash(directory);
        if (transferData == TransferShare)
            AddBackslash(remoteDirectory);
        else if (transferData == TransferFtp)
            AddSlash(remoteDirectory);
    }

    const std::pair<const char*, QVariant> values[] = {
        {"ds_server", TextParameter(server)},
        {"ds_database", TextParameter(database)},
        {"ds_trusted_login", trustedLogin},
        {"ds_user", TextParameter(user)},
        {"ds_password", TextParameter(Rot13(password))},
        {"ds_file", TextParameter(file)},
        {"ds_directory", TextParameter(directory)},
        {"ds_connect_string", TextParameter(connectString)},
        {"transfer_data", static_cast<qint32>(transferData)},
        {"ftp_server", TextParameter(ftpServer)},
        {"ftp_user", TextParameter(ftpUser)},
        {"ftp_password", TextParameter(Rot13(ftpPassword))},
        {"remote_directory", TextParameter(remoteDirectory)},
        {"poll_interval", static_cast<int>(pollInterval)},
        {"poll_duration", static_cast<int>(pollDuration)},
    };
    for (const auto& [column, value] : values)
        if (!rs.SetField(QString::fromLatin1(column), value))
            return Fail(error, rs.LastError());
    if (!rs.Update())
        return Fail(error, rs.LastError());
    rs.Close();
    return true;
}

bool DataLink::Load(DbConnection& connection, const QString& modelName,
                    const QString& dataSourceName, QString* error) {
    DbRecordset rs;
    if (!rs.Open(selectRow(connection), connection,
                 {TextParameter(modelName), TextParameter(dataSourceName)}))
        return Fail(error, rs.LastError());
    if (rs.IsEOF())
        return Fail(error, DbRecordset::NoCurrentRecordError);
    DataLink read;
    if (!ReadDataLinkRow(rs, read))
        return Fail(error, QStringLiteral("The Type of data source '%1' of model '%2' is not a "
                                          "number.")
                               .arg(dataSourceName, modelName));
    read.remoteDataHandled = remoteDataHandled;
    *this = read;
    return true;
}
