// What a PostgreSQL server answers differently.
#include "db/DbInterface.h"
#include "db/DialectQueries.h"
#include "db/SqlDialect.h"

namespace {

class PostgresDialect : public SqlDialect {
  public:
    QString Name() const override { return QStringLiteral("postgresql"); }
    QString TypeName(Type t) const override {
        switch (t) {
            case Type::Text:
                return QStringLiteral("TEXT");
            case Type::Integer:
                return QStringLiteral("INTEGER");
            case Type::SmallInt:
                return QStringLiteral("SMALLINT");
            case Type::BigInt:
                return QStringLiteral("BIGINT");
            case Type::AutoKey:
                return QStringLiteral("BIGSERIAL PRIMARY KEY");
            case Type::Boolean:
                return QStringLiteral("BOOLEAN");
            case Type::Double:
                return QStringLiteral("DOUBLE PRECISION");
            case Type::Blob:
                return QStringLiteral("BYTEA");
            case Type::Timestamp:
                return QStringLiteral("TIMESTAMP");
        }
        return QString();
    }
    QString NullSafeEquals(const QString& col, int& binds) const override {
        binds = 1;
        return col + QStringLiteral(" IS NOT DISTINCT FROM ?");
    }
    QString ExactTextEquals(const QString& col) const override {
        // As text (citext compares without case whatever the collation), under the "C" collation
        // (a nondeterministic collation makes "=" ignore case or accents). The parameter takes the
        // column's type first, so that both sides turn into text the same way (character(n)
        // drops its padding).
        return QStringLiteral(
                   "CAST(%1 AS TEXT) COLLATE \"C\" = CAST(CASE WHEN FALSE THEN %1 ELSE ? END AS "
                   "TEXT)")
            .arg(col);
    }
    bool ListDatabases(DbConnection& c, QStringList& names) const override {
        return DialectFirstColumn(
            c,
            QStringLiteral("SELECT DISTINCT datname FROM pg_database WHERE NOT "
                           "datistemplate ORDER BY datname"),
            names);
    }
    bool Columns(DbConnection& c, const QString& table,
                 QVector<QVariantList>& rows) const override {
        QString sql = QStringLiteral(
            "SELECT table_catalog, table_schema, table_name, column_name, ordinal_position, "
            "data_type FROM information_schema.columns WHERE table_schema NOT IN "
            "('pg_catalog','information_schema')");
        QVariantList params;
        if (!table.isEmpty()) {
            sql += QStringLiteral(" AND lower(table_name) = lower(?)");
            params << table;
        }
        sql += QStringLiteral(" ORDER BY table_schema, table_name, ordinal_position");
        return DialectQuery(c, sql, params, rows);
    }
    bool Schemata(DbConnection& c, QStringList& names) const override {
        return DialectFirstColumn(
            c, QStringLiteral("SELECT schema_name FROM information_schema.schemata"), names);
    }
};

}  // namespace

const SqlDialect& SqlDialect::PostgreSQL() {
    static const PostgresDialect d;
    return d;
}
