#include "platform/SqlDialect.h"

#include <QDir>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include "datasources/DbInterface.h"

QString SqlDialect::QuoteIdentifier(const QString& name) const {
    QString n = name;
    return '"' + n.replace('"', QStringLiteral("\"\"")) + '"';
}

namespace {

bool runQuery(DbConnection& c, const QString& sql, const QVariantList& params,
              QVector<QVariantList>& rows) {
    QSqlQuery q(c.Database());
    q.setForwardOnly(true);
    if (!DbConnection::RunQuery(q, sql, params)) {
        c.SetError(
            DbErrorMessage(q.lastError(), QStringLiteral("The query failed without a reason.")));
        return false;
    }
    const int n = q.record().count();
    while (q.next()) {
        QVariantList row;
        for (int i = 0; i < n; ++i)
            row << q.value(i);
        rows << row;
    }
    return true;
}

// The first column of every row of a query without parameters.
bool firstColumn(DbConnection& c, const QString& sql, QStringList& names) {
    QVector<QVariantList> rows;
    if (!runQuery(c, sql, {}, rows))
        return false;
    names.clear();
    for (const QVariantList& r : rows)
        names << r.value(0).toString();
    return true;
}

class EmbeddedDialect : public SqlDialect {
  public:
    QString Name() const override { return QStringLiteral("embedded"); }
    QString TypeName(Type t) const override {
        switch (t) {
            case Type::Text:
                return QStringLiteral("TEXT");
            case Type::Integer:
            case Type::SmallInt:
                return QStringLiteral("INTEGER");
            case Type::Boolean:
                return QStringLiteral("BOOLEAN");
            case Type::Double:
                return QStringLiteral("REAL");
            case Type::Blob:
                return QStringLiteral("BLOB");
            case Type::Timestamp:
                return QStringLiteral("TEXT");
        }
        return QString();
    }
    QString NullSafeEquals(const QString& col, int& binds) const override {
        binds = 1;
        return col + QStringLiteral(" IS ?");
    }
    QString ExactTextEquals(const QString& col) const override {
        // An explicit collation on either side decides the comparison (COLLATE NOCASE columns).
        return col + QStringLiteral(" = ? COLLATE BINARY");
    }
    bool ListDatabases(DbConnection& c, QStringList& names) const override {
        const QDir dir(c.Server().directory);
        names.clear();
        for (const QString& f : dir.entryList({QStringLiteral("*.db")}, QDir::Files, QDir::Name))
            names << f.left(f.size() - 3);
        names.sort(Qt::CaseInsensitive);
        return true;
    }
    bool Columns(DbConnection& c, const QString& table,
                 QVector<QVariantList>& rows) const override {
        QVector<QVariantList> tables;
        QString sql =
            QStringLiteral("SELECT name FROM sqlite_master WHERE type IN ('table','view')");
        QVariantList params;
        if (!table.isEmpty()) {
            sql += QStringLiteral(" AND name = ? COLLATE NOCASE");
            params << table;
        }
        if (!runQuery(c, sql, params, tables))
            return false;
        for (const QVariantList& t : tables) {
            QVector<QVariantList> cols;
            const QString name = t.value(0).toString();
            if (!runQuery(c, QStringLiteral("SELECT cid, name, type FROM pragma_table_info(?)"),
                          {name}, cols))
                return false;
            for (const QVariantList& col : cols)
                rows << QVariantList{c.DatabaseName(), QStringLiteral("main"),   name,
                                     col.value(1),     col.value(0).toInt() + 1, col.value(2)};
        }
        return true;
    }
    bool Schemata(DbConnection&, QStringList& names) const override {
        names = QStringList{QStringLiteral("main")};
        return true;
    }
};

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
        return firstColumn(c,
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
        return runQuery(c, sql, params, rows);
    }
    bool Schemata(DbConnection& c, QStringList& names) const override {
        return firstColumn(c, QStringLiteral("SELECT schema_name FROM information_schema.schemata"),
                           names);
    }
};

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
        return firstColumn(
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
        return runQuery(c, sql, params, rows);
    }
    bool Schemata(DbConnection& c, QStringList& names) const override {
        return firstColumn(c, QStringLiteral("SELECT SCHEMA_NAME FROM INFORMATION_SCHEMA.SCHEMATA"),
                           names);
    }
};

}  // namespace

const SqlDialect& SqlDialect::Embedded() {
    static const EmbeddedDialect d;
    return d;
}
const SqlDialect& SqlDialect::PostgreSQL() {
    static const PostgresDialect d;
    return d;
}
const SqlDialect& SqlDialect::SqlServer() {
    static const SqlServerDialect d;
    return d;
}
