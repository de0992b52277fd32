#include "platform/TableBulkSink.h"

#include <libpq-fe.h>
#include <sqlite3.h>

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>

#include "datasources/DbInterface.h"
#include "platform/PackageTasks.h"
#include "platform/SqlDialect.h"
#include "platform/TaskConnections.h"
#include "util/Counted.h"

namespace {

// The driver's own handle; the type is named as the driver declares it ("sqlite3*", and
// "PGconn*" or its struct name "pg_conn*").
template <typename Handle>
Handle* nativeHandle(QSqlDatabase& db, std::initializer_list<const char*> typeNames) {
    const QVariant v = db.driver()->handle();
    if (!v.isValid() || std::none_of(typeNames.begin(), typeNames.end(), [&](const char* name) {
            return qstrcmp(v.typeName(), name) == 0;
        }))
        return nullptr;
    return *static_cast<Handle* const*>(v.constData());
}

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

QString insertSql(const SqlDialect& d, const QString& table, const QStringList& columns,
                  const QString& marker) {
    QStringList quoted, markers;
    for (int i = 0; i < columns.size(); ++i) {
        quoted << d.QuoteIdentifier(columns.at(i));
        markers << (marker == QLatin1String("$") ? QStringLiteral("$%1").arg(i + 1) : marker);
    }
    return QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
        .arg(d.QuoteIdentifier(table), quoted.join(','), markers.join(','));
}

// The common part: the connection, the table and its columns.
class SinkBase : public BulkRowSink {
  public:
    SinkBase(std::unique_ptr<DbConnection> c, QString table)
        : connection_(std::move(c)), table_(std::move(table)) {}

  protected:
    bool prepareColumns(const QStringList& given, int fieldCount, QString* error) {
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
    std::unique_ptr<DbConnection> connection_;
    QString table_;
    QStringList columns_;
};

// The embedded server: one prepared statement stepped per row, straight on the SQLite handle.
class SqliteSink final : public SinkBase {
  public:
    using SinkBase::SinkBase;
    ~SqliteSink() override {
        if (statement_ != nullptr)
            sqlite3_finalize(statement_);
        if (inTransaction_)
            exec("ROLLBACK");
    }

    bool Begin(const QStringList& columns, int fieldCount, QString* error) override {
        if (!prepareColumns(columns, fieldCount, error))
            return false;
        db_ = nativeHandle<sqlite3>(connection_->Database(), {"sqlite3*"});
        if (db_ == nullptr) {
            *error = QStringLiteral("The embedded database gives no native handle");
            return false;
        }
        const QByteArray sql =
            insertSql(connection_->Dialect(), table_, columns_, QStringLiteral("?")).toUtf8();
        if (sqlite3_prepare_v2(db_, sql.constData(), -1, &statement_, nullptr) != SQLITE_OK) {
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
                sqlite3_bind_null(statement_, i + 1);
            else
                sqlite3_bind_text(statement_, i + 1, f.text.data(), static_cast<int>(f.text.size()),
                                  SQLITE_STATIC);
        }
        const int rc = sqlite3_step(statement_);
        sqlite3_reset(statement_);
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
    sqlite3_stmt* statement_ = nullptr;
    bool inTransaction_ = false;
};

// PostgreSQL: each batch goes to the server as one COPY in its own transaction. When the server
// refuses the batch, it is loaded again row by row, each behind a savepoint, so that only the
// refused rows are left out.
class PostgresCopySink final : public SinkBase {
  public:
    using SinkBase::SinkBase;

    bool Begin(const QStringList& columns, int fieldCount, QString* error) override {
        if (!prepareColumns(columns, fieldCount, error))
            return false;
        pg_ = nativeHandle<PGconn>(connection_->Database(), {"PGconn*", "pg_conn*"});
        if (pg_ == nullptr) {
            *error = QStringLiteral("The PostgreSQL connection gives no native handle");
            return false;
        }
        const SqlDialect& d = connection_->Dialect();
        QStringList quoted;
        for (const QString& c : columns_)
            quoted << d.QuoteIdentifier(c);
        copySql_ = QStringLiteral("COPY %1 (%2) FROM STDIN")
                       .arg(d.QuoteIdentifier(table_), quoted.join(','))
                       .toUtf8();
        insertSql_ = insertSql(d, table_, columns_, QStringLiteral("$")).toUtf8();
        return true;
    }

