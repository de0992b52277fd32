#include "db/postgres/PostgresCopySink.h"

#include <libpq-fe.h>

#include <vector>

#include "db/BulkSinkBase.h"
#include "db/DbInterface.h"
#include "db/SqlDialect.h"
#include "db/postgres/CopyBinary.h"
#include "db/postgres/CopyText.h"
#include "db/postgres/PgResult.h"

namespace {

// PostgreSQL: each batch goes to the server as one COPY in its own transaction. When the server
// refuses the batch, it is loaded again row by row, each behind a savepoint, so that only the
// refused rows are left out.
//
// The COPY is binary when the client can write every value of the batch in its column's binary
// form, which spares the server the parsing of text; a batch with a column of another type, or
// with a value in a form the client does not write, goes as text. The text of every row is kept
// either way, for the text COPY and for the row-by-row load.
class PostgresCopySink final : public TableSinkBase {
  public:
    using TableSinkBase::TableSinkBase;

    bool Begin(const QStringList& columns, int fieldCount, QString* error) override {
        if (!prepareColumns(columns, fieldCount, error))
            return false;
        pg_ = NativeHandle<PGconn>(connection_->Database(), {"PGconn*", "pg_conn*"});
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
        binaryCopySql_ = copySql_ + " (FORMAT binary)";
        insertSql_ = InsertSql(d, table_, columns_, QStringLiteral("$")).toUtf8();
        types_ = columnTypes();
        clearBatch();
        return true;
    }

