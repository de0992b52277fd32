// What the embedded server answers differently: files as databases, SQLite's catalogue.
#include <QDir>

#include "db/DbInterface.h"
#include "db/DialectQueries.h"
#include "db/SqlDialect.h"

namespace {

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
            case Type::BigInt:
                return QStringLiteral("INTEGER");
            case Type::AutoKey:
                return QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT");
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
    QString StoredTimeSeconds(const QString& expression) const override {
        // Stored times are ISO 8601 with their offset, which SQLite turns into UTC itself.
        return QStringLiteral("CAST(strftime('%s', %1) AS INTEGER)").arg(expression);
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
        if (!DialectQuery(c, sql, params, tables))
            return false;
        for (const QVariantList& t : tables) {
            QVector<QVariantList> cols;
            const QString name = t.value(0).toString();
            if (!DialectQuery(c, QStringLiteral("SELECT cid, name, type FROM pragma_table_info(?)"),
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

}  // namespace

const SqlDialect& SqlDialect::Embedded() {
    static const EmbeddedDialect d;
    return d;
}
