#include "db/postgres/PostgresCopySink.h"

#include <libpq-fe.h>

#include <array>
#include <chrono>
#include <utility>
#include <vector>

#include "db/BulkSinkBase.h"
#include "db/DbInterface.h"
#include "db/SqlDialect.h"
#include "db/postgres/CopyLane.h"
#include "db/postgres/CopyText.h"
#include "db/postgres/PendingConnection.h"
#include "db/postgres/PgResult.h"
#include "db/postgres/PgStopCut.h"

namespace {

// PostgreSQL: each batch goes to the server as one COPY in its own transaction (see CopyLane).
//
// Into an ordinary (or partitioned) table without triggers, the load uses a second connection:
// while the server stores one batch, the next one is read and sent on the other connection, and the
// server's work is spread over two processes (where rows can wait for each other's keys, see
// boundWaits). Batches are still committed one after the other in the file's order: a
// batch is committed only after the one before it, and when that one ends the load (too many
// refused rows, a lost connection), the next is rolled back.
class PostgresCopySink final : public TableSinkBase {
  public:
    using TableSinkBase::TableSinkBase;

    ~PostgresCopySink() override { Rollback(); }

    bool Begin(const QStringList& columns, int fieldCount, QString* error) override {
        if (!prepareColumns(columns, fieldCount, error))
            return false;
        PGconn* pg = NativeHandle<PGconn>(connection_->Database(), {"PGconn*", "pg_conn*"});
        if (pg == nullptr) {
            *error = QStringLiteral("The PostgreSQL connection gives no native handle");
            return false;
        }
        // The batches are committed without waiting for the server's write-ahead log to reach the
        // disk; the end of the load waits for it once (makeDurable).
        first_ = pg;
        lazyCommits_ = exec(pg, "SET synchronous_commit TO off");
        const SqlDialect& d = connection_->Dialect();
        QStringList quoted;
        for (const QString& c : columns_)
            quoted << d.QuoteIdentifier(c);
        statements_.copy = QStringLiteral("COPY %1 (%2) FROM STDIN")
                               .arg(d.QuoteIdentifier(table_), quoted.join(','))
                               .toUtf8();
        statements_.binaryCopy = statements_.copy + " (FORMAT binary)";
        statements_.insert = InsertSql(d, table_, columns_, QStringLiteral("$")).toUtf8();
        const QByteArray table = d.QuoteIdentifier(table_).toUtf8();
        statements_.types = columnTypes(pg, table);
        // Taken up once the load has its second connection (takeSecondConnection).
        csvCopy_.clear();
        firstFields_ = firstFieldBytes_ = 0;
        if (Csv() && Replay() && csvCheaper(statements_.types)) {
            statements_.delimiter = Csv()->delimiter;
            statements_.quote = Csv()->quote;
            csvCopy_ = statements_.copy + " (FORMAT csv, DELIMITER " +
                       CopyCharLiteral(Csv()->delimiter) + ", QUOTE " +
                       CopyCharLiteral(Csv()->quote) + ")";
        }
        lanes_[0].Start(pg, &statements_, &Replay());
        laneCount_ = 1;
        // The second connection is set up while the first batch is read and sent; a load of a
        // single batch never waits for it.
        const Waits waits = numbersRowsItself(pg, table) ? Waits::Always : rowWaits(pg, table);
        if (waits != Waits::Always) {
            connectAgain(pg);
            boundedWaits_ = waits == Waits::OnKeys;
            if (boundedWaits_ && !boundWaits(lanes_[0], pg))
                pending_.Drop();  // one connection, which waits for nobody of its own
        }
        current_ = 0;
        handedOver_ = 0;
        lanes_[0].SetBatch(0);
        return true;
    }

    RowResult AddRow(const BulkField* fields, int count, QString* reason) override {
        return AddRecord(fields, count, {}, reason);
    }

    RowResult AddRecord(const BulkField* fields, int count, QByteArrayView record,
                        QString* reason) override {
        if (pending_.Started() && ++rowsSinceStep_ == kRowsPerStep) {
            rowsSinceStep_ = 0;
            pending_.Step();
        }
        if (handedOver_ == 0 && fields != nullptr && !csvCopy_.isEmpty()) {  // takeSecondConnection
            firstFields_ += count;
            for (int i = 0; i < count; ++i)
                firstFieldBytes_ += fields[i].text.size();
        }
        return lanes_[current_].AddRow(fields, count, record, reason) ? RowResult::Accepted
                                                                      : RowResult::Rejected;
    }