    RowResult AddRow(const BulkField* fields, int count, QString* reason) override {
        const qsizetype start = buffer_.size();
        if (!AppendCopyRow(buffer_, fields, count, reason))
            return RowResult::Rejected;
        rowStarts_.push_back(start);
        if (binaryBatch_ && !appendBinaryRow(fields, count))
            leaveBinary();
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
        if (binaryBatch_)
            AppendBinaryCopyTrailer(binary_);
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
    // The binary type of each destination column; empty when a column has a type the client
    // does not write (every batch then goes as text).
    std::vector<BinaryType> columnTypes() {
        const QByteArray table = connection_->Dialect().QuoteIdentifier(table_).toUtf8();
        const char* params[] = {table.constData()};
        const PgResult r(PQexecParams(pg_,
                                      "SELECT attname, atttypid FROM pg_attribute WHERE attrelid "
                                      "= $1::regclass AND attnum > 0 AND NOT attisdropped",
                                      1, nullptr, params, nullptr, nullptr, 0));
        if (PQresultStatus(r.get()) != PGRES_TUPLES_OK)
            return {};
        std::vector<BinaryType> types;
        for (const QString& column : columns_) {
            BinaryType type = BinaryType::None;
            for (int row = 0; row < PQntuples(r.get()); ++row)
                if (QString::fromUtf8(PQgetvalue(r.get(), row, 0)) == column)
                    type = BinaryTypeOf(QByteArray(PQgetvalue(r.get(), row, 1)).toUInt());
            if (type == BinaryType::None)
                return {};
            types.push_back(type);
        }
        return types;
    }

    // Adds the row to the binary COPY of the batch. False when a value is not written in binary.
    bool appendBinaryRow(const BulkField* fields, int count) {
        if (count != static_cast<int>(types_.size()))
            return false;
        qsizetype room = binaryRowStartSize;
        for (int i = 0; i < count; ++i)
            room += MaxBinaryFieldSize(fields[i].text.size());
        const qsizetype start = binary_.size();
        binary_.resize(start + room);
        char* out = WriteBinaryRowStart(binary_.data() + start, count);
        for (int i = 0; i < count && out != nullptr; ++i)
            out = fields[i].null ? WriteBinaryNull(out)
                                 : WriteBinaryField(out, types_[i], fields[i].text);
        if (out == nullptr)
            return false;
        binary_.resize(out - binary_.constData());
        return true;
    }

    // The batch goes as text from now on: a binary COPY already under way is cancelled and
    // the text of the batch is sent from its first row.
    void leaveBinary() {
        binaryBatch_ = false;
        if (copying_) {
            endCopy("cancelled", nullptr);
            command("ROLLBACK", nullptr);
        }
        binary_.resize(0);
        sent_ = 0;
        streamFailed_ = false;
    }

    bool command(const char* sql, QString* error) {
        const PgResult r(PQexec(pg_, sql));
        const bool ok = PQresultStatus(r.get()) == PGRES_COMMAND_OK;
        if (!ok && error != nullptr)
            *error = QString::fromUtf8(PQresultErrorMessage(r.get())).trimmed();
        return ok;
    }

    // Sends what the batch holds beyond what was already sent, once enough has gathered (or
    // everything when `all`), so that the server works on the batch while the file is read. The
    // COPY starts with the first row of a batch. False once sending has failed.
    bool stream(bool all) {
        if (streamFailed_)
            return false;
        const QByteArray& data = binaryBatch_ ? binary_ : buffer_;
        constexpr qsizetype chunk = 256 * 1024;
        if (!all && data.size() - sent_ < chunk)
            return true;
        if (!copying_) {
            if (!command("BEGIN", nullptr)) {
                streamFailed_ = true;
                return false;
            }
            const PgResult r(PQexec(pg_, (binaryBatch_ ? binaryCopySql_ : copySql_).constData()));
            copying_ = PQresultStatus(r.get()) == PGRES_COPY_IN;
            if (!copying_) {
                command("ROLLBACK", nullptr);
                streamFailed_ = true;
                return false;
            }
        }
        while (sent_ < data.size()) {
            const int n = static_cast<int>(std::min<qsizetype>(data.size() - sent_, 1 << 20));
            if (PQputCopyData(pg_, data.constData() + sent_, n) != 1) {
                streamFailed_ = true;
                return false;
            }
            sent_ += n;
        }
        if (binaryBatch_) {  // the text of the batch is kept; its binary form only until sent
            binary_.resize(0);
            sent_ = 0;
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
        while (const PgResult res{PQgetResult(pg_)}) {
            if (PQresultStatus(res.get()) != PGRES_COMMAND_OK) {
                ok = false;
                if (error != nullptr)
                    *error = QString::fromUtf8(PQresultErrorMessage(res.get())).trimmed();
            }
        }
        return ok && cancel == nullptr;
    }

    // Buffers keep their memory from batch to batch.
    void clearBatch() {
        buffer_.resize(0);
        rowStarts_.clear();
        sent_ = 0;
        streamFailed_ = false;
        binary_.resize(0);
        binaryBatch_ = !types_.empty();
        if (binaryBatch_)
            AppendBinaryCopyHeader(binary_);
    }

    // The fields of one buffered row, decoded from the COPY text again.
    std::vector<QByteArray> decodeRow(size_t row, std::vector<bool>& nulls) const {
        const qsizetype begin = rowStarts_[row];
        const qsizetype end = row + 1 < rowStarts_.size() ? rowStarts_[row + 1] : buffer_.size();
        return DecodeCopyRow(QByteArrayView(buffer_).sliced(begin, end - begin), nulls);
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
            const PgResult r(PQexecParams(pg_, insertSql_.constData(),
                                          static_cast<int>(values.size()), nullptr, values.data(),
                                          nullptr, nullptr, 0));
            if (PQresultStatus(r.get()) == PGRES_COMMAND_OK) {
                if (!command("RELEASE SAVEPOINT bulk_row", error))
                    return false;
                continue;
            }
            QStringList rowValues;
            for (size_t i = 0; i < fields.size(); ++i)
                rowValues << (nulls[i] ? QString() : QString::fromUtf8(fields[i]));
            late_.push_back({static_cast<int>(row),
                             QString::fromUtf8(PQresultErrorMessage(r.get())).trimmed(),
                             rowValues});
            if (!command("ROLLBACK TO SAVEPOINT bulk_row", error))
                return false;
        }
        return command("COMMIT", error);
    }

    PGconn* pg_ = nullptr;
    QByteArray copySql_, binaryCopySql_, insertSql_;
    std::vector<BinaryType> types_;
    QByteArray buffer_;  // the text COPY of the batch
    QByteArray binary_;  // the binary COPY of the batch not sent yet, while binaryBatch_
    bool binaryBatch_ = false;
    qsizetype sent_ = 0;
    bool copying_ = false;
    bool streamFailed_ = false;
    std::vector<qsizetype> rowStarts_;
    std::vector<LateRejection> late_;
};

}  // namespace

std::unique_ptr<BulkRowSink> OpenPostgresCopySink(std::unique_ptr<DbConnection> connection,
                                                  const QString& table) {
    return std::make_unique<PostgresCopySink>(std::move(connection), table);
}
