#include "db/RowCursor.h"

#include <QSqlError>
#include <QSqlQuery>

#include "db/DbMessages.h"
#include "db/embedded/EmbeddedRowCursor.h"
#include "util/Errors.h"

namespace {

QString Reason(const QSqlError& e) {
    return DbErrorMessage(e, QStringLiteral("the database gave no reason"));
}

// Over a forward-only QSqlQuery: PostgreSQL sends the rows one by one, ODBC fetches them.
class QueryRowCursor : public RowCursor {
  public:
    explicit QueryRowCursor(QSqlDatabase& db) : query_(db) { query_.setForwardOnly(true); }

    bool Start(const QString& sql, const QVariantList& binds, QString* error) {
        if (!query_.prepare(sql))
            return Fail(error, error_ = Reason(query_.lastError()));
        for (const QVariant& v : binds)
            query_.addBindValue(v);
        if (!query_.exec())
            return Fail(error, error_ = Reason(query_.lastError()));
        return true;
    }
    bool Next() override {
        text_.clear();
        if (!query_.isActive())
            return false;
        if (query_.next())
            return true;
        if (query_.lastError().isValid())
            error_ = Reason(query_.lastError());
        return false;
    }
    // Qt's drivers have made a QVariant of every field already: read it with Value().
    Kind FieldKind(int column) const override {
        return query_.isNull(column) ? Kind::Null : Kind::Other;
    }
    QByteArrayView Utf8(int column) const override {
        text_ = query_.value(column).toString().toUtf8();
        return text_;
    }
    qint64 Integer(int column) const override { return query_.value(column).toLongLong(); }
    QVariant Value(int column) const override { return query_.value(column); }
    const QString& Error() const override { return error_; }

  private:
    QSqlQuery query_;
    mutable QByteArray text_;
    QString error_;
};

}  // namespace

std::unique_ptr<RowCursor> OpenRowCursor(QSqlDatabase& db, const QString& sql,
                                         const QVariantList& binds, QString* error) {
    if (std::unique_ptr<RowCursor> embedded = OpenEmbeddedRowCursor(db, sql, binds))
        return embedded;
    // Every statement the embedded cursor did not take, and every failure to prepare one, goes
    // through Qt's driver, so that its errors read as they always did.
    auto cursor = std::make_unique<QueryRowCursor>(db);
    if (!cursor->Start(sql, binds, error))
        return nullptr;
    return cursor;
}
