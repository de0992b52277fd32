#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

// Where the rows of a bulk insert go. The flat-file reader and the error accounting feed one
// sink per step; the database layer supplies the sink of a table.

// One field of a row: UTF-8 text (whatever the file's code page), valid until the next row.
// An empty unquoted field is null; a quoted empty field ("") is the empty text.
struct BulkField {
    QByteArrayView text;
    bool null = false;
};

class BulkRowSink {
  public:
    virtual ~BulkRowSink() = default;

    enum class RowResult {
        Accepted,  // the row is part of the current batch
        Rejected,  // this row cannot be stored (a value that does not convert): counted as an error
        Fatal,     // the sink cannot go on: the step fails
    };

    // Called once before the first row. `columns` are the destination columns in the order of the
    // fields; empty means every column of the table in table order. `fieldCount` is the number
    // of fields each row will have.
    virtual bool Begin(const QStringList& columns, int fieldCount, QString* error) = 0;
    // One row of `count` fields. On Rejected and Fatal, `reason` says why.
    virtual RowResult AddRow(const BulkField* fields, int count, QString* reason) = 0;

    // The rows come from a CSV file with this delimiter and quote character. Given before Begin.
    struct CsvSource {
        char delimiter = ',';
        char quote = '"';
    };
    void SetCsvSource(CsvSource source) { csv_ = source; }
    // One row as AddRow takes it, with `record`: the row's record as it stands in the file (its
    // bytes up to its line feed), when CSV rules read exactly these fields from it; else empty.
    // The bytes stay valid until the load ends. A sink may send them instead of the fields.
    // Once the sink has said it TakesPlainRecords, `fields` may be null beside a `record`: the
    // sink then has the `count` fields from the record itself (SplitPlainRecord).
    virtual RowResult AddRecord(const BulkField* fields, int count, QByteArrayView /*record*/,
                                QString* reason) {
        return AddRow(fields, count, reason);
    }
    // Whether the sink now sends most records as they stand, so that the caller may leave them
    // untaken apart (AddRecord without fields). Asked after Begin and again after each batch
    // handed over; records read ahead before the answer changed may still come either way.
    virtual bool TakesPlainRecords() const { return false; }
    // Hands the rows accepted since the last call over as one batch, to be made permanent.
    // Most sinks commit it before they return; one that commits a batch while the next is being
    // filled may return first. Batches are committed in the order they were handed over, each
    // only once the one before it was; TakeCommittedBatches tells which are. False when the sink
    // cannot go on.
    virtual bool CommitBatch(QString* error) = 0;
    // Waits until every batch handed over is committed.
    virtual bool Flush(QString* /*error*/) { return true; }
    // Discards the rows accepted since the last commit, and the batches handed over and not
    // committed yet.
    virtual void Rollback() = 0;

    // A sink that sends a whole batch at once (COPY) learns only at commit that the database
    // refuses a value. It then stores the other rows of the batch and reports the refused ones,
    // by their position in the batch (0 = its first row). The caller keeps what it needs to
    // describe each row of a batch when this is true.
    struct LateRejection {
        int row = 0;
        QString reason;
        QStringList fields;  // the row's values as the sink received them
    };
    virtual bool RejectsAtCommit() const { return false; }

    // How a sink has the rows of a batch again, for a batch the database refused as a whole and
    // that must be stored row by row: the values of row `row` (0 = the first row accepted in the
    // batch) of batch `batch` (0 = the first batch of the load, counted by CommitBatch), as they
    // were handed to AddRow; `nulls` says which are null. False when they cannot be had. A caller
    // that can read its rows again gives this before Begin; a sink without it keeps a copy of
    // every row of a batch until it is committed.
    using RowReplay = std::function<bool(qint64 batch, int row, std::vector<QByteArray>* values,
                                         std::vector<bool>* nulls)>;
    void SetRowReplay(RowReplay replay) { replay_ = std::move(replay); }

    // The batches committed since the last call, oldest first: for each, the rows refused.
    std::vector<std::vector<LateRejection>> TakeCommittedBatches() {
        return std::exchange(committed_, {});
    }

  protected:
    // Every sink calls this for each batch as it is committed.
    void BatchCommitted(std::vector<LateRejection> refused = {}) {
        committed_.push_back(std::move(refused));
    }

    const RowReplay& Replay() const { return replay_; }
    const std::optional<CsvSource>& Csv() const { return csv_; }

  private:
    std::optional<CsvSource> csv_;
    std::vector<std::vector<LateRejection>> committed_;
    RowReplay replay_;
};
