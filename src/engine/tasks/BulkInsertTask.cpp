// Bulk insert: the records of a delimited flat file into a table, in batches. Rows that cannot
// be read or stored are rejected and described in "<package>_<step>_Bulkload.xml" in the log
// directory; more rejected rows than the task allows cancel the load (batches already committed
// stay).

#include <QDir>
#include <QFileInfo>
#include <QXmlStreamWriter>
#include <deque>

#include "engine/tasks/FlatFileReadAhead.h"
#include "engine/tasks/FlatFileReader.h"
#include "engine/tasks/PackageTasks.h"
#include "util/Counted.h"
#include "util/OperatorInterface.h"
#include "util/StopFlags.h"
#include "util/TextFiles.h"

namespace {

// Characters XML cannot carry are shown as U+FFFD.
QString XmlSafe(QString text) {
    for (QChar& c : text) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != 0x09 && u != 0x0A && u != 0x0D) || u == 0xFFFE || u == 0xFFFF)
            c = QChar(0xFFFD);
    }
    return text;
}

class RejectedRows {
  public:
    RejectedRows(const TaskContext& context, const QString& file)
        : context_(context), file_(file) {}

    void Add(qint64 line, const QString& reason, const QString& data) {
        const QString description =
            QStringLiteral("File '%1', line %2: %3").arg(file_).arg(line).arg(reason);
        errors_.push_back(Entry{line, description, data});
    }

    int Count() const { return static_cast<int>(errors_.size()); }

    // Writes the error file when there is anything to describe. False when it could not be
    // written.
    bool Write(QString* path) {
        if (errors_.empty() || context_.logDirectory.isEmpty())
            return true;
        *path = QDir(context_.logDirectory)
                    .filePath(StepFileName(context_, QStringLiteral("_Bulkload.xml")));
        QByteArray xml;
        QXmlStreamWriter w(&xml);
        w.setAutoFormatting(true);
        w.writeStartDocument();
        w.writeStartElement(QStringLiteral("BulkloadErrors"));
        w.writeAttribute(QStringLiteral("package"), XmlSafe(context_.packageName));
        w.writeAttribute(QStringLiteral("step"), XmlSafe(context_.stepName));
        w.writeAttribute(QStringLiteral("file"), XmlSafe(file_));
        for (const Entry& e : errors_) {
            w.writeStartElement(QStringLiteral("Error"));
            w.writeAttribute(QStringLiteral("line"), QString::number(e.line));
            w.writeTextElement(QStringLiteral("Description"), XmlSafe(e.description));
            if (!e.data.isNull())
                w.writeTextElement(QStringLiteral("Data"), XmlSafe(e.data));
            w.writeEndElement();
        }
        w.writeEndElement();
        w.writeEndDocument();
        return WriteFileAtomically(*path, xml);
    }

  private:
    struct Entry {
        qint64 line;
        QString description;
        QString data;
    };
    const TaskContext& context_;
    QString file_;
    std::vector<Entry> errors_;
};

// The rows of a load on their way to the sink in batches: the batch being filled, the batches
// handed over and not committed yet (a sink may store one while the next is filled), the rows
// committed, and the records refused. Refusals reach the error rows in the file's order, as if
// each batch were committed before the next was read: a record refused while an earlier batch is
// still open waits for that batch's own refusals. More refusals than the task allows end the
// load: Failure() then says why, and refusals still waiting are dropped.
class BatchLedger {
  public:
    BatchLedger(BulkRowSink& sink, RejectedRows& rejected, const BulkInsertTask& task, QString path,
                QString table, const FlatFileReader& file)
        : sink_(sink),
          rejected_(rejected),
          task_(task),
          file_(file),
          path_(std::move(path)),
          table_(std::move(table)) {}

    // A record refused as it was read or handed to the sink.
    void Refuse(qint64 line, const QString& why, const QString& data) {
        if (handedOver_.empty())
            refuseNow(line, why, data);
        else
            waiting_.push_back({batchNumber_, line, why, data});
    }

    // A row the sink took into the current batch, at `line` and `span` of the file; the batch is
    // handed over once it is full.
    void Took(qint64 line, FlatFileReader::Span span) {
        if (sink_.RejectsAtCommit()) {
            lines_.push_back(line);
            spans_.push_back(span);
        }
        if (++inBatch_ >= task_.batchSize)
            HandOver();
    }

    // Where row `row` of batch `batch` (as the sink counts them) lies in the file.
    bool SpanOf(qint64 batch, int row, FlatFileReader::Span* span) const {
        const std::vector<FlatFileReader::Span>* spans = batch == batchNumber_ ? &spans_ : nullptr;
        for (const Batch& b : handedOver_)
            if (b.number == batch)
                spans = &b.spans;
        if (spans == nullptr || row < 0 || row >= static_cast<int>(spans->size()))
            return false;
        *span = (*spans)[row];
        return true;
    }
    qint64 RowsInBatch() const { return inBatch_; }

