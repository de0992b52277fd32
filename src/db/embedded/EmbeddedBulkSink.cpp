#include "db/embedded/EmbeddedBulkSink.h"

#include <sqlite3.h>

#include <QRegularExpression>
#include <algorithm>
#include <string>
#include <vector>

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

struct StatementDeleter {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};

// The embedded server: one prepared statement stepped per row, straight on the SQLite handle.
class SqliteSink final : public TableSinkBase {
  public:
    using TableSinkBase::TableSinkBase;
    ~SqliteSink() override {
        statement_.reset();
        groupStatement_.reset();
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
        if (!prepareInsert(1, &statement_, error))
            return false;
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
        // Rows go in groups through one statement into an ordinary table. Where the table can
        // refuse a row, a group it refuses (which leaves nothing behind) goes again one row at a
        // time, and the rows refused then are told when the batch is committed.
        const int columnCount = static_cast<int>(columns_.size());
        const int variables = sqlite3_limit(db_, SQLITE_LIMIT_VARIABLE_NUMBER, -1);
        groupRows_ = columnCount > 0 ? std::min(kGroupRows, variables / columnCount) : 0;
        const Refusals refusals = rowRefusals();
        if (groupRows_ < 2 || refusals == Refusals::Unknown ||
            !prepareInsert(groupRows_, &groupStatement_, nullptr))
            groupRows_ = 0;
        lateRefusals_ = groupRows_ > 0 && refusals == Refusals::Possible;
        refused_.clear();
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
        // The first row of a batch is stored at once, so that a database that cannot be written
        // (read-only, locked) stops the load at that row.
        if (groupRows_ > 0 && rowsInTransaction_ > 0 && GroupFits(fields, count)) {
            if (held_.empty())
                heldFirstRow_ = rowsInTransaction_;
            for (int i = 0; i < count; ++i) {
                const BulkField& f = fields[i];
                held_.push_back({heldBytes_.size(), f.text.size(), f.null});
                heldBytes_.append(f.text.data(), static_cast<size_t>(f.text.size()));
            }
            ++rowsInTransaction_;
            if (static_cast<int>(held_.size()) < groupRows_ * count)
                return RowResult::Accepted;
            return storeHeld(reason) ? RowResult::Accepted : RowResult::Fatal;
        }
        // Rows held for a group go first: the rows keep the order of the file.
        if (!held_.empty() && !storeHeld(reason))
            return RowResult::Fatal;
        sqlite3_stmt* statement = statement_.get();
        for (int i = 0; i < count; ++i)
            bind(statement, i, i, fields[i].text.data(), fields[i].text.size(), fields[i].null);
        const int rc = sqlite3_step(statement);
        sqlite3_reset(statement);
        if (rc == SQLITE_DONE) {
            ++rowsInTransaction_;
            return RowResult::Accepted;
        }
        *reason = QString::fromUtf8(sqlite3_errmsg(db_));
        return Refused(rc) ? RowResult::Rejected : RowResult::Fatal;
    }

    bool RejectsAtCommit() const override { return lateRefusals_; }

    bool CommitBatch(QString* error) override {
        if (!inTransaction_) {
            BatchCommitted();
            return true;
        }
        if (!storeHeld(error) || !exec("COMMIT")) {
            *error = QString::fromUtf8(sqlite3_errmsg(db_));
            return false;
        }
        inTransaction_ = false;
        rowsInTransaction_ = 0;
        BatchCommitted(std::move(refused_));
        refused_.clear();
        return true;
    }

    void Rollback() override {
        dropHeld();
        refused_.clear();
        if (inTransaction_)
            exec("ROLLBACK");
        inTransaction_ = false;
        rowsInTransaction_ = 0;
    }

  private:
    // Rows in one group: enough that a statement's own cost is spread thin.
    static constexpr int kGroupRows = 100;
    // A row larger than this is stored on its own, where SQLite can refuse it.
    static constexpr qsizetype kGroupedRowBytes = 1 << 20;

