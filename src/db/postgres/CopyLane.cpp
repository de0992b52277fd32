#include "db/postgres/CopyLane.h"

#include "db/PlainCsvRecord.h"
#include "db/postgres/CopyText.h"
#include "db/postgres/PgResult.h"
#include "util/StopFlags.h"

void CopyLane::Start(PGconn* pg, const Statements* statements,
                     const BulkRowSink::RowReplay* replay) {
    pg_ = pg;
    statements_ = statements;
    replay_ = replay;
    clearBatch();
}

bool CopyLane::AddRow(const BulkField* fields, int count, QByteArrayView record, QString* reason) {
    if (record.isEmpty() && !CopyRowAllowed(fields, count, reason))  // a record holds no NUL
        return false;
    // The server takes the line end of a CSV COPY's first line for all of its lines: a record that
    // ends otherwise is written by the client.
    bool asItStands = csvBatch_ && !record.isEmpty();
    if (asItStands) {
        // (A record ends with its line feed.)
        const LineEnd end =
            record.size() >= 2 && record[record.size() - 2] == '\r' ? LineEnd::CrLf : LineEnd::Lf;
        if (lineEnd_ == LineEnd::Unknown)
            lineEnd_ = end;
        asItStands = end == lineEnd_;
    }
    if (fields == nullptr && !asItStands) {  // the caller left the record whole
        SplitPlainRecord(record, statements_->delimiter, statements_->quote, &split_, &splitText_);
        if (split_.size() != static_cast<size_t>(count)) {
            *reason = QStringLiteral("the record could not be read again");
            return false;
        }
        fields = split_.data();
    }
    if (csvBatch_) {
        addCsvRow(fields, count, asItStands ? record : QByteArrayView());
        ++rows_;
        stream(false);
        return true;
    }
    if (binaryBatch_ && !appendBinaryRow(fields, count))
        leaveBinary();
    if (keepsText() || !binaryBatch_) {
        const qsizetype start = buffer_.size();
        AppendCopyRow(buffer_, fields, count, reason);
        if (keepsText())
            rowStarts_.push_back(start);
    }
    ++rows_;
    stream(false);
    return true;
}

void CopyLane::HandOver() {
    if (rows_ == 0 || handedOver_)
        return;
    handedOver_ = true;
    if (setAside_)  // sent when it is committed
        return;
    if (binaryBatch_)
        AppendBinaryCopyTrailer(binary_);
    stream(true);
}

bool CopyLane::Commit(std::vector<BulkRowSink::LateRejection>* refused, QString* error) {
    refused->clear();
    if (rows_ == 0) {
        clearBatch();
        return true;
    }
    // The COPY is a transaction of its own: its end commits the batch.
    bool copied;
    if (setAside_) {
        copied = sendAgain();
    } else {
        HandOver();
        copied = !streamFailed_ && endCopy(nullptr, nullptr);
    }
    bool ok = true;
    if (!copied) {
        endFailedCopy();
        if (PQstatus(pg_) != CONNECTION_OK) {
            *error = QString::fromUtf8(PQerrorMessage(pg_)).trimmed();
            ok = false;
        } else if (StopFlags::StopRequested) {  // a stop is not kept waiting for the rows one by
                                                // one
            *error = QStringLiteral("the batch was not stored: the load was stopped");
            ok = false;
        } else {
            const bool bounded = static_cast<bool>(clearWay_);
            if (bounded) {  // out of the way of another lane's rows, waiting for others only
                clearWay_();
                command("SET lock_timeout = 0", nullptr);
            }
            // A batch that only waited too long is sent again whole; one the server refused is
            // stored row by row.
            if (bounded && failureState_ == "55P03") {
                copied = sendAgain();
                if (!copied)
                    endFailedCopy();
            }
            if (!copied)
                ok = loadRowByRow(refused, error);
            if (bounded)
                command(BoundedWaitsSql().constData(), nullptr);
        }
    }
    clearBatch();
    return ok;
}

void CopyLane::BoundWaits(std::function<void()> clearWay) {
    clearWay_ = std::move(clearWay);
}

void CopyLane::SetAside() {
    if (rows_ == 0 || setAside_)
        return;
    endFailedCopy();
    setAside_ = true;
    streamFailed_ = false;
    records_ = {};
    binary_.resize(0);
    if (!keepsText())
        buffer_.resize(0);
    sent_ = 0;
}

// Cancels a COPY still open and rolls back what it stored.
void CopyLane::endFailedCopy() {
    endCopy("cancelled", nullptr);
    collectCopyResult(nullptr);
    if (inTransaction_)
        command("ROLLBACK", nullptr);
}