    // Hands the current batch to the sink.
    void HandOver() {
        handedOver_.push_back({batchNumber_++, inBatch_, std::move(lines_), std::move(spans_)});
        lines_.clear();
        spans_.clear();
        inBatch_ = 0;
        QString error;
        if (!sink_.CommitBatch(&error))
            Fail(error);
        takeCommitted();
    }

    // Waits until the batches handed over are committed.
    void Flush() {
        QString error;
        if (!sink_.Flush(&error))
            Fail(error);
        takeCommitted();
    }

    // Ends the load with `why`, unless it has already ended.
    void Fail(const QString& why) {
        if (failure_.isEmpty())
            failure_ = why;
    }
    const QString& Failure() const { return failure_; }
    qint64 Committed() const { return committed_; }

  private:
    void refuseNow(qint64 line, const QString& why, const QString& data) {
        rejected_.Add(line, why, data);
        if (failure_.isEmpty() && rejected_.Count() > task_.maxErrors) {
            rejected_.Add(line,
                          QStringLiteral("the load was cancelled: more than %1")
                              .arg(Counted(task_.maxErrors, "error", "errors")),
                          QString());
            Fail(QStringLiteral("Bulk insert of '%1' into '%2' was cancelled after %3")
                     .arg(path_, table_, Counted(rejected_.Count() - 1, "error", "errors")));
        }
    }

    // Counts the batches the sink has committed since, with the rows it refused in each, and
    // lets the refusals wait for them follow.
    void takeCommitted() {
        for (const auto& refused : sink_.TakeCommittedBatches()) {
            if (handedOver_.empty())
                break;
            const Batch batch = std::move(handedOver_.front());
            handedOver_.pop_front();
            qint64 stored = batch.rows;
            for (const BulkRowSink::LateRejection& late : refused) {
                if (late.row < 0 || late.row >= static_cast<int>(batch.lines.size()))
                    continue;
                --stored;
                // The record as the file has it, as for a record refused as it was read.
                refuseNow(batch.lines[late.row], late.reason,
                          late.row < static_cast<int>(batch.spans.size())
                              ? file_.RecordText(batch.spans[late.row])
                              : late.fields.join(QChar::fromLatin1(task_.delimiter)));
            }
            committed_ += stored;
            while (!waiting_.empty() && failure_.isEmpty() &&
                   (handedOver_.empty() || waiting_.front().batch <= handedOver_.front().number)) {
                refuseNow(waiting_.front().line, waiting_.front().why, waiting_.front().data);
                waiting_.pop_front();
            }
        }
    }

    struct Batch {
        qint64 number;
        qint64 rows;
        // Of its rows, for a sink that refuses rows at commit (and may read them again).
        std::vector<qint64> lines;
        std::vector<FlatFileReader::Span> spans;
    };
    struct Waiting {
        qint64 batch, line;
        QString why, data;
    };
    BulkRowSink& sink_;
    RejectedRows& rejected_;
    const BulkInsertTask& task_;
    const FlatFileReader& file_;  // its records' text only, which another thread may read too
    const QString path_, table_;
    qint64 batchNumber_ = 0;  // of the batch being filled
    qint64 inBatch_ = 0;
    std::vector<qint64> lines_;
    std::vector<FlatFileReader::Span> spans_;
    std::deque<Batch> handedOver_;
    std::deque<Waiting> waiting_;
    qint64 committed_ = 0;
    QString failure_;
};

QString FieldText(const BulkField& f) {
    return QString::fromUtf8(f.text.data(), f.text.size());
}

}  // namespace