    RowResult AddRow(const BulkField* fields, int count, QString* reason) override {
        const qsizetype start = buffer_.size();
        rowStarts_.push_back(start);
        for (int i = 0; i < count; ++i) {
            if (i > 0)
                buffer_ += '\t';
            const BulkField& f = fields[i];
            if (f.null) {
                buffer_ += "\\N";
                continue;
            }
            // Runs of ordinary characters are copied whole; backslash, TAB, LF and CR are escaped.
            const char* p = f.text.data();
            const char* const end = p + f.text.size();
            const char* run = p;
            for (; p != end; ++p) {
                const char ch = *p;
                if (ch != '\\' && ch != '\t' && ch != '\n' && ch != '\r' && ch != '\0')
                    continue;
                buffer_.append(run, p - run);
                run = p + 1;
                if (ch == '\0') {
                    buffer_.truncate(start);
                    rowStarts_.pop_back();
                    *reason = QStringLiteral("a value holds a NUL character");
                    return RowResult::Rejected;
                }
                buffer_ += '\\';
                buffer_ += ch == '\\' ? '\\' : ch == '\t' ? 't' : ch == '\n' ? 'n' : 'r';
            }
            buffer_.append(run, end - run);
        }
        buffer_ += '\n';
        stream(false);
        return RowResult::Accepted;
    }

    bool RejectsAtCommit() const override { return true; }
    std::vector<LateRejection> TakeLateRejections() override { return std::move(late_); }

    bool CommitBatch(QString* error) override {
        late_.clear();
        if (rowStarts_.empty())
            return true;
        QString copyError;
        const bool copied =
            stream(true) && endCopy(nullptr, &copyError) && command("COMMIT", error);
        if (!copied) {
            endCopy("cancelled", nullptr);
            command("ROLLBACK", nullptr);
            if (PQstatus(pg_) != CONNECTION_OK) {
                *error = QString::fromUtf8(PQerrorMessage(pg_)).trimmed();
                return false;
            }
            if (!loadRowByRow(error))
                return false;
        }
        clearBatch();
        return true;
    }

    void Rollback() override {
        if (copying_) {
            endCopy("cancelled", nullptr);
            command("ROLLBACK", nullptr);
        }
        clearBatch();
    }

  private:
    bool command(const char* sql, QString* error) {
        PGresult* r = PQexec(pg_, sql);
        const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
        if (!ok && error != nullptr)
            *error = QString::fromUtf8(PQresultErrorMessage(r)).trimmed();
        PQclear(r);
        return ok;
    }

    // Sends what the batch holds beyond what was already sent, once enough has gathered (or
    // everything when `all`), so that the server works on the batch while the file is read. The
    // COPY starts with the first row of a batch. False once sending has failed.
    bool stream(bool all) {
        if (streamFailed_)
            return false;
        constexpr qsizetype chunk = 256 * 1024;
        if (!all && buffer_.size() - sent_ < chunk)
            return true;
        if (!copying_) {
            if (!command("BEGIN", nullptr)) {
                streamFailed_ = true;
                return false;
            }
            PGresult* r = PQexec(pg_, copySql_.constData());
            copying_ = PQresultStatus(r) == PGRES_COPY_IN;
            PQclear(r);
            if (!copying_) {
                command("ROLLBACK", nullptr);
                streamFailed_ = true;
                return false;
            }
        }
        while (sent_ < buffer_.size()) {
            const int n = static_cast<int>(std::min<qsizetype>(buffer_.size() - sent_, 1 << 20));
            if (PQputCopyData(pg_, buffer_.constData() + sent_, n) != 1) {
                streamFailed_ = true;
                return false;
            }
            sent_ += n;
        }
        return true;
    }

    // Ends the COPY of the batch (cancelled when `cancel` is given) and collects its result.
    bool endCopy(const char* cancel, QString* error) {
        if (!copying_)
            return false;
        copying_ = false;
        PQputCopyEnd(pg_, cancel);
        bool ok = true;
        while (PGresult* res = PQgetResult(pg_)) {
            if (PQresultStatus(res) != PGRES_COMMAND_OK) {
                ok = false;
                if (error != nullptr)
                    *error = QString::fromUtf8(PQresultErrorMessage(res)).trimmed();
            }
            PQclear(res);
        }
        return ok && cancel == nullptr;
    }

    void clearBatch() {
        buffer_.clear();
        rowStarts_.clear();
        sent_ = 0;
        streamFailed_ = false;
    }

    // The fields of one buffered row, decoded from the COPY text again.
    std::vector<QByteArray> decodeRow(size_t row, std::vector<bool>& nulls) const {
        const qsizetype begin = rowStarts_[row];
        const qsizetype end = row + 1 < rowStarts_.size() ? rowStarts_[row + 1] : buffer_.size();
        std::vector<QByteArray> fields(1);
        nulls.assign(1, false);
        for (qsizetype i = begin; i < end - 1; ++i) {
            const char ch = buffer_.at(i);
            if (ch == '\t') {
                fields.emplace_back();
                nulls.push_back(false);
            } else if (ch == '\\' && i + 1 < end - 1) {
                const char next = buffer_.at(++i);
                if (next == 'N' && fields.back().isEmpty())
                    nulls.back() = true;
                else
                    fields.back() += next == 't'   ? '\t'
                                     : next == 'n' ? '\n'
                                     : next == 'r' ? '\r'
                                                   : next;
            } else {
                fields.back() += ch;
            }
        }
        return fields;
    }