    bool RejectsAtCommit() const override { return true; }
    // Records go as they stand while batches go in CSV form (takeSecondConnection).
    bool TakesPlainRecords() const override { return !statements_.csvCopy.isEmpty(); }

    bool CommitBatch(QString* error) override {
        CopyLane& lane = lanes_[current_];
        lane.HandOver();
        ++handedOver_;
        if (lane.HandedOver() && pending_.Started())
            takeSecondConnection();
        if (laneCount_ == 1 || !lane.HandedOver()) {  // one connection, or an empty batch
            const bool ok = commitEarlier(error) && commit(lane, error);
            lane.SetBatch(handedOver_);
            return ok;
        }
        // The batch before this one is committed first; this one stays with the server meanwhile.
        const int other = 1 - current_;
        if (lanes_[other].HandedOver() && !commit(lanes_[other], error))
            return false;
        current_ = other;
        lanes_[other].SetBatch(handedOver_);
        return true;
    }

    bool Flush(QString* error) override {
        const bool ok = commitEarlier(error);
        makeDurable();
        return ok;
    }

    void Rollback() override {
        for (int i = 0; i < laneCount_; ++i)
            lanes_[i].Discard();
        pending_.Drop();
        makeDurable();
    }

  private:
    // Commits the batch handed over before the current one, if any.
    bool commitEarlier(QString* error) {
        const int other = 1 - current_;
        return laneCount_ == 1 || !lanes_[other].HandedOver() || commit(lanes_[other], error);
    }

    static bool exec(PGconn* pg, const QByteArray& sql) {
        const PgResult r(PQexec(pg, sql.constData()));
        return PQresultStatus(r.get()) == PGRES_COMMAND_OK ||
               PQresultStatus(r.get()) == PGRES_TUPLES_OK;
    }

    // Waits until what the load committed is on disk (or wherever the server's own setting of
    // synchronous_commit asks for): a transaction committed with that setting brings the
    // write-ahead log up to its commit, which follows every batch committed before it.
    void makeDurable() {
        if (!lazyCommits_)
            return;
        lazyCommits_ = false;
        for (PGconn* pg : {first_, second_.get()}) {
            if (pg != nullptr && PQstatus(pg) == CONNECTION_OK &&
                PQtransactionStatus(pg) == PQTRANS_IDLE && exec(pg, "RESET synchronous_commit") &&
                exec(pg, "SELECT txid_current()"))
                return;
        }
    }

    bool commit(CopyLane& lane, QString* error) {
        std::vector<LateRejection> refused;
        if (!lane.Commit(&refused, error))
            return false;
        BatchCommitted(std::move(refused));
        return true;
    }

    // Whether the server reads the rows of a table with columns of `types` about as cheaply in
    // CSV form as in binary form, so that the file's records can go as they are: at least half
    // of the columns are texts, whole numbers of up to four bytes or booleans (as cheap to read
    // either way), the others 8-byte integers or `numeric` (a little dearer); not dates, times,
    // floating point or UUIDs, whose text the server parses at length. Empty `types`: a column
    // the client does not write, which the server reads as text anyway.
    static bool csvCheaper(const std::vector<BinaryType>& types) {
        qsizetype cheap = 0;
        for (const BinaryType type : types) {
            switch (type) {
                case BinaryType::Text:
                case BinaryType::Bool:
                case BinaryType::Int2:
                case BinaryType::Int4:
                    ++cheap;
                    break;
                case BinaryType::Int8:
                case BinaryType::Numeric:
                    break;
                default:
                    return false;
            }
        }
        return cheap * 2 >= static_cast<qsizetype>(types.size());
    }

    // The answer to a catalog query about `table`, given as $1.
    static PgResult askAbout(PGconn* pg, const QByteArray& table, const char* sql) {
        const char* params[] = {table.constData()};
        return PgResult(PQexecParams(pg, sql, 1, nullptr, params, nullptr, nullptr, 0));
    }

