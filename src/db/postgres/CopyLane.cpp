#include "db/postgres/CopyLane.h"

#include "db/postgres/CopyText.h"
#include "db/postgres/PgResult.h"

void CopyLane::Start(PGconn* pg, const Statements* statements) {
    pg_ = pg;
    statements_ = statements;
    clearBatch();
}

bool CopyLane::AddRow(const BulkField* fields, int count, QString* reason) {
    const qsizetype start = buffer_.size();
    if (!AppendCopyRow(buffer_, fields, count, reason))
        return false;
    rowStarts_.push_back(start);
    if (binaryBatch_ && !appendBinaryRow(fields, count))
        leaveBinary();
    stream(false);
    return true;
}

void CopyLane::HandOver() {
    if (rowStarts_.empty() || handedOver_)
        return;
    handedOver_ = true;
    if (binaryBatch_)
        AppendBinaryCopyTrailer(binary_);
    if (!stream(true))
        return;
    copying_ = false;
    awaiting_ = PQputCopyEnd(pg_, nullptr) == 1;
    streamFailed_ = !awaiting_;
}

bool CopyLane::Commit(std::vector<BulkRowSink::LateRejection>* refused, QString* error) {
    refused->clear();
    if (rowStarts_.empty()) {
        clearBatch();
        return true;
    }
    HandOver();
    const bool copied = !streamFailed_ && collectCopyResult(nullptr) && command("COMMIT", nullptr);
    bool ok = true;
    if (!copied) {
        endCopy("cancelled", nullptr);
        collectCopyResult(nullptr);
        if (inTransaction_)
            command("ROLLBACK", nullptr);
        if (PQstatus(pg_) != CONNECTION_OK) {
            *error = QString::fromUtf8(PQerrorMessage(pg_)).trimmed();
            ok = false;
        } else {
            ok = loadRowByRow(refused, error);
        }
    }
    clearBatch();
    return ok;
}

void CopyLane::Discard() {
    endCopy("cancelled", nullptr);
    collectCopyResult(nullptr);
    if (inTransaction_)
        command("ROLLBACK", nullptr);
    clearBatch();
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
    for (int i = 0; i < count && out != nullptr; ++i)
        out =
            fields[i].null ? WriteBinaryNull(out) : WriteBinaryField(out, types[i], fields[i].text);
    if (out == nullptr)
        return false;
    binary_.resize(out - binary_.constData());
    return true;
}

// The batch goes as text from now on: a binary COPY already under way is cancelled and the text
// of the batch is sent from its first row.
void CopyLane::leaveBinary() {
    binaryBatch_ = false;
    endCopy("cancelled", nullptr);
    if (inTransaction_)
        command("ROLLBACK", nullptr);
    binary_.resize(0);
    sent_ = 0;
    streamFailed_ = false;
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
// everything when `all`), so that the server works on the batch while the file is read. The COPY
// starts with the first row of a batch. False once sending has failed.
bool CopyLane::stream(bool all) {
    if (streamFailed_)
        return false;
    const QByteArray& data = binaryBatch_ ? binary_ : buffer_;
    constexpr qsizetype chunk = 128 * 1024;
    if (!all && data.size() - sent_ < chunk)
        return true;
    if (!copying_) {
        if (!command("BEGIN", nullptr)) {
            streamFailed_ = true;
            return false;
        }
        const PgResult r(
            PQexec(pg_, (binaryBatch_ ? statements_->binaryCopy : statements_->copy).constData()));
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
    sent_ = 0;
    streamFailed_ = false;
    handedOver_ = false;
    binary_.resize(0);
    binaryBatch_ = !statements_->types.empty();
    if (binaryBatch_)
        AppendBinaryCopyHeader(binary_);
}

bool CopyLane::loadRowByRow(std::vector<BulkRowSink::LateRejection>* refused, QString* error) {
    if (!command("BEGIN", error))
        return false;
    for (size_t row = 0; row < rowStarts_.size(); ++row) {
        const qsizetype begin = rowStarts_[row];
        const qsizetype end = row + 1 < rowStarts_.size() ? rowStarts_[row + 1] : buffer_.size();
        std::vector<bool> nulls;
        const std::vector<QByteArray> fields =
            DecodeCopyRow(QByteArrayView(buffer_).sliced(begin, end - begin), nulls);
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
        refused->push_back({static_cast<int>(row),
                            QString::fromUtf8(PQresultErrorMessage(r.get())).trimmed(), rowValues});
        if (!command("ROLLBACK TO SAVEPOINT bulk_row", error))
            return false;
    }
    return command("COMMIT", error);
}
