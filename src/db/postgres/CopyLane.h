#pragma once

#include <libpq-fe.h>

#include <QByteArray>
#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "db/BulkRowSink.h"
#include "db/postgres/CopyBinary.h"

// One connection to a PostgreSQL server and the batch of a bulk load it carries: the batch goes
// to the server as one COPY in its own transaction. When the server refuses the batch, it is
// loaded again row by row, each behind a savepoint, so that only the refused rows are left out.
//
// The COPY is binary when the client can write every value of the batch in its column's binary
// form, which spares the server the parsing of text; a batch with a column of another type, or
// with a value in a form the client does not write, goes as text. Where the rows come from a CSV
// file and the load chooses so (`csvCopy`), the COPY is in CSV form instead: a record the server
// reads as exactly its fields is sent as it stands in the file, without being taken apart and
// put together again; any other row is written as CSV by the client. Each form is kept only until
// it is sent: rows needed again (the text of the rows before one that turns a batch to text, every
// row for the row-by-row load) come from the load's row replay. Without one, the text of every
// row is kept until the batch is committed.
//
// A batch is handed over (its last bytes sent) before it is committed, so that the server can
// still be storing it while another lane fills the next batch. Its COPY is a transaction of its
// own: ending the COPY commits the batch, cancelling it rolls the batch back.
class CopyLane {
  public:
    struct Statements {
        QByteArray copy, binaryCopy, csvCopy, insert;
        std::vector<BinaryType> types;      // empty: every batch goes as text
        char delimiter = ',', quote = '"';  // of csvCopy
    };

    CopyLane() = default;
    CopyLane(const CopyLane&) = delete;
    CopyLane& operator=(const CopyLane&) = delete;

    // `replay` (it may be empty) gives the rows of a batch again.
    void Start(PGconn* pg, const Statements* statements, const BulkRowSink::RowReplay* replay);
    // The number of the batch the lane fills next, as the row replay counts batches.
    void SetBatch(qint64 batch) { batch_ = batch; }

    // For a table whose unique or exclusion indexes can make one lane's rows wait for another's:
    // the connection's waits for locks end after kLockWait, and before the lane stores a batch
    // again (the server refused it, or a wait ended so), `clearWay` is called to set aside the
    // batch another lane holds, which may be what it waited for; the lane then waits for other
    // sessions as long as they take.
    static constexpr const char* kLockWait = "200ms";
    static QByteArray BoundedWaitsSql() {
        return QByteArray("SET lock_timeout = '") + kLockWait + "'";
    }
    void BoundWaits(std::function<void()> clearWay);

    // Takes back the batch handed over (its COPY is cancelled, nothing of it stays) and keeps it
    // to be sent again, whole, when it is committed.
    void SetAside();

    // Adds a row to the batch; false with `reason` when the row cannot go by COPY at all.
    // `record`, when not empty, is the row's own CSV record (BulkRowSink::AddRecord).
    bool AddRow(const BulkField* fields, int count, QByteArrayView record, QString* reason);
    bool Empty() const { return rows_ == 0; }

    // Sends the rest of the batch without ending its COPY: the server stores what it received,
    // and the batch stays uncommitted until Commit ends the COPY.
    void HandOver();
    bool HandedOver() const { return handedOver_; }

    // Waits for the outcome of the batch handed over and commits it, or loads it row by row
    // when the server refused it; `refused` gets the rows left out. False when the connection
    // failed. The lane is empty afterwards.
    bool Commit(std::vector<BulkRowSink::LateRejection>* refused, QString* error);

    // Throws the batch away, handed over or not.
    void Discard();

  private:
    bool appendBinaryRow(const BulkField* fields, int count);
    void leaveBinary();
    bool command(const char* sql, QString* error);
    void addCsvRow(const BulkField* fields, int count, QByteArrayView record);
    bool stream(bool all);
    bool send(QByteArrayView data);
    bool endCopy(const char* cancel, QString* error);
    bool collectCopyResult(QString* error);
    void clearBatch();
    bool loadRowByRow(std::vector<BulkRowSink::LateRejection>* refused, QString* error);
    bool sendAgain();
    bool textOfRows();
    void endFailedCopy();
    bool keepsText() const { return replay_ == nullptr || !*replay_; }
    bool rowValues(int row, std::vector<QByteArray>* values, std::vector<bool>* nulls) const;

    PGconn* pg_ = nullptr;
    const Statements* statements_ = nullptr;
    const BulkRowSink::RowReplay* replay_ = nullptr;
    qint64 batch_ = 0;
    int rows_ = 0;       // in the batch
    QByteArray buffer_;  // the text COPY of the batch (not sent yet, unless keepsText())
    QByteArray binary_;  // the binary COPY of the batch not sent yet, while binaryBatch_
    bool binaryBatch_ = false;
    bool csvBatch_ = false;
    QByteArrayView records_;  // records of the file not sent yet, while csvBatch_
    enum class LineEnd { Unknown, Lf, CrLf } lineEnd_ = LineEnd::Unknown;  // of the CSV lines
    qsizetype sent_ = 0;
    bool copying_ = false;   // a COPY is open: rows may be sent
    bool awaiting_ = false;  // the end of a COPY was sent, its result not read yet
    bool inTransaction_ = false;
    bool streamFailed_ = false;
    bool handedOver_ = false;
    bool setAside_ = false;             // the batch is to be sent again when it is committed
    QByteArray failureState_;           // the SQLSTATE of the last COPY that failed
    std::function<void()> clearWay_;    // while waits for locks are bounded
    std::vector<qsizetype> rowStarts_;  // of each row's text in buffer_, when keepsText()
    std::vector<BulkField> split_;      // the fields of a record the caller left whole
    std::string splitText_;
};
