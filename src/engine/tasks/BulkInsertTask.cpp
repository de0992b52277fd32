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

    qint64 committed = 0;
    qint64 inBatch = 0;
    bool begun = false;
    QString failure;
    auto reject = [&](qint64 line, const QString& why, const QString& data) {
        rejected.Add(line, why, data);
        if (failure.isEmpty() && rejected.Count() > task.maxErrors) {
            rejected.Add(line,
                         QStringLiteral("the load was cancelled: more than %1")
                             .arg(Counted(task.maxErrors, "error", "errors")),
                         QString());
            failure = QStringLiteral("Bulk insert of '%1' into '%2' was cancelled after %3")
                          .arg(path, table, Counted(rejected.Count() - 1, "error", "errors"));
        }
    };
    // The rows of the current batch, for a sink that may refuse some of them when the batch is
    // committed; and the batches handed over to the sink and not committed yet, oldest first.
    std::vector<qint64> batchLines;
    struct HandedOver {
        qint64 number;
        qint64 rows;
        std::vector<qint64> lines;
    };
    std::deque<HandedOver> handedOver;
    qint64 batchNumber = 0;  // of the current batch
    // Records refused while an earlier batch is not committed yet wait for it, so that the
    // error file and the count of errors follow the file's order as if each batch had been
    // committed before the next was read.
    struct Deferred {
        qint64 batch, line;
        QString why, data;
    };
    std::deque<Deferred> deferred;
    auto rejectCurrent = [&](const QString& why) {
        if (handedOver.empty())
            reject(records.RecordLine(), why, records.RecordText());
        else
            deferred.push_back({batchNumber, records.RecordLine(), why, records.RecordText()});
    };
    auto releaseDeferred = [&]() {
        while (!deferred.empty() && failure.isEmpty() &&
               (handedOver.empty() || deferred.front().batch <= handedOver.front().number)) {
            reject(deferred.front().line, deferred.front().why, deferred.front().data);
            deferred.pop_front();
        }
    };
    auto takeCommitted = [&]() {
        for (const auto& refused : sink->TakeCommittedBatches()) {
            if (handedOver.empty())
                break;
            const HandedOver batch = std::move(handedOver.front());
            handedOver.pop_front();
            qint64 stored = batch.rows;
            for (const BulkRowSink::LateRejection& late : refused) {
                if (late.row < 0 || late.row >= static_cast<int>(batch.lines.size()))
                    continue;
                --stored;
                reject(batch.lines[late.row], late.reason,
                       late.fields.join(QChar::fromLatin1(task.delimiter)));
            }
            committed += stored;
            releaseDeferred();
        }
    };
    auto commitBatch = [&]() {
        handedOver.push_back({batchNumber++, inBatch, std::move(batchLines)});
        batchLines.clear();
        inBatch = 0;
        if (!sink->CommitBatch(&error))
            failure = error;
        takeCommitted();
    };
    // Waits for the batches handed over.
    auto flush = [&]() {
        if (!sink->Flush(&error) && failure.isEmpty())
            failure = error;
        takeCommitted();
    };

    while (failure.isEmpty()) {
        // A stop request ends the load at once: the open batch is rolled back, committed batches
        // stay.
        if (StopFlags::StopRequested) {
            flush();
            failure = QStringLiteral("Bulk insert of '%1' into '%2' stopped by the user after %3")
                          .arg(path, table, Counted(committed, "row", "rows"));
            break;
        }
        const BulkField* row = nullptr;
        int count = 0;
        status = records.Next(&row, &count, &reason);
        if (status == FlatFileReader::Status::End)
            break;
        if (status == FlatFileReader::Status::Malformed) {
            rejectCurrent(reason);
            continue;
        }
        if (expected < 0)
            expected = count;
        if (count != expected) {
            rejectCurrent(QStringLiteral("expected %1, found %2")
                              .arg(Counted(expected, "field", "fields"))
                              .arg(count));
            continue;
        }
        if (!begun) {
            if (!sink->Begin(columns, expected, &error)) {
                failure = error;
                break;
            }
            begun = true;
        }
        switch (sink->AddRow(row, count, &reason)) {
            case BulkRowSink::RowResult::Accepted:
                if (sink->RejectsAtCommit())
                    batchLines.push_back(records.RecordLine());
                if (++inBatch >= task.batchSize)
                    commitBatch();
                // The window stays responsive (and a stop request can arrive) during long loads,
                // also when a batch is the whole file: every few milliseconds.
                if (inBatch % 2048 == 0)
                    Operator().ProcessPendingEvents();
                break;
            case BulkRowSink::RowResult::Rejected:
                rejectCurrent(reason);
                break;
            case BulkRowSink::RowResult::Fatal:
                failure = reason;
                break;
        }
    }
    if (failure.isEmpty() && begun && inBatch > 0)
        commitBatch();
    if (failure.isEmpty() && begun)
        flush();
    if (!failure.isEmpty() && begun)
        sink->Rollback();

    QString errorFile;
    if (!rejected.Write(&errorFile) && failure.isEmpty())
        failure = QStringLiteral("Can not write the error file '%1'").arg(errorFile);
    if (!failure.isEmpty())
        return TaskOutcome{false, committed, failure};
    return TaskOutcome{true, committed, QString()};
}