    struct HeldValue {
        size_t offset;
        qsizetype size;
        bool null;
    };

    // Whether SQLite's answer `rc` refuses the row rather than fails the database.
    static bool Refused(int rc) {
        const int primary = rc & 0xff;
        return primary == SQLITE_CONSTRAINT || primary == SQLITE_MISMATCH ||
               primary == SQLITE_TOOBIG;
    }

    static bool GroupFits(const BulkField* fields, int count) {
        qsizetype bytes = 0;
        for (int i = 0; i < count; ++i)
            bytes += fields[i].text.size();
        return bytes <= kGroupedRowBytes;
    }

    bool exec(const char* sql) {
        return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    }

    // The insert of `rows` rows at once.
    bool prepareInsert(int rows, std::unique_ptr<sqlite3_stmt, StatementDeleter>* statement,
                       QString* error) {
        QByteArray sql =
            InsertSql(connection_->Dialect(), table_, columns_, QStringLiteral("?")).toUtf8();
        const QByteArray values = sql.mid(sql.lastIndexOf(" VALUES ") + 8);
        for (int i = 1; i < rows; ++i)
            sql += ',' + values;
        sqlite3_stmt* prepared = nullptr;
        const int rc = sqlite3_prepare_v2(db_, sql.constData(), -1, &prepared, nullptr);
        statement->reset(prepared);
        if (rc == SQLITE_OK)
            return true;
        if (error != nullptr)
            *error = QString::fromUtf8(sqlite3_errmsg(db_));
        return false;
    }

    // Binds the value of `column` to the statement's parameter `index` (from 0). A plain integer
    // for a column of numeric type is bound as a number, any other text as it is, without a copy.
    void bind(sqlite3_stmt* statement, int index, int column, const char* text, qsizetype size,
              bool null) {
        sqlite3_int64 number;
        if (null)
            sqlite3_bind_null(statement, index + 1);
        else if (numeric_[column] && PlainInteger(QByteArrayView(text, size), &number))
            sqlite3_bind_int64(statement, index + 1, number);
        else
            sqlite3_bind_text(statement, index + 1, text, static_cast<int>(size), SQLITE_STATIC);
    }

    // Stores the rows held for a group: all at once when the group is full, else (or when the
    // table refused the group) one by one, each row the table refuses kept to be told when the
    // batch is committed. False when the database fails, with SQLite's message in `error` and
    // the rows of the open batch to be rolled back.
    bool storeHeld(QString* error) {
        const int columnCount = static_cast<int>(columns_.size());
        const int rows = columnCount > 0 ? static_cast<int>(held_.size()) / columnCount : 0;
        bool ok = true;
        if (rows == groupRows_ && rows > 0) {
            const int rc = stepHeld(groupStatement_.get(), 0, rows);
            if (rc == SQLITE_DONE || !lateRefusals_ || !Refused(rc)) {
                ok = rc == SQLITE_DONE;
                if (!ok)
                    *error = QString::fromUtf8(sqlite3_errmsg(db_));
                dropHeld();
                return ok;
            }
        }
        for (int row = 0; row < rows && ok; ++row) {
            const int rc = stepHeld(statement_.get(), row, 1);
            if (rc == SQLITE_DONE)
                continue;
            const QString why = QString::fromUtf8(sqlite3_errmsg(db_));
            if (lateRefusals_ && Refused(rc)) {
                QStringList values;
                for (int i = 0; i < columnCount; ++i) {
                    const HeldValue& v = held_[static_cast<size_t>(row * columnCount + i)];
                    values << (v.null ? QString()
                                      : QString::fromUtf8(heldBytes_.data() + v.offset, v.size));
                }
                refused_.push_back({heldFirstRow_ + row, why, values});
                continue;
            }
            *error = why;
            ok = false;
        }
        dropHeld();
        return ok;
    }

