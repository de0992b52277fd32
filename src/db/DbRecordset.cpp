#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include "db/DbInterface.h"
#include "db/SqlDialect.h"

const QString DbRecordset::NoCurrentRecordError = QStringLiteral(
    "Either BOF or EOF is True, or the current record has been deleted. Requested operation "
    "requires a current record.");

namespace {
// The table of a plain single-table SELECT, or empty.
QString singleTableOf(const QString& sql) {
    static const QRegularExpression re(
        QStringLiteral(
            R"(^\s*SELECT\s+.+?\s+FROM\s+("?)([A-Za-z_][A-Za-z0-9_]*)\1\s*(WHERE\b.*)?;?\s*$)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch m = re.match(sql);
    if (!m.hasMatch())
        return QString();
    if (sql.contains(QLatin1String(" JOIN "), Qt::CaseInsensitive))
        return QString();
    return m.captured(2);
}
}  // namespace

bool DbRecordset::Open(const QString& sql, DbConnection& connection, const QVariantList& params) {
    Close();
    connection_ = &connection;
    if (connection.State() != 1) {
        error_ = QStringLiteral("The connection is not open.");
        return false;
    }
    QSqlQuery q(connection.Database());
    q.setForwardOnly(true);
    if (!DbConnection::RunQuery(q, sql, params)) {
        error_ =
            DbErrorMessage(q.lastError(), QStringLiteral("The query failed without a reason."));
        return false;
    }
    const QSqlRecord rec = q.record();
    for (int i = 0; i < rec.count(); ++i)
        columns_ << rec.fieldName(i);
    while (q.next()) {
        QVariantList row;
        row.reserve(columns_.size());
        for (int i = 0; i < columns_.size(); ++i)
            row << q.value(i);
        rows_ << row;
    }
    original_ = rows_;
    changed_.fill(QVector<bool>(columns_.size(), false), rows_.size());
    table_ = singleTableOf(sql);
    current_ = 0;
    return true;
}

std::unique_ptr<DbRecordset> DbRecordset::FromRows(const QStringList& columns,
                                                   const QVector<QVariantList>& rows) {
    auto rs = std::make_unique<DbRecordset>();
    rs->columns_ = columns;
    rs->rows_ = rows;
    rs->original_ = rows;
    rs->changed_.fill(QVector<bool>(columns.size(), false), rows.size());
    return rs;
}

int DbRecordset::FieldIndex(const QString& name) const {
    for (int i = 0; i < columns_.size(); ++i)
        if (columns_.at(i).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

QVariant DbRecordset::Field(int index) const {
    if (IsEOF() || index < 0 || index >= columns_.size())
        return QVariant();
    return rows_.at(current_).at(index);
}

QVariant DbRecordset::Field(const QString& name) const {
    return Field(FieldIndex(name));
}

bool DbRecordset::SetField(const QString& name, const QVariant& value) {
    if (IsEOF()) {
        error_ = NoCurrentRecordError;
        return false;
    }
    const int i = FieldIndex(name);
    if (i < 0) {
        error_ = QStringLiteral(
                     "Item cannot be found in the collection corresponding to the "
                     "requested name or ordinal: %1")
                     .arg(name);
        return false;
    }
    rows_[current_][i] = value;
    changed_[current_][i] = true;
    return true;
}

bool DbRecordset::Update() {
    if (IsEOF()) {
        error_ = NoCurrentRecordError;
        return false;
    }
    if (connection_ == nullptr || table_.isEmpty()) {
        error_ = QStringLiteral("This record set cannot be updated.");
        return false;
    }
    const SqlDialect& d = connection_->Dialect();
    QStringList sets, where;
    QVariantList params;
    for (int i = 0; i < columns_.size(); ++i) {
        if (!changed_[current_][i])
            continue;
        sets << d.QuoteIdentifier(columns_.at(i)) + QStringLiteral(" = ?");
        params << rows_[current_][i];
    }
    if (sets.isEmpty())
        return true;
    // The row is found by all of its values; texts compare exactly, so that on a server that
    // ignores case the row "sales" is not taken for "Sales".
    for (int i = 0; i < columns_.size(); ++i) {
        const QVariant& original = original_[current_][i];
        const QString column = d.QuoteIdentifier(columns_.at(i));
        if (!original.isNull() && original.typeId() == QMetaType::QString) {
            where << d.ExactTextEquals(column);
            params << original;
            continue;
        }
        int binds = 1;
        where << d.NullSafeEquals(column, binds);
        for (int b = 0; b < binds; ++b)
            params << original;
    }
    const QString sql = QStringLiteral("UPDATE %1 SET %2 WHERE %3")
                            .arg(d.QuoteIdentifier(table_), sets.join(QStringLiteral(", ")),
                                 where.join(QStringLiteral(" AND ")));
    int affected = 0;
    if (!connection_->Execute(sql, params, &affected)) {
        error_ = connection_->ErrorText();
        return false;
    }
    if (affected == 0) {
        error_ = QStringLiteral(
            "Row cannot be located for updating. Some values may have been "
            "changed since it was last read.");
        return false;
    }
    original_[current_] = rows_[current_];
    changed_[current_].fill(false);
    return true;
}

void DbRecordset::Close() {
    columns_.clear();
    rows_.clear();
    original_.clear();
    changed_.clear();
    table_.clear();
    current_ = 0;
    error_.clear();
}
