#include "db/PackageStoreSchema.h"

#include "db/DbInterface.h"
#include "db/SqlDialect.h"

bool EnsurePackageStore(DbConnection& msdb) {
    const SqlDialect& d = msdb.Dialect();
    auto existing =
        msdb.OpenSchema(4, {QVariant(), QVariant(), QString::fromLatin1(PackageStoreTable)});
    if (!existing)
        return false;
    if (!existing->IsEOF())
        return true;
    const QString text = d.TypeName(SqlDialect::Type::Text);
    const QString sql =
        QStringLiteral(
            "CREATE TABLE %1 (name %2 NOT NULL, id %2 NOT NULL, versionid %2 NOT NULL, "
            "description %2, createdate %3 NOT NULL, owner %2, packagedata %4)")
            .arg(QString::fromLatin1(PackageStoreTable), text,
                 d.TypeName(SqlDialect::Type::Timestamp),
                 d.Name() == QLatin1String("sqlserver") ? QStringLiteral("NVARCHAR(MAX)") : text);
    return msdb.Execute(sql);
}

void IndexPackageStore(DbConnection& msdb) {
    // The server of the store's origin keeps its own indexes; only the servers this program
    // makes a store on get them here.
    const QString kind = msdb.Dialect().Name();
    if (kind != QLatin1String("embedded") && kind != QLatin1String("postgresql"))
        return;
    const QString table = QString::fromLatin1(PackageStoreTable);
    if (kind == QLatin1String("postgresql")) {
        // CREATE INDEX locks the table even when the index exists: asked first, so that an open
        // of the store does not wait for another connection's import.
        DbRecordset existing;
        if (existing.Open(QStringLiteral("SELECT to_regclass(?) IS NOT NULL"), msdb,
                          {table + QStringLiteral("_versionid")})) {
            existing.MoveFirst();
            if (!existing.IsEOF() && existing.Field(0).toBool())
                return;
        }
    }
    // Keys stay short (a name, a GUID), so no document or long description is ever indexed.
    msdb.Execute(
        QStringLiteral("CREATE INDEX IF NOT EXISTS %1_name ON %1 (lower(name))").arg(table));
    msdb.Execute(
        QStringLiteral("CREATE INDEX IF NOT EXISTS %1_versionid ON %1 (versionid)").arg(table));
}
