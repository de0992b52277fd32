// Copy rows: the result of a query on the source connection inserted into a table on the
// destination connection. The query is read forward only, so a large result is never held whole;
// the rows are inserted with one prepared statement, one transaction per batch. A failing row
// discards its batch; batches already committed stay.

#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>

#include "db/DbConnection.h"
#include "db/DbInterface.h"
#include "engine/tasks/PackageTasks.h"
#include "engine/tasks/TaskConnections.h"
#include "util/Counted.h"

namespace {

// Plain names stay unquoted, so that servers that fold the letter case of unquoted names find
// them; anything else is quoted.
QString ColumnName(const QString& name, const SqlDialect& dialect) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    return plain.match(name).hasMatch() ? name : dialect.QuoteIdentifier(name);
}

QString SqlErrorText(const QSqlError& e) {
    return DbErrorMessage(e, QStringLiteral("the server gave no reason"));
}

// The value as the destination column wants it. The embedded server stores any value in any
// column, so only a typed server gets converted values (a 0/1 read from the embedded server into
// a boolean column, texts of numbers into numeric columns); a value that does not convert is
// passed on as it is and the server decides. NULL keeps the column's type, which ODBC needs.
QVariant ForDestination(const QVariant& value, QMetaType target, bool convert) {
    if (value.isNull())
        return QVariant(target.isValid() ? target : QMetaType::fromType<QString>());
    if (!convert || !target.isValid() || value.metaType() == target)
        return value;
    QVariant converted = value;
    if (converted.convert(target))
        return converted;
    return value;
}

class Copier {
  public:
    Copier(const CopyRowsTask& task, const TaskContext& context) : task_(task), context_(context) {}

    TaskOutcome Run() {
        if (!OpenConnections())
            return Failed();
        DbConnection& destination = destination_;
        const QString table = context_.expand(task_.table);

        QSqlQuery query(source_.Database());
        query.setForwardOnly(true);
        // Exact decimals arrive as texts rather than as rounded doubles.
        if (source_.TypedColumns())
            query.setNumericalPrecisionPolicy(QSql::HighPrecision);
        const QVariantList parameters = StatementParameters(task_.query, context_);
        bool ok = query.prepare(task_.query.text);
        for (const QVariant& p : parameters)
            query.addBindValue(p);
        if (!ok || !query.exec())
            return Fail(QStringLiteral("The query on '%1' failed: %2")
                            .arg(task_.source, SqlErrorText(query.lastError())));

        const QSqlRecord record = query.record();
        QStringList columns = task_.columns;
        if (columns.isEmpty())
            for (int i = 0; i < record.count(); ++i)
                columns << record.fieldName(i);
        if (columns.size() != record.count())
            return Fail(QStringLiteral("The query gives %1, the task names %2")
                            .arg(Counted(record.count(), "column", "columns"))
                            .arg(columns.size()));

        QStringList names, markers;
        for (const QString& c : columns) {
            names << ColumnName(c, destination.Dialect());
            markers << QStringLiteral("?");
        }
        const QString columnList = names.join(QStringLiteral(", "));
        if (!DestinationTypes(table, columnList, columns.size()))
            return Failed();
        const bool convert = destination.TypedColumns();

        QSqlDatabase& db = destination.Database();
        QSqlQuery insert(db);
        if (!insert.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                .arg(table, columnList, markers.join(QStringLiteral(", ")))))
            return Fail(QStringLiteral("Cannot insert into '%1': %2")
                            .arg(table, SqlErrorText(insert.lastError())));

        const int batchSize = std::max(1, task_.batchSize);
        qint64 read = 0, inBatch = 0;
        bool open = false;
        while (query.next()) {
            ++read;
            if (!open && !(open = db.transaction()))
                return Fail(QStringLiteral("Cannot start a transaction on '%1': %2")
                                .arg(task_.destination, SqlErrorText(db.lastError())));
            for (int i = 0; i < record.count(); ++i)
                insert.bindValue(i, ForDestination(query.value(i), types_[i], convert));
            if (!insert.exec()) {
                const QString why = SqlErrorText(insert.lastError());
                db.rollback();
                return Fail(QStringLiteral("Row %1 could not be inserted into '%2': %3")
                                .arg(read)
                                .arg(table, why));
            }
            if (++inBatch == batchSize) {
                if (!Commit(inBatch))
                    return Failed();
                open = false;
                inBatch = 0;
            }
        }
        if (query.lastError().isValid()) {
            const QString why = SqlErrorText(query.lastError());
            if (open)
                db.rollback();
            return Fail(
                QStringLiteral("Reading the rows of '%1' failed: %2").arg(task_.source, why));
        }
        if (open && !Commit(inBatch))
            return Failed();
        outcome_.success = true;
        return outcome_;
    }

  private:
    bool Resolve(const QString& name, ResolvedConnection* where) {
        QString error;
        if (!context_.connection(name, where, &error)) {
            outcome_.error = QStringLiteral("Cannot connect to '%1': %2").arg(name, error);
            return false;
        }
        return true;
    }

    bool Open(const QString& name, const ResolvedConnection& where, DbConnection& connection) {
        QString error;
        if (!OpenResolvedConnection(where, connection, &error)) {
            outcome_.error = QStringLiteral("Cannot connect to '%1': %2").arg(name, error);
            return false;
        }
        return true;
    }

    // Each side has its own connection, also when both name the same database: the query reads
    // a snapshot (embedded databases run in WAL mode), so rows inserted by the copy are never
    // read back by it.
    bool OpenConnections() {
        ResolvedConnection from, to;
        return Resolve(task_.source, &from) && Resolve(task_.destination, &to) &&
               Open(task_.source, from, source_) && Open(task_.destination, to, destination_);
    }

    // The types of the destination columns, from an empty query of the table.
    bool DestinationTypes(const QString& table, const QString& columnList, qsizetype count) {
        QSqlQuery probe(destination_.Database());
        if (!probe.exec(QStringLiteral("SELECT %1 FROM %2 WHERE 1 = 0").arg(columnList, table))) {
            outcome_.error = QStringLiteral("Cannot insert into '%1': %2")
                                 .arg(table, SqlErrorText(probe.lastError()));
            return false;
        }
        const QSqlRecord r = probe.record();
        for (qsizetype i = 0; i < count; ++i)
            types_ << (i < r.count() ? r.field(static_cast<int>(i)).metaType() : QMetaType());
        return true;
    }

    bool Commit(qint64 rows) {
        QSqlDatabase& db = destination_.Database();
        if (!db.commit()) {
            outcome_.error = QStringLiteral("Committing rows into '%1' failed: %2")
                                 .arg(task_.destination, SqlErrorText(db.lastError()));
            db.rollback();
            return false;
        }
        outcome_.rowsAffected += rows;
        return true;
    }

    TaskOutcome Fail(const QString& text) {
        outcome_.error = text;
        return Failed();
    }
    TaskOutcome Failed() {
        outcome_.success = false;
        return outcome_;
    }

    const CopyRowsTask& task_;
    const TaskContext& context_;
    DbConnection source_;
    DbConnection destination_;
    QVector<QMetaType> types_;
    TaskOutcome outcome_;
};

}  // namespace

TaskOutcome RunCopyRows(const CopyRowsTask& task, const TaskContext& context) {
    return Copier(task, context).Run();
}