    // The binary type of each destination column; empty when a column has a type the client
    // does not write (every batch then goes as text). A domain is written as its base type (the
    // server checks the domain's constraints either way), an enum's label as text.
    std::vector<BinaryType> columnTypes(PGconn* pg, const QByteArray& table) {
        const PgResult r(askAbout(
            pg, table,
            "SELECT a.attname, b.oid, b.typtype = 'e' FROM pg_attribute a JOIN pg_type t ON t.oid "
            "= a.atttypid JOIN pg_type b ON b.oid = CASE WHEN t.typtype = 'd' THEN t.typbasetype "
            "ELSE t.oid END WHERE a.attrelid = $1::regclass AND a.attnum > 0 AND NOT "
            "a.attisdropped"));
        if (PQresultStatus(r.get()) != PGRES_TUPLES_OK)
            return {};
        const bool utc = IsUtcZoneName(PQparameterStatus(pg, "TimeZone"));
        std::vector<BinaryType> types;
        for (const QString& column : columns_) {
            BinaryType type = BinaryType::None;
            for (int row = 0; row < PQntuples(r.get()); ++row) {
                if (QString::fromUtf8(PQgetvalue(r.get(), row, 0)) != column)
                    continue;
                type = QByteArrayView(PQgetvalue(r.get(), row, 2)) == "t"
                           ? BinaryType::Text
                           : BinaryTypeOf(QByteArray(PQgetvalue(r.get(), row, 1)).toUInt());
            }
            if (type == BinaryType::None)
                return {};
            if (type == BinaryType::TimestampTz && utc)
                type = BinaryType::TimestampTzUtc;
            types.push_back(type);
        }
        return types;
    }

    // Whether rows inserted by one transaction can make another one's inserts wait. Never: an
    // ordinary table, or a partitioned one of ordinary tables, with no unique or exclusion index
    // and no trigger of its own (the triggers behind foreign keys only share-lock the rows they
    // point at). On keys: such a table with a unique or exclusion index, where a row waits for
    // another transaction's row of the same key to be committed or rolled back. Always (or
    // cannot tell): anything else, which gets no second connection.
    enum class Waits { Never, OnKeys, Always };
    static Waits rowWaits(PGconn* pg, const QByteArray& table) {
        const PgResult r(askAbout(
            pg, table,
            "WITH t AS (SELECT relid FROM pg_partition_tree($1::regclass) UNION SELECT "
            "$1::regclass) SELECT bool_and(c.relkind IN ('r', 'p')) AND NOT EXISTS (SELECT 1 FROM "
            "pg_trigger g JOIN t ON g.tgrelid = t.relid WHERE NOT g.tgisinternal), EXISTS (SELECT "
            "1 FROM pg_index i JOIN t ON i.indrelid = t.relid WHERE i.indisunique OR "
            "i.indisexclusion) FROM t JOIN pg_class c ON c.oid = t.relid"));
        if (PQresultStatus(r.get()) != PGRES_TUPLES_OK || PQntuples(r.get()) != 1 ||
            QByteArrayView(PQgetvalue(r.get(), 0, 0)) != "t")
            return Waits::Always;
        return QByteArrayView(PQgetvalue(r.get(), 0, 1)) == "t" ? Waits::OnKeys : Waits::Never;
    }

    // Whether the table numbers the rows of the load itself: a column left out of the load that
    // takes its value from a sequence (serial, identity). Two batches stored at once would draw
    // their numbers in turns, and the numbers would no longer follow the file.
    bool numbersRowsItself(PGconn* pg, const QByteArray& table) const {
        const PgResult r(askAbout(
            pg, table,
            "SELECT a.attname FROM pg_attribute a LEFT JOIN pg_attrdef d ON d.adrelid = "
            "a.attrelid AND d.adnum = a.attnum WHERE a.attrelid = $1::regclass AND a.attnum > 0 "
            "AND NOT a.attisdropped AND (a.attidentity <> '' OR pg_get_expr(d.adbin, d.adrelid) "
            "LIKE '%nextval(%')"));
        if (PQresultStatus(r.get()) != PGRES_TUPLES_OK)
            return true;
        for (int row = 0; row < PQntuples(r.get()); ++row)
            if (!columns_.contains(QString::fromUtf8(PQgetvalue(r.get(), row, 0))))
                return true;
        return false;
    }

    // Where a batch's rows can wait for those of the batch after it on the other lane (a key in
    // both, stored first by the later one), the two would wait for each other through the
    // client, which commits the later batch only after the earlier one. So waits for locks end
    // after a while, and before a lane stores its batch again, the other lane's batch (always a
    // later one: batches are committed in order) is set aside and sent again when its turn comes:
    // the keys end up as a load of one batch after the other leaves them.
    bool boundWaits(CopyLane& lane, PGconn* pg) {
        if (!exec(pg, CopyLane::BoundedWaitsSql()))
            return false;
        CopyLane* other = &lane == &lanes_[0] ? &lanes_[1] : &lanes_[0];
        lane.BoundWaits([other] { other->SetAside(); });
        return true;
    }

