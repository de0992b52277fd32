#include "db/embedded/EmbeddedBulkSink.h"

#include <sqlite3.h>

#include "db/BulkSinkBase.h"
#include "db/DbInterface.h"

namespace {

// The embedded server: one prepared statement stepped per row, straight on the SQLite handle.
class SqliteSink final : public TableSinkBase {
  public:
    using TableSinkBase::TableSinkBase;
    ~SqliteSink() override {
        statement_.reset();
        if (inTransaction_)
            exec("ROLLBACK");
    }

    bool Begin(const QStringList& columns, int fieldCount, QString* error) override {
        if (!prepareColumns(columns, fieldCount, error))
            return false;
        db_ = NativeHandle<sqlite3>(connection_->Database(), {"sqlite3*"});
        if (db_ == nullptr) {
            *error = QStringLiteral("The embedded database gives no native handle");
            return false;
        }
        const QByteArray sql =
            InsertSql(connection_->Dialect(), table_, columns_, QStringLiteral("?")).toUtf8();
        sqlite3_stmt* statement = nullptr;
        const int rc = sqlite3_prepare_v2(db_, sql.constData(), -1, &statement, nullptr);
        statement_.reset(statement);
        if (rc != SQLITE_OK) {
            *error = QString::fromUtf8(sqlite3_errmsg(db_));
            return false;
        }
        return true;
    }

    RowResult AddRow(const BulkField* fields, int count, QString* reason) override {
        if (!inTransaction_) {
            if (!exec("BEGIN")) {
                *reason = QString::fromUtf8(sqlite3_errmsg(db_));
                return RowResult::Fatal;
            }
            inTransaction_ = true;
        }
        for (int i = 0; i < count; ++i) {
            const BulkField& f = fields[i];
            if (f.null)
                sqlite3_bind_null(statement_.get(), i + 1);
            else
                sqlite3_bind_text(statement_.get(), i + 1, f.text.data(),
                                  static_cast<int>(f.text.size()), SQLITE_STATIC);
        }
        const int rc = sqlite3_step(statement_.get());
        sqlite3_reset(statement_.get());
        if (rc == SQLITE_DONE)
            return RowResult::Accepted;
        *reason = QString::fromUtf8(sqlite3_errmsg(db_));
        const int primary = rc & 0xff;
        return primary == SQLITE_CONSTRAINT || primary == SQLITE_MISMATCH ||
                       primary == SQLITE_TOOBIG
                   ? RowResult::Rejected
                   : RowResult::Fatal;
    }

    bool CommitBatch(QString* error) override {
        if (!inTransaction_)
            return true;
        if (!exec("COMMIT")) {
            *error = QString::fromUtf8(sqlite3_errmsg(db_));
            return false;
        }
        inTransaction_ = false;
        return true;
    }

    void Rollback() override {
        if (inTransaction_)
            exec("ROLLBACK");
        inTransaction_ = false;
    }

  private:
    bool exec(const char* sql) {
        return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    }

    sqlite3* db_ = nullptr;
    struct StatementDeleter {
        void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
    };
    std::unique_ptr<sqlite3_stmt, StatementDeleter> statement_;
    bool inTransaction_ = false;
};

}  // namespace

std::unique_ptr<BulkRowSink> OpenEmbeddedBulkSink(std::unique_ptr<DbConnection> connection,
                                                  const QString& table) {
    return std::make_unique<SqliteSink>(std::move(connection), table);
}