    // Steps `statement` with the held values of `rows` rows from `firstRow` on bound.
    int stepHeld(sqlite3_stmt* statement, int firstRow, int rows) {
        const int columnCount = static_cast<int>(columns_.size());
        const size_t first = static_cast<size_t>(firstRow * columnCount);
        for (int index = 0; index < rows * columnCount; ++index) {
            const HeldValue& v = held_[first + static_cast<size_t>(index)];
            bind(statement, index, index % columnCount, heldBytes_.data() + v.offset, v.size,
                 v.null);
        }
        const int rc = sqlite3_step(statement);
        sqlite3_reset(statement);
        return rc;
    }

    void dropHeld() {
        held_.clear();
        heldBytes_.clear();
    }

    // Whether an insert into the table can be refused. None: an ordinary table (no view, no
    // virtual table) without NOT NULL, key, unique, check or foreign-key constraints, without
    // generated columns, type checks (STRICT) or indexes. Possible: such a table with some of
    // these, where a refused insert leaves nothing behind. Unknown: anything else (triggers,
    // conflict clauses that keep part of a statement's work or end the transaction, a table of
    // the same name in the temporary schema, a table that cannot be read).
    enum class Refusals { None, Possible, Unknown };
    Refusals rowRefusals() {
        const QByteArray table = table_.toUtf8();
        // The first column of the first row of `sql`, given the table's name as ?1.
        auto first = [&](const char* sql) {
            sqlite3_stmt* s = nullptr;
            QString answer;
            if (sqlite3_prepare_v2(db_, sql, -1, &s, nullptr) == SQLITE_OK &&
                sqlite3_bind_text(s, 1, table.constData(), -1, SQLITE_STATIC) == SQLITE_OK &&
                sqlite3_step(s) == SQLITE_ROW)
                answer =
                    QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
            sqlite3_finalize(s);
            return answer;
        };
        static const QRegularExpression unknownWords(QStringLiteral("\\b(VIRTUAL|CONFLICT)\\b"),
                                                     QRegularExpression::CaseInsensitiveOption);
        static const QRegularExpression constraintWords(
            QStringLiteral("\\b(CHECK|REFERENCES|STRICT|WITHOUT)\\b"),
            QRegularExpression::CaseInsensitiveOption);
        const QString definition = first(
            "SELECT sql FROM main.sqlite_master WHERE type = 'table' AND name = ?1 COLLATE "
            "NOCASE");
        if (definition.isEmpty() || definition.contains(unknownWords) ||
            first("SELECT count(*) FROM temp.sqlite_master WHERE name = ?1 COLLATE NOCASE OR "
                  "tbl_name = ?1 COLLATE NOCASE") != QLatin1String("0") ||
            first("SELECT count(*) FROM main.sqlite_master WHERE type = 'trigger' AND tbl_name = "
                  "?1 COLLATE NOCASE") != QLatin1String("0"))
            return Refusals::Unknown;
        const bool none =
            !definition.contains(constraintWords) &&
            first(
                "SELECT count(*) FROM pragma_table_xinfo(?1, 'main') WHERE \"notnull\" OR pk "
                "OR hidden") == QLatin1String("0") &&
            first("SELECT count(*) FROM pragma_index_list(?1, 'main')") == QLatin1String("0") &&
            first("SELECT count(*) FROM pragma_foreign_key_list(?1, 'main')") == QLatin1String("0");
        return none ? Refusals::None : Refusals::Possible;
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
    std::unique_ptr<sqlite3_stmt, StatementDeleter> statement_, groupStatement_;
    int groupRows_ = 0;                   // 0: every row is stored on its own
    bool lateRefusals_ = false;           // a group the table refuses goes again row by row
    int heldFirstRow_ = 0;                // the number of the first held row in its batch
    std::vector<LateRejection> refused_;  // rows of the open batch the table refused
    std::vector<HeldValue> held_;         // the values of the rows of a group not stored yet
    std::string heldBytes_;
    qint64 rowsInTransaction_ = 0;
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
