#include "datasources/DataLinkCatalogue.h"

#include "datasources/ChoiceList.h"
#include "datasources/DataLinks.h"
#include "datasources/WarehouseSession.h"
#include "db/DbInterface.h"
#include "db/SqlDialect.h"
#include "util/Errors.h"

bool LoadDataLinkList(WarehouseSession& session, const QString& packageName, ChoiceList& list,
                      QStringList* skipped, QString* error) {
    DataLinks& sources = session.NewLinks();
    const QString model = GetEtlModelName(packageName);
    DbConnection* dw = session.Connection();
    if (dw == nullptr || !TableExists(*dw, QString::fromLatin1(DataLinkTable)))
        return Fail(error, QString::fromLatin1(DataLinkTableMissingText));
    if (!sources.Load(*dw, model, skipped, error))
        return false;
    list.Clear();
    for (const DataLink& ds : sources.All())
        if (ds.modelName == model)
            list.AddItem(ds.name);
    return true;
}

bool TableExists(DbConnection& connection, const QString& tableName) {
    std::unique_ptr<DbRecordset> rs = connection.OpenSchema(4, {QVariant(), QVariant(), tableName});
    if (!rs)
        return false;
    const bool exists = !rs->IsEOF();
    rs->Close();
    return exists;
}

bool CreateDataLinkTable(DbConnection& connection) {
    const SqlDialect& d = connection.Dialect();
    QStringList columns;
    for (const char* column : DataLinkColumns) {
        const QString name = QString::fromLatin1(column);
        SqlDialect::Type type = SqlDialect::Type::Text;
        if (name == QLatin1String("ds_trusted_login"))
            type = SqlDialect::Type::Boolean;
        else if (name == QLatin1String("Type") || name == QLatin1String("transfer_data") ||
                 name.startsWith(QLatin1String("poll_")))
            type = SqlDialect::Type::Integer;
        columns << name + QLatin1Char(' ') + d.TypeName(type);
    }
    return connection.Execute(
        QStringLiteral("CREATE TABLE %1 (%2)")
            .arg(QString::fromLatin1(DataLinkTable), columns.join(QStringLiteral(", "))));
}

QString GetEtlModelName(const QString& packageName) {
    for (const char* suffix :
         {"_CleanUpAll", "_CleanUpIntermediate", "_Init", "_Transformations", "_LoadDummies",
          "_LoadDW", "_Overall", "_ProcessTransformations", "_Upload", "_AlterTableDW"}) {
        const qsizetype at = packageName.indexOf(QLatin1String(suffix), 0, Qt::CaseInsensitive);
        if (at >= 0)
            return packageName.left(at);
    }
    return QString();
}

bool IsEtlModelPackage(const QString& packageName) {
    for (const char* part : {"_Overall", "_ProcessTransformations", "_Upload", "_Transformations"})
        if (packageName.contains(QLatin1String(part), Qt::CaseInsensitive))
            return true;
    return false;
}
