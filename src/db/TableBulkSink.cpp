#include "db/TableBulkSink.h"

#include "db/BulkSinkBase.h"
#include "db/DbBackend.h"
#include "db/DbInterface.h"
#include "db/SqlDialect.h"
#include "util/Counted.h"

namespace {

// Columns of the table in table order, or the given ones checked against the table. False with
// `error` when the table does not exist or a column is not in it.
bool targetColumns(DbConnection& c, const QString& table, QStringList& columns, QString* error) {
    auto schema = c.OpenSchema(4, {QVariant(), QVariant(), table});
    if (!schema) {
        *error = c.ErrorText();
        return false;
    }
    QStringList existing;
    for (schema->MoveFirst(); !schema->IsEOF(); schema->MoveNext())
        existing << schema->Field(QStringLiteral("COLUMN_NAME")).toString();
    if (existing.isEmpty()) {
        *error =
            QStringLiteral("Table '%1' not found in database '%2'").arg(table, c.DatabaseName());
        return false;
    }
    if (columns.isEmpty()) {
        columns = existing;
        return true;
    }
    for (QString& col : columns) {
        const qsizetype i = existing.indexOf(col.trimmed(), 0);
        qsizetype found = i;
        if (found < 0)
            for (qsizetype k = 0; k < existing.size(); ++k)
                if (existing.at(k).compare(col.trimmed(), Qt::CaseInsensitive) == 0)
                    found = k;
        if (found < 0) {
            *error = QStringLiteral("Column '%1' not found in table '%2'").arg(col, table);
            return false;
        }
        col = existing.at(found);
    }
    return true;
}

}  // namespace

QString InsertSql(const SqlDialect& d, const QString& table, const QStringList& columns,
                  const QString& marker) {
    QStringList quoted, markers;
    for (int i = 0; i < columns.size(); ++i) {
        quoted << d.QuoteIdentifier(columns.at(i));
        markers << (marker == QLatin1String("$") ? QStringLiteral("$%1").arg(i + 1) : marker);
    }
    return QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
        .arg(d.QuoteIdentifier(table), quoted.join(','), markers.join(','));
}

TableSinkBase::TableSinkBase(std::unique_ptr<DbConnection> c, QString table)
    : connection_(std::move(c)), table_(std::move(table)) {}

TableSinkBase::~TableSinkBase() = default;

bool TableSinkBase::prepareColumns(const QStringList& given, int fieldCount, QString* error) {
    columns_ = given;
    if (!targetColumns(*connection_, table_, columns_, error))
        return false;
    if (columns_.size() != fieldCount) {
        *error = QStringLiteral("The file has %1 but %2 to be loaded")
                     .arg(Counted(fieldCount, "field", "fields"),
                          Counted(columns_.size(), "column is", "columns are"));
        return false;
    }
    return true;
}

std::unique_ptr<BulkRowSink> OpenTableBulkSink(std::unique_ptr<DbConnection> c,
                                               const QString& table) {
    const DbBackend& backend = c->Backend();
    return backend.OpenBulkSink(std::move(c), table);
}