    // Starts a second connection with the settings of `pg` (server, database, login), speaking
    // UTF-8 and ISO dates as the first one does.
    void connectAgain(PGconn* pg) {
        PQconninfoOption* options = PQconninfo(pg);
        if (options == nullptr)
            return;
        std::vector<const char*> keys, values;
        QByteArray settings = "-c DateStyle=ISO";
        for (const PQconninfoOption* o = options; o->keyword != nullptr; ++o) {
            if (o->val == nullptr || *o->val == '\0' || qstrcmp(o->keyword, "client_encoding") == 0)
                continue;
            if (qstrcmp(o->keyword, "options") == 0) {
                settings = QByteArray(o->val) + ' ' + settings;
                continue;
            }
            keys.push_back(o->keyword);
            values.push_back(o->val);
        }
        for (const auto& [key, value] :
             {std::pair{"client_encoding", "UTF8"}, std::pair{"options", settings.constData()}}) {
            keys.push_back(key);
            values.push_back(value);
        }
        keys.push_back(nullptr);
        values.push_back(nullptr);
        pending_.Start(keys.data(), values.data());
        PQconninfoFree(options);
        rowsSinceStep_ = 0;
    }

    // Takes the second connection for the load's next batches. The first batch does not wait for
    // it (a load of one batch never needs it); from the second on, a load has more than one batch
    // and waits for it if need be. One that cannot be had leaves the load on one connection.
    void takeSecondConnection() {
        pending_.Step();
        if (!pending_.Ended() && handedOver_ == 1)
            return;
        QString why;
        if (pending_.Finish(PendingConnection::Clock::now() + kSecondConnectWait, &why))
            second_ = pending_.Take();
        pending_.Drop();
        // Where rows wait on keys, a connection whose waits cannot be bounded is not used.
        if (second_ && boundedWaits_ && !boundWaits(lanes_[1], second_.get()))
            second_.reset();
        if (second_) {
            // With two server processes storing batches at once, the processors are shared by
            // them and the client. Where fields are short, what the client spares by sending
            // records as they stand outweighs what the server's CSV reading costs it more; the
            // server reads CSV byte by byte, so longer fields (or one process, where the server
            // alone sets the pace) go cheaper in binary form. The first batch's fields decide.
            if (firstFieldBytes_ <= kCsvFieldBytes * firstFields_)
                statements_.csvCopy = csvCopy_;
            if (exec(second_.get(), "SET synchronous_commit TO off"))
                lazyCommits_ = true;
            secondStopCut_ = CutOnStop(second_.get());
            lanes_[1].Start(second_.get(), &statements_, &Replay());
            laneCount_ = 2;
        }
    }

    static constexpr std::chrono::seconds kSecondConnectWait{10};
    // The longest average field (in bytes) of batches that go in CSV form.
    static constexpr qint64 kCsvFieldBytes = 16;
    static constexpr int kRowsPerStep = 1024;

    PGconn* first_ = nullptr;    // the connection of the load's first batch
    bool lazyCommits_ = false;   // batches were committed without waiting for the disk
    bool boundedWaits_ = false;  // the lanes' waits for locks end (boundWaits)
    CopyLane::Statements statements_;
    QByteArray csvCopy_;  // the COPY in CSV form, where the table and file allow it
    qint64 firstFields_ = 0, firstFieldBytes_ = 0;  // of the first batch, and their bytes
    std::array<CopyLane, 2> lanes_;
    int laneCount_ = 0;
    int current_ = 0;            // the lane that takes the rows of the batch being filled
    qint64 handedOver_ = 0;      // batches handed over so far: the number of the one being filled
    PendingConnection pending_;  // the second connection while it is being set up
    int rowsSinceStep_ = 0;
    PgConnection second_;
    std::unique_ptr<StopCutter::Registration> secondStopCut_;  // ends before second_ closes
};

}  // namespace

std::unique_ptr<BulkRowSink> OpenPostgresCopySink(std::unique_ptr<DbConnection> connection,
                                                  const QString& table) {
    return std::make_unique<PostgresCopySink>(std::move(connection), table);
}
