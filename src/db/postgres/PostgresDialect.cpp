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
    // The rows information_schema.columns gives, read from the catalogue itself: the view is
    // many times slower to ask (a load asks it before each file).
    bool Columns(DbConnection& c, const QString& table,
                 QVector<QVariantList>& rows) const override {
        QString sql = QStringLiteral(
            "SELECT current_database()::text, nc.nspname::text, c.relname::text, "
            "a.attname::text, a.attnum::int, "
            "CASE WHEN t.typtype = 'd' THEN "
            "  CASE WHEN bt.typelem <> 0 AND bt.typlen = -1 THEN 'ARRAY' "
            "       WHEN nbt.nspname = 'pg_catalog' THEN format_type(t.typbasetype, NULL) "
            "       ELSE 'USER-DEFINED' END "
            "ELSE CASE WHEN t.typelem <> 0 AND t.typlen = -1 THEN 'ARRAY' "
            "       WHEN nt.nspname = 'pg_catalog' THEN format_type(a.atttypid, NULL) "
            "       ELSE 'USER-DEFINED' END END "
            "FROM pg_attribute a JOIN pg_class c ON a.attrelid = c.oid "
            "JOIN pg_namespace nc ON c.relnamespace = nc.oid "
            "JOIN pg_type t ON a.atttypid = t.oid JOIN pg_namespace nt ON t.typnamespace = nt.oid "
            "LEFT JOIN (pg_type bt JOIN pg_namespace nbt ON bt.typnamespace = nbt.oid) "
            "  ON t.typtype = 'd' AND t.typbasetype = bt.oid "
            "WHERE a.attnum > 0 AND NOT a.attisdropped AND c.relkind IN ('r', 'v', 'f', 'p') "
            "AND NOT pg_is_other_temp_schema(nc.oid) AND (pg_has_role(c.relowner, 'USAGE') OR "
            "has_column_privilege(c.oid, a.attnum, 'SELECT, INSERT, UPDATE, REFERENCES')) "
            "AND nc.nspname NOT IN ('pg_catalog', 'information_schema')");
        QVariantList params;
        if (!table.isEmpty()) {
            sql += QStringLiteral(" AND lower(c.relname) = lower(?)");
            params << table;
        }
        sql += QStringLiteral(" ORDER BY nc.nspname, c.relname, a.attnum");
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
