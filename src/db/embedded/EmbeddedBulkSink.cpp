#include "db/embedded/EmbeddedBulkSink.h"

#include <sqlite3.h>

#include "db/BulkSinkBase.h"
#include "db/DbInterface.h"
#include "db/embedded/SqliteBusyWait.h"

namespace {

// A decimal integer as SQLite itself writes one ("0", "-12"; no sign "+", no leading zero, at
// most 18 digits). Bound as a number, it is stored exactly as the text would be in a column of
// numeric, integer or real affinity, without SQLite's own conversion of the text.
bool PlainInteger(QByteArrayView text, sqlite3_int64* number) {
    const char* p = text.data();
    const char* end = p + text.size();
    const bool negative = p != end && *p == '-';
    if (negative)
        ++p;
    const qsizetype digits = end - p;
    if (digits < 1 || digits > 18 || (*p == '0' && (digits > 1 || negative)))
        return false;
    sqlite3_int64 n = 0;
    for (; p != end; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        n = n * 10 + (*p - '0');
    }
    *number = negative ? -n : n;
    return true;
}

// Whether a column declared with `type` converts a text that looks like a number (SQLite's rules
// of column affinity: INTEGER, REAL or NUMERIC, not TEXT and not BLOB).
bool NumericAffinity(const char* type) {
    const QByteArray t = QByteArray(type ? type : "").toUpper();
    if (t.contains("INT"))
        return true;
    if (t.contains("CHAR") || t.contains("CLOB") || t.contains("TEXT") || t.contains("BLOB") ||
        t.isEmpty())
        return false;
    return true;
}

// The embedded server: one prepared statement stepped per row, straight on the SQLite handle.
class SqliteSink final : public TableSinkBase {
  public:
    using TableSinkBase::TableSinkBase;
    ~SqliteSink() override {
        statement_.reset();
        if (inTransaction_)
            exec("ROLLBACK");
        restoreDurability();
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
        const QByteArray table = table_.toUtf8();
        numeric_.clear();
        for (const QString& column : columns_) {
            const char* type = nullptr;
            // A view (or anything but a table) gives no declared type: its values go as text.
            numeric_.push_back(sqlite3_table_column_metadata(
                                   db_, nullptr, table.constData(), column.toUtf8().constData(),
                                   &type, nullptr, nullptr, nullptr, nullptr) == SQLITE_OK &&
                               NumericAffinity(type));
        }
        relaxDurability();
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
        sqlite3_stmt* statement = statement_.get();
        for (int i = 0; i < count; ++i) {
            const BulkField& f = fields[i];
            sqlite3_int64 number;
            if (f.null)
                sqlite3_bind_null(statement, i + 1);
            else if (numeric_[i] && PlainInteger(f.text, &number))
                sqlite3_bind_int64(statement, i + 1, number);
            else
                sqlite3_bind_text(statement, i + 1, f.text.data(), static_cast<int>(f.text.size()),
                                  SQLITE_STATIC);
        }
        const int rc = sqlite3_step(statement);
        sqlite3_reset(statement);
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

    // The first column of the first row of a pragma's answer, empty when there is none.
    QByteArray pragma(const char* sql) {
        sqlite3_stmt* s = nullptr;
        QByteArray answer;
        if (sqlite3_prepare_v2(db_, sql, -1, &s, nullptr) == SQLITE_OK &&
            sqlite3_step(s) == SQLITE_ROW)
            answer = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
        sqlite3_finalize(s);
        return answer;
    }

    // While the load is the only connection to its database, its batches go through a rollback
    // journal without syncs: each page is written once, not to the write-ahead log first and to
    // the database at the next checkpoint. A killed process leaves its writes with the system,
    // and the journal of an unfinished batch undoes it on the next open, so committed batches
    // survive a crash of the program as before; a power failure during the load may cost the
    // database. With another connection open (leaving write-ahead logging needs the database
    // alone) the load keeps the log and only skips its syncs.
    void relaxDurability() {
        savedJournal_ = pragma("PRAGMA journal_mode");
        savedSynchronous_ = pragma("PRAGMA synchronous");
        // Without waiting for other connections: their presence is the answer.
        sqlite3_busy_handler(db_, nullptr, nullptr);
        pragma("PRAGMA journal_mode=DELETE");
        InstallStoppableBusyWait(connection_->Database(), connection_->ConnectionTimeout * 1000);
        exec("PRAGMA synchronous=OFF");
        relaxed_ = true;
    }

    void restoreDurability() {
        if (!relaxed_)
            return;
        relaxed_ = false;
        if (!savedSynchronous_.isEmpty())
            exec(QByteArray("PRAGMA synchronous=" + savedSynchronous_).constData());
        if (!savedJournal_.isEmpty() && pragma("PRAGMA journal_mode") != savedJournal_)
            pragma(QByteArray("PRAGMA journal_mode=" + savedJournal_).constData());
    }

    sqlite3* db_ = nullptr;
    struct StatementDeleter {
        void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
    };
    std::unique_ptr<sqlite3_stmt, StatementDeleter> statement_;
    std::vector<bool> numeric_;
    bool inTransaction_ = false;
    bool relaxed_ = false;
    QByteArray savedJournal_, savedSynchronous_;
};

}  // namespace

std::unique_ptr<BulkRowSink> OpenEmbeddedBulkSink(std::unique_ptr<DbConnection> connection,
                                                  const QString& table) {
    return std::make_unique<SqliteSink>(std::move(connection), table);
}