// Sends every row of the batch again, as text, in a COPY of its own, and ends it. False when the
// server did not store them.
bool CopyLane::sendAgain() {
    binaryBatch_ = csvBatch_ = false;
    sent_ = 0;
    streamFailed_ = false;
    if (!keepsText() && !textOfRows())  // kept text holds every row already
        return false;
    return send(buffer_) && endCopy(nullptr, nullptr);
}

void CopyLane::Discard() {
    endFailedCopy();
    clearBatch();
}

// Adds the row to the CSV COPY of the batch: the file's records go as they are, runs of them that
// follow one another in the file in one piece; other rows are written. What was gathered of the
// other kind is sent first, so that the rows keep their order.
void CopyLane::addCsvRow(const BulkField* fields, int count, QByteArrayView record) {
    if (record.isEmpty()) {
        if (!records_.isEmpty())
            stream(true);
        if (lineEnd_ == LineEnd::Unknown)
            lineEnd_ = LineEnd::Lf;
        AppendCsvRow(buffer_, fields, count, statements_->delimiter, statements_->quote,
                     lineEnd_ == LineEnd::CrLf);
        return;
    }
    if (records_.data() + records_.size() == record.data()) {
        records_ = QByteArrayView(records_.data(), records_.size() + record.size());
        return;
    }
    if (!records_.isEmpty() || buffer_.size() > sent_)
        stream(true);
    records_ = record;
}

// Adds the row to the binary COPY of the batch. False when a value is not written in binary.
bool CopyLane::appendBinaryRow(const BulkField* fields, int count) {
    const std::vector<BinaryType>& types = statements_->types;
    if (count != static_cast<int>(types.size()))
        return false;
    qsizetype room = binaryRowStartSize;
    for (int i = 0; i < count; ++i)
        room += MaxBinaryFieldSize(fields[i].text.size());
    const qsizetype start = binary_.size();
    binary_.resize(start + room);
    char* out = WriteBinaryRowStart(binary_.data() + start, count);
    for (int i = 0; i < count && out != nullptr; ++i) {
        const BulkField& f = fields[i];
        if (f.null)
            out = WriteBinaryNull(out);
        else if (types[i] == BinaryType::Text)
            out = WriteBinaryText(out, f.text);
        else
            out = WriteBinaryField(out, types[i], f.text);
    }
    if (out == nullptr)
        return false;
    binary_.resize(out - binary_.constData());
    return true;
}

// The batch goes as text from now on: a binary COPY already under way is cancelled and the text
// of the batch is sent from its first row (read again when it was not kept).
void CopyLane::leaveBinary() {
    binaryBatch_ = false;
    endCopy("cancelled", nullptr);
    binary_.resize(0);
    sent_ = 0;
    streamFailed_ = false;
    if (!keepsText() && !textOfRows())
        streamFailed_ = true;  // the batch goes row by row, where the failure is told
}

// Writes the text COPY of every row of the batch, read again, into buffer_. False when a row
// could not be read again.
bool CopyLane::textOfRows() {
    buffer_.resize(0);
    std::vector<QByteArray> values;
    std::vector<bool> nulls;
    std::vector<BulkField> fields;
    QString reason;
    for (int row = 0; row < rows_; ++row) {
        if (!rowValues(row, &values, &nulls))
            return false;
        fields.resize(values.size());
        for (size_t i = 0; i < values.size(); ++i)
            fields[i] = {QByteArrayView(values[i]), nulls[i]};
        AppendCopyRow(buffer_, fields.data(), static_cast<int>(fields.size()), &reason);
    }
    return true;
}

bool CopyLane::command(const char* sql, QString* error) {
    const PgResult r(PQexec(pg_, sql));
    const bool ok = PQresultStatus(r.get()) == PGRES_COMMAND_OK;
    if (!ok && error != nullptr)
        *error = QString::fromUtf8(PQresultErrorMessage(r.get())).trimmed();
    const QByteArrayView word(sql);
    if (word == "BEGIN")
        inTransaction_ = ok;
    else if (word == "COMMIT" || word == "ROLLBACK")
        inTransaction_ = false;
    return ok;
}

// Sends what the batch holds beyond what was already sent, once enough has gathered (or
// everything when `all`), so that the server works on the batch while the file is read. False
// once sending has failed.
bool CopyLane::stream(bool all) {
    if (streamFailed_)
        return false;
    if (setAside_) {  // the rows are sent when the batch is committed
        records_ = {};
        if (!keepsText())
            buffer_.resize(0);
        binary_.resize(0);
        return true;
    }
    constexpr qsizetype chunk = 128 * 1024;
    if (!records_.isEmpty() && (all || records_.size() >= chunk)) {
        if (!send(records_))
            return false;
        records_ = {};
    }
    QByteArray& data = binaryBatch_ ? binary_ : buffer_;
    if (!all && data.size() - sent_ < chunk)
        return true;
    if (!send(QByteArrayView(data).sliced(sent_)))
        return false;
    sent_ = data.size();
    if (binaryBatch_ || !keepsText()) {  // the form sent is kept only when it must be
        data.resize(0);
        sent_ = 0;
    }
    return true;
}