    bool loadRowByRow(QString* error) {
        if (!command("BEGIN", error))
            return false;
        for (size_t row = 0; row < rowStarts_.size(); ++row) {
            std::vector<bool> nulls;
            const std::vector<QByteArray> fields = decodeRow(row, nulls);
            std::vector<const char*> values(fields.size());
            for (size_t i = 0; i < fields.size(); ++i)
                values[i] = nulls[i] ? nullptr : fields[i].constData();
            if (!command("SAVEPOINT bulk_row", error))
                return false;
            PGresult* r = PQexecParams(pg_, insertSql_.constData(), static_cast<int>(values.size()),
                                       nullptr, values.data(), nullptr, nullptr, 0);
            if (PQresultStatus(r) == PGRES_COMMAND_OK) {
                PQclear(r);
                if (!command("RELEASE SAVEPOINT bulk_row", error))
                    return false;
                continue;
            }
            QStringList rowValues;
            for (size_t i = 0; i < fields.size(); ++i)
                rowValues << (nulls[i] ? QString() : QString::fromUtf8(fields[i]));
            late_.push_back({static_cast<int>(row),
                             QString::fromUtf8(PQresultErrorMessage(r)).trimmed(), rowValues});
            PQclear(r);
            if (!command("ROLLBACK TO SAVEPOINT bulk_row", error))
                return false;
        }
        return command("COMMIT", error);
    }

    PGconn* pg_ = nullptr;
    QByteArray copySql_, insertSql_;
    QByteArray buffer_;
    qsizetype sent_ = 0;
    bool copying_ = false;
    bool streamFailed_ = false;
    std::vector<qsizetype> rowStarts_;
    std::vector<LateRejection> late_;
};

// Any other server (ODBC): prepared inserts with bound values in a transaction per batch.
class QueryInsertSink final : public SinkBase {
  public:
    using SinkBase::SinkBase;
    ~QueryInsertSink() override { Rollback(); }

    bool Begin(const QStringList& columns, int fieldCount, QString* error) override {
        if (!prepareColumns(columns, fieldCount, error))
            return false;
        query_.emplace(connection_->Database());
        if (!query_->prepare(
                insertSql(connection_->Dialect(), table_, columns_, QStringLiteral("?")))) {
            *error =
                DbErrorMessage(query_->lastError(), QStringLiteral("the server gave no reason"));
            return false;
        }
        return true;
    }

    RowResult AddRow(const BulkField* fields, int count, QString* reason) override {
        if (!inTransaction_)
            inTransaction_ = connection_->Database().transaction();
        for (int i = 0; i < count; ++i)
            query_->bindValue(
                i, fields[i].null
                       ? QVariant()
                       : QVariant(QString::fromUtf8(fields[i].text.data(), fields[i].text.size())));
        if (query_->exec())
            return RowResult::Accepted;
        *reason = DbErrorMessage(query_->lastError(), QStringLiteral("the server gave no reason"));
        return RowResult::Rejected;
    }

    bool CommitBatch(QString* error) override {
        if (!inTransaction_)
            return true;
        inTransaction_ = false;
        if (connection_->Database().commit())
            return true;
        *error = DbErrorMessage(connection_->Database().lastError(),
                                QStringLiteral("the server gave no reason"));
        return false;
    }

    void Rollback() override {
        if (inTransaction_)
            connection_->Database().rollback();
        inTransaction_ = false;
    }

  private:
    std::optional<QSqlQuery> query_;
    bool inTransaction_ = false;
};

}  // namespace

std::unique_ptr<BulkRowSink> OpenTableBulkSink(const ResolvedConnection& connection,
                                               const QString& table, QString* error) {
    auto c = std::make_unique<DbConnection>();
    if (!OpenResolvedConnection(connection, *c, error))
        return nullptr;
    switch (c->Server().kind) {
        case ServerLocation::Kind::Embedded:
            return std::make_unique<SqliteSink>(std::move(c), table);
        case ServerLocation::Kind::PostgreSQL:
            return std::make_unique<PostgresCopySink>(std::move(c), table);
        case ServerLocation::Kind::Odbc:
            break;
    }
    return std::make_unique<QueryInsertSink>(std::move(c), table);
}
