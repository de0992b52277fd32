// What a server reached over ODBC answers, when it is neither PostgreSQL nor SQLite: the
// SQL Server catalogue.
#include "db/DbInterface.h"
#include "db/DialectQueries.h"
#include "db/SqlDialect.h"

namespace {

class SqlServerDialect : public SqlDialect {
  public:
    QString Name() const override { return QStringLiteral("sqlserver"); }
    QString TypeName(Type t) const override {
        switch (t) {
            case Type::Text:
                return QStringLiteral("NVARCHAR(2000)");
            case Type::Integer:
                return QStringLiteral("INT");
            case Type::SmallInt:
                return QStringLiteral("SMALLINT");
            case Type::BigInt:
                return QStringLiteral("BIGINT");
            case Type::AutoKey:
                return QStringLiteral("BIGINT IDENTITY(1,1) PRIMARY KEY");
            case Type::Boolean:
                return QStringLiteral("BIT");
            case Type::Double:
                return QStringLiteral("FLOAT");
            case Type::Blob:
                return QStringLiteral("VARBINARY(MAX)");
            case Type::Timestamp:
                return QStringLiteral("DATETIME");
        }
        return QString();
    }
    QString QuoteIdentifier(const QString& name) const override {
        QString n = name;
        return '[' + n.replace(']', QStringLiteral("]]")) + ']';
    }
    QString NullSafeEquals(const QString& col, int& binds) const override {
        binds = 2;
        return QStringLiteral("(%1 = ? OR (%1 IS NULL AND ? IS NULL))").arg(col);
    }
    QString ExactTextEquals(const QString& col) const override {
        return col + QStringLiteral(" COLLATE Latin1_General_BIN2 = ?");
    }
    bool ListDatabases(DbConnection& c, QStringList& names) const override {
        return DialectFirstColumn(
            c, QStringLiteral("SELECT DISTINCT name FROM master.dbo.sysdatabases ORDER BY name"),
            names);
    }
    bool Columns(DbConnection& c, const QString& table,
                 QVector<QVariantList>& rows) const override {
        QString sql = QStringLiteral(
            "SELECT TABLE_CATALOG, TABLE_SCHEMA, TABLE_NAME, COLUMN_NAME, ORDINAL_POSITION, "
            "DATA_TYPE FROM INFORMATION_SCHEMA.COLUMNS");
        QVariantList params;
        if (!table.isEmpty()) {
            sql += QStringLiteral(" WHERE TABLE_NAME = ?");
            params << table;
        }
        return DialectQuery(c, sql, params, rows);
    }
    bool Schemata(DbConnection& c, QStringList& names) const override {
        return DialectFirstColumn(
            c, QStringLiteral("SELECT SCHEMA_NAME FROM INFORMATION_SCHEMA.SCHEMATA"), names);
    }
};

}  // namespace

const SqlDialect& SqlDialect::SqlServer() {
    static const SqlServerDialect d;
    return d;
}