// Sends `data` into the COPY of the batch, which starts with its first bytes.
bool CopyLane::send(QByteArrayView data) {
    if (!copying_) {
        // The COPY is its own transaction, committed by its end and rolled back when it fails
        // or is cancelled.
        const QByteArray& copy = binaryBatch_ ? statements_->binaryCopy
                                 : csvBatch_  ? statements_->csvCopy
                                              : statements_->copy;
        const PgResult r(PQexec(pg_, copy.constData()));
        copying_ = PQresultStatus(r.get()) == PGRES_COPY_IN;
        if (!copying_) {
            failureState_ = PQresultErrorField(r.get(), PG_DIAG_SQLSTATE);
            streamFailed_ = true;
            return false;
        }
    }
    for (qsizetype at = 0; at < data.size();) {
        const int n = static_cast<int>(std::min<qsizetype>(data.size() - at, 1 << 20));
        if (PQputCopyData(pg_, data.data() + at, n) != 1) {
            streamFailed_ = true;
            return false;
        }
        at += n;
    }
    return true;
}

// Ends a COPY still open (cancelled when `cancel` is given) and collects its result.
bool CopyLane::endCopy(const char* cancel, QString* error) {
    if (!copying_)
        return false;
    copying_ = false;
    awaiting_ = PQputCopyEnd(pg_, cancel) == 1;
    return collectCopyResult(error) && cancel == nullptr;
}

// Waits for the result of a COPY whose end was sent. False when there was none or it failed.
bool CopyLane::collectCopyResult(QString* error) {
    if (!awaiting_)
        return false;
    awaiting_ = false;
    bool ok = true;
    while (const PgResult res{PQgetResult(pg_)}) {
        if (PQresultStatus(res.get()) != PGRES_COMMAND_OK) {
            if (ok)
                failureState_ = PQresultErrorField(res.get(), PG_DIAG_SQLSTATE);
            ok = false;
            if (error != nullptr)
                *error = QString::fromUtf8(PQresultErrorMessage(res.get())).trimmed();
        }
    }
    return ok;
}

// Buffers keep their memory from batch to batch.
void CopyLane::clearBatch() {
    buffer_.resize(0);
    rowStarts_.clear();
    rows_ = 0;
    sent_ = 0;
    streamFailed_ = false;
    handedOver_ = false;
    setAside_ = false;
    failureState_.clear();
    binary_.resize(0);
    records_ = {};
    lineEnd_ = LineEnd::Unknown;
    csvBatch_ = !statements_->csvCopy.isEmpty() && !keepsText();
    binaryBatch_ = !csvBatch_ && !statements_->types.empty();
    if (binaryBatch_)
        AppendBinaryCopyHeader(binary_);
}

bool CopyLane::loadRowByRow(std::vector<BulkRowSink::LateRejection>* refused, QString* error) {
    if (!command("BEGIN", error))
        return false;
    std::vector<QByteArray> fields;
    std::vector<bool> nulls;
    for (int row = 0; row < rows_; ++row) {
        if (!rowValues(row, &fields, &nulls)) {
            *error = QStringLiteral(
                "the rows of a batch the server refused could not be read "
                "again to be stored one by one");
            return false;
        }
        std::vector<const char*> values(fields.size());
        for (size_t i = 0; i < fields.size(); ++i)
            values[i] = nulls[i] ? nullptr : fields[i].constData();
        if (!command("SAVEPOINT bulk_row", error))
            return false;
        const PgResult r(PQexecParams(pg_, statements_->insert.constData(),
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
        refused->push_back(
            {row, QString::fromUtf8(PQresultErrorMessage(r.get())).trimmed(), rowValues});
        if (!command("ROLLBACK TO SAVEPOINT bulk_row", error))
            return false;
    }
    return command("COMMIT", error);
}

// The values of a row of the batch: from the text kept, or read again.
bool CopyLane::rowValues(int row, std::vector<QByteArray>* values, std::vector<bool>* nulls) const {
    if (!keepsText())
        return (*replay_)(batch_, row, values, nulls) && values->size() == nulls->size();
    const qsizetype begin = rowStarts_[row];
    const qsizetype end = row + 1 < rows_ ? rowStarts_[row + 1] : buffer_.size();
    *values = DecodeCopyRow(QByteArrayView(buffer_).sliced(begin, end - begin), *nulls);
    return true;
}
