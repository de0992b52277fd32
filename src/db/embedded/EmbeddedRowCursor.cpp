#include "db/embedded/EmbeddedRowCursor.h"

#include <sqlite3.h>

#include <QSqlError>

#include "db/BulkSinkBase.h"
#include "db/DbMessages.h"

namespace {

struct StatementFinalizer {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

class EmbeddedRowCursor : public RowCursor {
  public:
    EmbeddedRowCursor(sqlite3* db, Statement statement, bool row)
        : db_(db), statement_(std::move(statement)), pending_(row), done_(!row) {}

    bool Next() override {
        if (pending_) {  // the first row, stepped to when the cursor was opened
            pending_ = false;
            return true;
        }
        if (done_)
            return false;
        const int rc = sqlite3_step(statement_.get());
        if (rc == SQLITE_ROW)
            return true;
        done_ = true;
        if (rc != SQLITE_DONE)
            error_ = DbErrorMessage(QSqlError(QString(), QString::fromUtf8(sqlite3_errmsg(db_))),
                                    QStringLiteral("the database gave no reason"));
        return false;
    }
    Kind FieldKind(int column) const override {
        switch (sqlite3_column_type(statement_.get(), column)) {
            case SQLITE_NULL:
                return Kind::Null;
            case SQLITE_INTEGER:
                return Kind::Integer;
            case SQLITE_FLOAT:
                return Kind::Real;
            case SQLITE_TEXT:
                return Kind::Text;
            default:
                return Kind::Other;
        }
    }
    QByteArrayView Utf8(int column) const override {
        const auto* text =
            reinterpret_cast<const char*>(sqlite3_column_text(statement_.get(), column));
        return QByteArrayView(text, sqlite3_column_bytes(statement_.get(), column));
    }
    qint64 Integer(int column) const override {
        return sqlite3_column_int64(statement_.get(), column);
    }
    // As Qt's SQLite driver converts a field.
    QVariant Value(int column) const override {
        sqlite3_stmt* s = statement_.get();
        switch (sqlite3_column_type(s, column)) {
            case SQLITE_NULL:
                return QVariant(QMetaType::fromType<QString>());
            case SQLITE_INTEGER:
                return QVariant(qint64(sqlite3_column_int64(s, column)));
            case SQLITE_FLOAT:
                return QVariant(sqlite3_column_double(s, column));
            case SQLITE_BLOB:
                return QByteArray(static_cast<const char*>(sqlite3_column_blob(s, column)),
                                  sqlite3_column_bytes(s, column));
            default: {
                const void* text = sqlite3_column_text16(s, column);
                return QString(static_cast<const QChar*>(text),
                               sqlite3_column_bytes16(s, column) / qsizetype(sizeof(QChar)));
            }
        }
    }
    const QString& Error() const override { return error_; }

  private:
    sqlite3* db_;
    Statement statement_;
    bool pending_;
    bool done_;
    QString error_;
};

}  // namespace

std::unique_ptr<RowCursor> OpenEmbeddedRowCursor(QSqlDatabase& db, const QString& sql,
                                                 const QVariantList& binds) {
    if (!db.isOpen())
        return nullptr;
    sqlite3* handle = NativeHandle<sqlite3>(db, {"sqlite3*"});
    if (handle == nullptr)
        return nullptr;
    sqlite3_stmt* prepared = nullptr;
    if (sqlite3_prepare16_v2(handle, sql.utf16(), int(sql.size() * sizeof(QChar)), &prepared,
                             nullptr) != SQLITE_OK) {
        sqlite3_finalize(prepared);
        return nullptr;
    }
    Statement statement(prepared);
    for (int i = 0; i < binds.size(); ++i) {
        const QVariant& v = binds.at(i);
        int rc = SQLITE_MISUSE;
        switch (v.typeId()) {
            case QMetaType::Int:
            case QMetaType::LongLong:
                rc = sqlite3_bind_int64(prepared, i + 1, v.toLongLong());
                break;
            case QMetaType::QString: {
                const QString text = v.toString();
                rc = sqlite3_bind_text16(prepared, i + 1, text.utf16(),
                                         int(text.size() * sizeof(QChar)), SQLITE_TRANSIENT);
                break;
            }
            default:
                break;
        }
        if (rc != SQLITE_OK)
            return nullptr;
    }
    const int rc = sqlite3_step(prepared);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        return nullptr;
    return std::make_unique<EmbeddedRowCursor>(handle, std::move(statement), rc == SQLITE_ROW);
}