TaskOutcome RunBulkInsert(const BulkInsertTask& task, const TaskContext& context) {
    QString error;
    QString path = context.expand(task.file);
    if (!task.fileConnection.isEmpty()) {
        ResolvedConnection files;
        if (!context.connection(task.fileConnection, &files, &error))
            return TaskOutcome::Failure(error);
        if (!files.IsDirectory())
            return TaskOutcome::Failure(
                QStringLiteral("Connection '%1' is not a directory").arg(task.fileConnection));
        if (QFileInfo(path).isRelative())
            path = QDir(files.directory).filePath(path);
    }

    FlatFileReader reader({task.delimiter, task.quote, task.codePage});
    if (!reader.Open(path, &error))
        return TaskOutcome::Failure(error);

    RejectedRows rejected(context, path);
    std::vector<BulkField> fields;
    QString reason;
    QStringList columns = task.columns;
    FlatFileReader::Status status = FlatFileReader::Status::End;
    if (task.header) {
        status = reader.Next(&fields, &reason);
        if (status == FlatFileReader::Status::Malformed)
            rejected.Add(reader.RecordLine(), QStringLiteral("header: ") + reason,
                         reader.RecordText());
        if (status == FlatFileReader::Status::Record && columns.isEmpty()) {
            for (const BulkField& f : fields)
                columns << FieldText(f).trimmed();
        }
    }
    int expected = columns.isEmpty() ? -1 : static_cast<int>(columns.size());
    // The records are read on another thread from here on, while this one stores them.
    FlatFileReadAhead records(reader);

    ResolvedConnection target;
    if (!context.connection(task.connection, &target, &error))
        return TaskOutcome::Failure(error);
    const QString table = context.expand(task.table);
    std::unique_ptr<BulkRowSink> sink =
        context.openBulkSink ? context.openBulkSink(target, table, &error) : nullptr;
    if (!sink)
        return TaskOutcome::Failure(
            error.isEmpty() ? QStringLiteral("Bulk insert needs a database connection") : error);

    if (task.codePage == CodePage::Utf8 && task.quote != '\0')
        sink->SetCsvSource({task.delimiter, task.quote});
    BatchLedger ledger(*sink, rejected, task, path, table, reader);
    // A sink that must store a batch row by row reads its rows again from the file, through a
    // reader of their own (the other one is busy on its thread).
    FlatFileReader again({task.delimiter, task.quote, task.codePage});
    bool againOpen = false;
    sink->SetRowReplay(
        [&](qint64 batch, int row, std::vector<QByteArray>* values, std::vector<bool>* nulls) {
            FlatFileReader::Span span;
            std::vector<BulkField> fields;
            QString why;
            if (!ledger.SpanOf(batch, row, &span) ||
                (!againOpen && !(againOpen = again.Open(path, &why))) ||
                again.ReadAt(span.begin, &fields, &why) != FlatFileReader::Status::Record)
                return false;
            values->clear();
            nulls->clear();
            for (const BulkField& f : fields) {
                values->emplace_back(f.text.data(), f.text.size());
                nulls->push_back(f.null);
            }
            return true;
        });
    auto refuseCurrent = [&](const QString& why) {
        ledger.Refuse(records.RecordLine(), why, records.RecordText());
    };
    bool begun = false;
    while (ledger.Failure().isEmpty()) {
        // A stop request ends the load at once: the batches handed over are committed, the open
        // batch is rolled back.
        if (StopFlags::StopRequested) {
            ledger.Flush();
            ledger.Fail(QStringLiteral("Bulk insert of '%1' into '%2' stopped by the user after %3")
                            .arg(path, table, Counted(ledger.Committed(), "row", "rows")));
            break;
        }
        const BulkField* row = nullptr;
        int count = 0;
        status = records.Next(&row, &count, &reason);
        if (status == FlatFileReader::Status::End)
            break;
        if (status == FlatFileReader::Status::Malformed) {
            refuseCurrent(reason);
            continue;
        }
        if (expected < 0)
            expected = count;
        if (count != expected) {
            refuseCurrent(QStringLiteral("expected %1, found %2")
                              .arg(Counted(expected, "field", "fields"))
                              .arg(count));
            continue;
        }
        if (!begun) {
            if (!sink->Begin(columns, expected, &error)) {
                ledger.Fail(error);
                break;
            }
            begun = true;
            records.SkimPlainRecords(sink->TakesPlainRecords());  // then not taken apart here
        }
        switch (sink->AddRecord(row, count, records.PlainRecord(), &reason)) {
            case BulkRowSink::RowResult::Accepted:
                ledger.Took(records.RecordLine(), records.RecordSpan());
                if (ledger.RowsInBatch() == 0)  // a batch was handed over: the sink may choose anew
                    records.SkimPlainRecords(sink->TakesPlainRecords());
                // The window stays responsive (and a stop request can arrive) during long loads,
                // also when a batch is the whole file: every few milliseconds.
                if (ledger.RowsInBatch() % 2048 == 0)
                    Operator().ProcessPendingEvents();
                break;
            case BulkRowSink::RowResult::Rejected:
                refuseCurrent(reason);
                break;
            case BulkRowSink::RowResult::Fatal:
                ledger.Fail(reason);
                break;
        }
    }
    if (ledger.Failure().isEmpty() && begun && ledger.RowsInBatch() > 0)
        ledger.HandOver();
    if (ledger.Failure().isEmpty() && begun)
        ledger.Flush();
    if (!ledger.Failure().isEmpty() && begun)
        sink->Rollback();

    QString errorFile;
    if (!rejected.Write(&errorFile))
        ledger.Fail(QStringLiteral("Can not write the error file '%1'").arg(errorFile));
    return TaskOutcome{ledger.Failure().isEmpty(), ledger.Committed(), ledger.Failure()};
}
