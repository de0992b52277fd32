#include <gtest/gtest.h>

#include <QDir>
#include <map>

#include "db/DbInterface.h"
#include "db/TableBulkSink.h"
#include "support/Warehouse.h"

namespace {

struct Row {
    std::vector<QByteArray> values;
    std::vector<bool> nulls;
};

BulkRowSink::RowResult add(BulkRowSink& sink, const Row& row, QString* reason) {
    std::vector<BulkField> fields;
    for (size_t i = 0; i < row.values.size(); ++i)
        fields.push_back({QByteArrayView(row.values[i]), row.nulls.size() > i && row.nulls[i]});
    return sink.AddRow(fields.data(), static_cast<int>(fields.size()), reason);
}

// Commits the batch and waits for every batch handed over: the rows they refused.
std::vector<BulkRowSink::LateRejection> commit(BulkRowSink& sink, QString* error) {
    if (!sink.CommitBatch(error) || !sink.Flush(error))
        return {{-1, *error, {}}};
    std::vector<BulkRowSink::LateRejection> refused;
    for (const auto& batch : sink.TakeCommittedBatches())
        refused.insert(refused.end(), batch.begin(), batch.end());
    return refused;
}

// A row replay that gives the rows of `sent` again, batch by batch.
BulkRowSink::RowReplay replayOf(const std::vector<std::vector<Row>>& sent) {
    return
        [&sent](qint64 batch, int row, std::vector<QByteArray>* values, std::vector<bool>* nulls) {
            *values = sent.at(batch).at(row).values;
            nulls->assign(values->size(), false);
            return true;
        };
}

QStringList readBack(const Warehouse& where) {
    return QueryRows(*where.Open(), "SELECT id, name, amount FROM stage ORDER BY id");
}

class TableBulkSink : public EmptyWarehouseTest {};

// The same rows through the sink of any server kind: what is stored, what is refused and when.
TEST_P(TableBulkSink, RowsStoredAndRefused) {
    ASSERT_TRUE(wh->Exec(
        "CREATE TABLE stage (id INTEGER PRIMARY KEY, name TEXT, amount INTEGER NOT NULL)"));
    const Warehouse& where = *wh;
    QString error, reason;
    auto missing = OpenTableBulkSink(where.Open(), "stage");
    ASSERT_TRUE(missing) << error.toStdString();
    EXPECT_FALSE(missing->Begin({"id", "nope"}, 2, &error));
    EXPECT_TRUE(error.contains("nope")) << error.toStdString();
    auto noTable = OpenTableBulkSink(where.Open(), "no_such_table");
    ASSERT_TRUE(noTable);
    EXPECT_FALSE(noTable->Begin({}, 3, &error));

    auto sink = OpenTableBulkSink(where.Open(), "stage");
    ASSERT_TRUE(sink) << error.toStdString();
    ASSERT_TRUE(sink->Begin({"ID", "name", "amount"}, 3, &error)) << error.toStdString();
    const std::vector<Row> batch1 = {
        {{"1", "tab\there, back\\slash", "10"}, {}},
        {{"2", "", "20"}, {false, true, false}},
        {{"1", "duplicate key", "30"}, {}},
        {{"3", "line\nbreak", "40"}, {}},
    };
    std::vector<BulkRowSink::RowResult> results;
    for (const Row& r : batch1)
        results.push_back(add(*sink, r, &reason));
    auto late = commit(*sink, &error);
    // A refused row is known either when it is added or when its batch is committed.
    const bool rejectedEarly = results[2] == BulkRowSink::RowResult::Rejected;
    EXPECT_EQ(rejectedEarly, !sink->RejectsAtCommit());
    if (!rejectedEarly) {
        ASSERT_EQ(late.size(), 1u);
        EXPECT_EQ(late[0].row, 2);
        EXPECT_FALSE(late[0].reason.isEmpty());
    }
    add(*sink, {{"9", "rolled back", "0"}, {}}, &reason);
    sink->Rollback();
    add(*sink, {{"4", "after rollback", "50"}, {}}, &reason);
    ASSERT_TRUE(sink->CommitBatch(&error));
    sink.reset();

    EXPECT_EQ(readBack(where), QStringList({"1|tab\there, back\\slash|10", "2|~|20",
                                            "3|line\nbreak|40", "4|after rollback|50"}));
    if (GetParam() != Backend::PostgreSQL)
        return;

    // A batch the server refuses as a whole (a text in an integer column, a missing NOT NULL
    // value) keeps its good rows.
    sink = OpenTableBulkSink(wh->Open(), "stage");
    ASSERT_TRUE(sink);
    ASSERT_TRUE(sink->Begin({"id", "name", "amount"}, 3, &error)) << error.toStdString();
    add(*sink, {{"20", "ok", "1"}, {}}, &reason);
    add(*sink, {{"21", "bad amount", "abc"}, {}}, &reason);
    add(*sink, {{"22", "no amount", ""}, {false, false, true}}, &reason);
    add(*sink, {{"23", "ok too", "2"}, {}}, &reason);
    EXPECT_EQ(add(*sink, {{"24", QByteArray("nul\0byte", 8), "3"}, {}}, &reason),
              BulkRowSink::RowResult::Rejected);
    late = commit(*sink, &error);
    ASSERT_EQ(late.size(), 2u);
    EXPECT_EQ(late[0].row, 1);
    EXPECT_TRUE(late[0].reason.contains("abc")) << late[0].reason.toStdString();
    EXPECT_EQ(late[1].row, 2);
    sink.reset();
    EXPECT_EQ(readBack(*wh).size(), 6);
}

// Loads `rows` into a new table of `columns` through the sink, committing a batch after row
// `commitAfter`, and inserts the same texts as literals into a twin table: the two must hold the
// same rows.
void ExpectStoredAsTheServerReadsThem(const Warehouse& wh, const QString& columns,
                                      const std::vector<Row>& rows, size_t commitAfter) {
    ASSERT_TRUE(wh.Exec("DROP TABLE IF EXISTS stage") && wh.Exec("DROP TABLE IF EXISTS typed") &&
                wh.Exec("CREATE TABLE stage " + columns) &&
                wh.Exec("CREATE TABLE typed " + columns));
    QString error, reason;
    auto sink = OpenTableBulkSink(wh.Open(), "stage");
    ASSERT_TRUE(sink && sink->Begin({}, int(rows.front().values.size()), &error))
        << error.toStdString();
    QStringList literalRows;
    for (size_t i = 0; i < rows.size(); ++i) {
        ASSERT_EQ(add(*sink, rows[i], &reason), BulkRowSink::RowResult::Accepted);
        QStringList literals;
        for (size_t f = 0; f < rows[i].values.size(); ++f)
            literals << (rows[i].nulls.size() > f && rows[i].nulls[f]
                             ? "NULL"
                             : "'" + QString::fromUtf8(rows[i].values[f]).replace("'", "''") + "'");
        literalRows << "(" + literals.join(',') + ")";
        if (i == commitAfter) {
            ASSERT_TRUE(sink->CommitBatch(&error)) << error.toStdString();
        }
    }
    ASSERT_TRUE(wh.Exec("INSERT INTO typed VALUES " + literalRows.join(',')));
    EXPECT_TRUE(commit(*sink, &error).empty()) << error.toStdString();
    sink.reset();
    const QStringList stored = QueryRows(*wh.Open(), "SELECT s::text FROM stage s ORDER BY n");
    EXPECT_EQ(stored.size(), qsizetype(rows.size()));
    EXPECT_EQ(stored, QueryRows(*wh.Open(), "SELECT s::text FROM typed s ORDER BY n"));
}

// PostgreSQL stores what its own text input makes of each value, whether the client wrote it in
// binary or left it to the server, also when a batch turns to text after part of it was sent.
TEST_P(TableBulkSink, ValuesStoredAsTheServerReadsThem) {
    if (GetParam() != Backend::PostgreSQL)
        GTEST_SKIP();
    std::vector<Row> rows = {
        {{"1", "-32768", "9223372036854775807", "-0.000123456789012345678901234567890", "1234.565",
          "3.4028235e38", "-1.5e-300", "TRUE", "2024-02-29", "1999-12-31 23:59:59.999999", "",
          "abcde", "a"},
         {}},
        {{"2", " 7 ", "-9223372036854775808", "1.5E+3", "-0.005", "0.1", "12345678901234567890.5",
          "off", "0001-01-01", "2000-01-01T00:00:00.5", "K\xc3\xb6ln \\N\t'", "x  ", ""},
         {false, false, false, false, false, false, false, false, false, false, false, false,
          true}},
        {{"3", "+0", "0", "-0", "0", "-0", "1e-5", "y", "9999-12-31", "2026-03-04", "", "", "ab"},
         {false, false, false, false, false, false, false, false, false, false, true}},
    };
    for (int n = 4; n < 3004; ++n)  // more than the client sends at once
        rows.push_back({{QByteArray::number(n), "1", "1", "1", "1", "1", "1", "t", "2026-01-01",
                         "2026-01-01", QByteArray(200, 'x'), "v", "c"},
                        {}});
    rows.push_back({{"3004", "1", "1", "NaN", "1e2", "Infinity", "1", "tr", "Jan 2 2026",
                     "2026-03-04 1:2:3", "t", "v", "c"},
                    {}});
    rows.push_back(
        {{"3005", "1", "1", "1", "1", "1", "1", "t", "2026-01-01", "2026-01-01", "t", "v", "c"},
         {}});
    // The first batch holds plain values; the second turns to text at its end.
    ExpectStoredAsTheServerReadsThem(*wh,
                                     "(n INTEGER, i2 SMALLINT, i8 BIGINT, num NUMERIC, money "
                                     "NUMERIC(12,2), f4 REAL, f8 FLOAT8, b BOOLEAN, d DATE, ts "
                                     "TIMESTAMP, t TEXT, vc VARCHAR(5), ch CHAR(3))",
                                     rows, 2);
}

// Time stamps with a time zone, times, UUIDs (here through a domain), JSON and enums likewise, in
// a session in UTC (where a time stamp without an offset is UTC) and in one elsewhere (where it
// is not).
TEST_P(TableBulkSink, ZonedTimesUuidsAndJsonStoredAsTheServerReadsThem) {
    if (GetParam() != Backend::PostgreSQL)
        GTEST_SKIP();
    ASSERT_TRUE(wh->Exec("CREATE DOMAIN ref AS UUID CHECK (VALUE IS NOT NULL)") &&
                wh->Exec("CREATE TYPE mood AS ENUM ('calm', 'K\xc3\xb6ln')"));
    const std::vector<Row> rows = {
        {{"1", "2026-01-02 03:04:05+02", "2026-07-01T23:59:59.6Z", "00:00:00",
          "a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11", "{\"a\": [1, 2]}", " {\"b\":null} ", "calm"},
         {}},
        {{"2", "2026-03-08 02:30:00", "1999-12-31 23:59:59.999999-09:30", "23:59:59.999999",
          "A0EEBC999C0B4EF8BB6D6BB9BD380A11", "[]", "\"K\xc3\xb6ln\"", "K\xc3\xb6ln"},
         {}},
        {{"3", "2026-01-02", "2000-01-01 00:00:00+1545", " 12:34:56.5 ",
          "00000000-0000-0000-0000-000000000000", "1", "{}", ""},
         {false, false, false, false, false, false, false, true}},
        // Not plain forms: the batch turns to text.
        {{"4", "2026-01-02 03:04:05 +02", "epoch", "24:00:00",
          "{a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11}", " null", "{\"a\":1,\"a\":2}", "calm"},
         {}},
    };
    for (const char* zone : {"UTC", "America/St_Johns"}) {
        SCOPED_TRACE(zone);
        ASSERT_TRUE(wh->Exec(QString("DO $$ BEGIN EXECUTE format('ALTER DATABASE %I SET TimeZone "
                                     "= %L', current_database(), '%1'); END $$")
                                 .arg(zone)));
        ExpectStoredAsTheServerReadsThem(*wh,
                                         "(n INTEGER, tz TIMESTAMPTZ, tz0 TIMESTAMPTZ(0), tm TIME, "
                                         "u ref, j JSON, jb JSONB, m mood)",
                                         rows, 2);
    }
}

// Into a plain table batches overlap (one is stored while the next is sent), yet they are
// committed in order: a batch is committed only after the one before it, with its refused rows
// reported then, and a rollback also throws away a batch handed over and not committed yet. The
// same whether the sink keeps the rows of a batch itself or has them read again (a batch that
// turns to text midway and one stored row by row need them).
TEST_P(TableBulkSink, OverlappingBatchesCommitInOrder) {
    if (GetParam() != Backend::PostgreSQL)
        GTEST_SKIP();
    for (const bool replay : {false, true}) {
        SCOPED_TRACE(replay ? "rows read again" : "rows kept");
        ASSERT_TRUE(wh->Exec("DROP TABLE IF EXISTS stage") &&
                    wh->Exec("CREATE TABLE stage (id INTEGER, name TEXT, amount INTEGER)"));
        QString error, reason;
        auto sink = OpenTableBulkSink(wh->Open(), "stage");
        std::vector<std::vector<Row>> sent(1);  // the rows of each batch handed over
        if (replay)
            sink->SetRowReplay(replayOf(sent));
        ASSERT_TRUE(sink && sink->Begin({}, 3, &error)) << error.toStdString();
        auto commitBatch = [&] {
            sent.emplace_back();
            return sink->CommitBatch(&error);
        };
        auto batch = [&](int first, int rows, int bad) {
            for (int id = first; id < first + rows; ++id) {
                const Row row{{QByteArray::number(id), "n", id == bad ? "x" : "1"}, {}};
                add(*sink, row, &reason);
                sent.back().push_back(row);
            }
            return commitBatch();
        };
        std::vector<std::vector<BulkRowSink::LateRejection>> committed;
        auto take = [&] {
            for (auto& b : sink->TakeCommittedBatches())
                committed.push_back(std::move(b));
        };
        ASSERT_TRUE(batch(1, 3000, 2500));
        take();
        ASSERT_TRUE(batch(3001, 3000, 0));
        take();
        ASSERT_TRUE(batch(6001, 3000, 6002));
        take();
        // The first two are committed by now, the first with its refused row; the third not yet.
        ASSERT_EQ(committed.size(), 2u);
        ASSERT_EQ(committed[0].size(), 1u);
        EXPECT_EQ(committed[0][0].row, 2499);
        EXPECT_EQ(committed[0][0].fields, QStringList({"2500", "n", "x"}));
        EXPECT_TRUE(committed[1].empty());
        EXPECT_EQ(QueryRows(*wh->Open(), "SELECT count(*), max(id), sum(id) FROM stage"),
                  QStringList({"5999|6000|18000500"}));
        sink->Rollback();
        EXPECT_TRUE(sink->TakeCommittedBatches().empty());
        // An empty batch counts as one too, in its place.
        ASSERT_TRUE(commitBatch() && batch(9001, 10, 9005) && sink->Flush(&error))
            << error.toStdString();
        take();
        ASSERT_EQ(committed.size(), 4u);
        ASSERT_EQ(committed[3].size(), 1u);
        EXPECT_EQ(committed[3][0].fields, QStringList({"9005", "n", "x"}));
        sink.reset();
        EXPECT_EQ(
            QueryRows(*wh->Open(), "SELECT count(*), min(id), max(id) FROM stage WHERE id > 6000"),
            QStringList({"9|9001|9010"}));
    }
}

// Into a table with a key, two batches loaded at once may hold one key: whichever server process
// stores it first, the rows end as a load of one batch after the other leaves them (the earlier
// batch's row stays, the later one's is refused), and neither waits for the other for ever. Here
// the second batch is slowed down before its last key, which the third stores at once.
TEST_P(TableBulkSink, BatchesSharingKeysEndAsIfLoadedInTurn) {
    if (GetParam() != Backend::PostgreSQL)
        GTEST_SKIP();
    // Rows kept by the sink into a table, rows read again into a partitioned one.
    for (const bool replay : {false, true}) {
        SCOPED_TRACE(replay ? "rows read again, partitioned table" : "rows kept");
        const QString partitions =
            replay ? " PARTITION BY RANGE (id); CREATE TABLE keyed_low PARTITION OF keyed FOR "
                     "VALUES FROM (MINVALUE) TO (2500); CREATE TABLE keyed_high PARTITION OF "
                     "keyed FOR VALUES FROM (2500) TO (MAXVALUE)"
                   : "";
        ASSERT_TRUE(wh->Exec("DROP TABLE IF EXISTS keyed") &&
                    wh->Exec("CREATE OR REPLACE FUNCTION pendrill_nap(n INTEGER) RETURNS BOOLEAN "
                             "LANGUAGE sql AS 'SELECT n <> 1 OR pg_sleep(0.3) IS NOT NULL'") &&
                    wh->Exec("CREATE TABLE keyed (id INTEGER PRIMARY KEY, n INTEGER "
                             "CHECK (pendrill_nap(n)))" +
                             partitions));
        QString error, reason;
        auto sink = OpenTableBulkSink(wh->Open(), "keyed");
        std::vector<std::vector<Row>> sent(1);
        if (replay)
            sink->SetRowReplay(replayOf(sent));
        ASSERT_TRUE(sink && sink->Begin({}, 2, &error)) << error.toStdString();
        auto batch = [&](const std::vector<int>& ids, int slowAt) {
            for (const int id : ids) {
                const Row row{{QByteArray::number(id), id == slowAt ? "1" : "0"}, {}};
                EXPECT_EQ(add(*sink, row, &reason), BulkRowSink::RowResult::Accepted);
                sent.back().push_back(row);
            }
            sent.emplace_back();
            return sink->CommitBatch(&error);
        };
        // The first batch goes alone (the second connection is not there yet); the second and
        // third go at once.
        std::vector<int> first, second, third = {9999}, fourth;
        for (int id = 1; id <= 1000; ++id)
            first.push_back(id);
        for (int id = 1001; id <= 2000; ++id)
            second.push_back(id);
        second.push_back(9999);
        for (int id = 2001; id <= 3000; ++id)
            third.push_back(id);
        third.push_back(10);
        for (int id = 3001; id <= 3100; ++id)
            fourth.push_back(id);
        fourth.push_back(2500);
        ASSERT_TRUE(batch(first, 0)) << error.toStdString();
        ASSERT_TRUE(batch(second, 2000)) << error.toStdString();
        ASSERT_TRUE(batch(third, 0)) << error.toStdString();
        ASSERT_TRUE(batch(fourth, 0) && sink->Flush(&error)) << error.toStdString();
        std::vector<std::vector<BulkRowSink::LateRejection>> committed;
        for (auto& b : sink->TakeCommittedBatches())
            committed.push_back(std::move(b));
        sink.reset();
        ASSERT_EQ(committed.size(), 4u);
        EXPECT_TRUE(committed[0].empty());
        EXPECT_TRUE(committed[1].empty());
        ASSERT_EQ(committed[2].size(), 2u);
        EXPECT_EQ(committed[2][0].fields, QStringList({"9999", "0"}));
        EXPECT_EQ(committed[2][1].fields, QStringList({"10", "0"}));
        ASSERT_EQ(committed[3].size(), 1u);
        EXPECT_EQ(committed[3][0].fields, QStringList({"2500", "0"}));
        EXPECT_EQ(QueryRows(*wh->Open(), "SELECT count(*), sum(id), sum(n) FROM keyed"),
                  QStringList({"3101|" + QString::number(3100 * 3101 / 2 + 9999) + "|1"}));
    }
}

// Rows a table numbers itself (a serial column left out of the load) are numbered in the file's
// order, batch after batch.
TEST_P(TableBulkSink, RowsNumberedByTheTableFollowTheFile) {
    if (GetParam() != Backend::PostgreSQL)
        GTEST_SKIP();
    ASSERT_TRUE(wh->Exec("CREATE TABLE numbered (id SERIAL PRIMARY KEY, v INTEGER)"));
    QString error, reason;
    auto sink = OpenTableBulkSink(wh->Open(), "numbered");
    ASSERT_TRUE(sink && sink->Begin({"v"}, 1, &error)) << error.toStdString();
    for (int v = 1; v <= 40000; ++v) {
        add(*sink, {{QByteArray::number(v)}, {}}, &reason);
        if (v % 5000 == 0) {
            ASSERT_TRUE(sink->CommitBatch(&error)) << error.toStdString();
        }
    }
    ASSERT_TRUE(sink->Flush(&error)) << error.toStdString();
    sink.reset();
    EXPECT_EQ(QueryRows(*wh->Open(),
                        "SELECT count(*), count(*) FILTER (WHERE id <> v) FROM "
                        "numbered"),
              QStringList({"40000|0"}));
}

PENDRILL_ON_ALL_SERVERS(TableBulkSink);

class EmbeddedBulkSink : public EmptyWarehouseTest {};

// The embedded sink binds some texts as numbers and stores rows in groups: each value must be
// stored as SQLite stores the same text given as text, whatever the column's type, in order. The
// load changes the journal for its time only: afterwards the database logs ahead again and no
// journal file is left.
TEST_P(EmbeddedBulkSink, ValuesStoredAsTextAndJournalRestored) {
    const QString columns = "(i INTEGER, n NUMERIC(9,2), r REAL, s VARCHAR(9), b BLOB, u)";
    ASSERT_TRUE(wh->Exec("CREATE TABLE t " + columns) &&
                wh->Exec("CREATE TABLE oracle " + columns));
    const std::vector<QByteArray> texts = {"12",
                                           "-7",
                                           "0",
                                           "007",
                                           "-0",
                                           "+5",
                                           " 3",
                                           "1.50",
                                           "x",
                                           "",
                                           "-",
                                           "123456789012345678",
                                           "-999999999999999999",
                                           "1234567890123456789"};
    // Rows go in groups of 100 through one statement, a large row on its own.
    std::vector<QByteArray> rows;
    for (int round = 0; round < 10; ++round)
        rows.insert(rows.end(), texts.begin(), texts.end());
    rows.insert(rows.begin() + 120, QByteArray(200000, 'z'));
    for (const QByteArray& text : rows)
        ASSERT_TRUE(wh->Exec("INSERT INTO oracle VALUES (?,?,?,?,?,?)",
                             QVariantList(6, QString::fromLatin1(text))));
    QString error, reason;
    auto sink = OpenTableBulkSink(wh->Open(), "t");
    ASSERT_TRUE(sink->Begin({}, 6, &error)) << error.toStdString();
    for (const QByteArray& text : rows)
        EXPECT_EQ(add(*sink, {std::vector<QByteArray>(6, text), {}}, &reason),
                  BulkRowSink::RowResult::Accepted);
    ASSERT_TRUE(sink->CommitBatch(&error));
    sink.reset();
    const QString shown = "SELECT %1 FROM %2 ORDER BY rowid";
    QStringList typed;
    for (const char* c : {"i", "n", "r", "s", "b", "u"})
        typed << QString("typeof(%1) || ' ' || quote(%1)").arg(c);
    auto c = wh->Open();
    EXPECT_EQ(QueryRows(*c, shown.arg(typed.join(','), "t")),
              QueryRows(*c, shown.arg(typed.join(','), "oracle")));
    EXPECT_EQ(QueryRows(*c, "PRAGMA journal_mode"), QStringList({"wal"}));
    c.reset();
    EXPECT_EQ(QDir(home.file("servers/wh")).entryList(QDir::Files).filter("-journal"),
              QStringList());
}

// Into a table that can refuse rows, rows still go in groups; a group the table refuses goes again
// row by row, and each refused row is told, by its number in the batch, when the batch is
// committed. A group the table does not refuse, and a table with a trigger, lose nothing.
TEST_P(EmbeddedBulkSink, RowsOfARefusedGroupAreToldAtCommit) {
    ASSERT_TRUE(
        wh->Exec("CREATE TABLE k (id INTEGER PRIMARY KEY, name TEXT NOT NULL, n INTEGER "
                 "CHECK (n >= 0))"));
    QString error, reason;
    auto sink = OpenTableBulkSink(wh->Open(), "k");
    ASSERT_TRUE(sink->Begin({}, 3, &error)) << error.toStdString();
    EXPECT_TRUE(sink->RejectsAtCommit());
    std::map<int, Row> bad = {{50, {{"7", "dup", "1"}, {}}},
                              {70, {{"1070", "", "1"}, {false, true, false}}},
                              {300, {{"1300", "x", "-1"}, {}}},
                              {320, {{"10", "dup", "1"}, {}}}};
    for (int batch = 0; batch < 2; ++batch) {
        for (int row = 0; row < 350; ++row) {
            const int id = batch * 1000 + row;
            const Row row_ = bad.count(row) && batch == 0
                                 ? bad[row]
                                 : Row{{QByteArray::number(id), "n", "1"}, {}};
            EXPECT_EQ(add(*sink, row_, &reason), BulkRowSink::RowResult::Accepted) << row;
        }
        const auto late = commit(*sink, &error);
        if (batch == 1) {
            EXPECT_TRUE(late.empty());
            break;
        }
        ASSERT_EQ(late.size(), 4u) << error.toStdString();
        int i = 0;
        for (const auto& [row, values] : bad) {
            EXPECT_EQ(late[i].row, row);
            EXPECT_FALSE(late[i].reason.isEmpty());
            EXPECT_EQ(late[i].fields.size(), 3);
            EXPECT_EQ(late[i].fields[0], QString::fromLatin1(values.values[0]));
            ++i;
        }
        EXPECT_TRUE(late[1].fields[1].isNull());
    }
    sink.reset();
    EXPECT_EQ(QueryRows(*wh->Open(), "SELECT count(*), sum(id) FROM k"),
              QStringList({QString("696|%1").arg(349 * 350 / 2 - 50 - 70 - 300 - 320 + 1000 * 350 +
                                                 349 * 350 / 2)}));

    // With a trigger every row goes on its own, refused at once.
    ASSERT_TRUE(wh->Exec("CREATE TABLE log (id INTEGER)") &&
                wh->Exec("CREATE TRIGGER k_log AFTER INSERT ON k BEGIN INSERT INTO log VALUES "
                         "(new.id); END"));
    sink = OpenTableBulkSink(wh->Open(), "k");
    ASSERT_TRUE(sink->Begin({}, 3, &error)) << error.toStdString();
    EXPECT_FALSE(sink->RejectsAtCommit());
    EXPECT_EQ(add(*sink, {{"5000", "n", "1"}, {}}, &reason), BulkRowSink::RowResult::Accepted);
    EXPECT_EQ(add(*sink, {{"5000", "n", "1"}, {}}, &reason), BulkRowSink::RowResult::Rejected);
    EXPECT_TRUE(commit(*sink, &error).empty());
    sink.reset();
    EXPECT_EQ(QueryRows(*wh->Open(), "SELECT count(*) FROM log"), QStringList({"1"}));
}

INSTANTIATE_TEST_SUITE_P(Servers, EmbeddedBulkSink, ::testing::Values(Backend::Embedded),
                         BackendName);

}  // namespace
