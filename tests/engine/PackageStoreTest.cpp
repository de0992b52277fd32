// The package store and the database tasks against a real embedded server and a real PostgreSQL
// server.

#include <gtest/gtest.h>

#include <QMap>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include "db/DbConnection.h"
#include "engine/PackageEngine.h"
#include "engine/PackageStore.h"
#include "engine/tasks/FlatFileReader.h"
#include "engine/tasks/TaskConnections.h"
#include "support/Warehouse.h"

namespace {

// A minimal valid package; `body` holds <Connections> and <Steps>.
QByteArray Document(const QString& name, const QString& body, const QString& description = {}) {
    QString globals;
    for (const char* v : {"DestinationServer", "DestServerDatabaseName", "DestServerLoginUserName",
                          "DestServerLoginPassword", "ExceptionFilePath"})
        globals += QStringLiteral("<GlobalVariable name=\"%1\"/>").arg(v);
    return QStringLiteral(
               "<Package name=\"%1\" description=\"%3\"><GlobalVariables>%4"
               "<GlobalVariable name=\"DestServerTrustedLogin\" type=\"boolean\"/>"
               "</GlobalVariables>%2</Package>")
        .arg(name, body, description, globals)
        .toUtf8();
}

class Server : public EmptyWarehouseTest {
  protected:
    // A connection of a package to `database` of the warehouse's server, created when missing.
    ResolvedConnection Database(const QString& database) {
        if (database != wh->database) {
            EXPECT_TRUE(wh->CreateDatabase(database));
        }
        ResolvedConnection r;
        r.name = r.database = database;
        r.server = wh->server;
        std::tie(r.user, r.password, r.trusted) = std::tuple(wh->user, wh->password, wh->trusted);
        return r;
    }

    std::unique_ptr<DbConnection> Open(const ResolvedConnection& where) {
        auto c = std::make_unique<DbConnection>();
        QString error;
        EXPECT_TRUE(OpenResolvedConnection(where, *c, &error)) << error.toStdString();
        return c;
    }

    TaskContext Context(QMap<QString, ResolvedConnection> connections,
                        QMap<QString, QVariant> variables = {}) {
        TaskContext c;
        c.packageName = "Pkg";
        c.expand = [](const QString& t) { return t; };
        c.variable = [variables](const QString& n) { return variables.value(n); };
        c.connection = [connections](const QString& n, ResolvedConnection* out, QString* e) {
            if (!connections.contains(n)) {
                *e = "unknown " + n;
                return false;
            }
            *out = connections.value(n);
            return true;
        };
        return c;
    }
};

TEST_P(Server, StoreKeepsVersionsLoadsTheNewestAndDeletesEveryVersion) {
    PackageStore store;
    QString error;
    ASSERT_TRUE(store.Open(wh->server, wh->user, wh->password, wh->trusted, true, &error))
        << error.toStdString();
    ASSERT_TRUE(store.Connection().Execute("DELETE FROM sysdtspackages"));
    StoredPackageVersion first, second, other;
    ASSERT_TRUE(
        store.Store("Sales_LoadDW", "one", Document("Sales_LoadDW", {}, "one"), &first, &error))
        << error.toStdString();
    ASSERT_TRUE(
        store.Store("sales_loaddw", "two", Document("sales_loaddw", {}, "two"), &second, &error));
    ASSERT_TRUE(store.Store("O'Hara_Init", "", Document("O'Hara_Init", {}), &other, &error));
    EXPECT_EQ(first.id, second.id) << "versions of one name share the package id";
    EXPECT_NE(first.versionId, second.versionId);

    QList<StoredPackageVersion> versions;
    ASSERT_TRUE(store.Versions("SALES_LOADDW", &versions, &error));
    ASSERT_EQ(versions.size(), 2);
    EXPECT_EQ(versions[0].versionId, second.versionId) << "newest first";

    QByteArray xml;
    ASSERT_TRUE(store.Load("Sales_LoadDW", {}, &xml, nullptr, &error));
    EXPECT_TRUE(xml.contains("description=\"two\""));
    // A given version, its id without braces and in lower case.
    const QString bare = first.versionId.mid(1, first.versionId.size() - 2).toLower();
    ASSERT_TRUE(store.Load("Sales_LoadDW", bare, &xml, nullptr, &error)) << error.toStdString();
    EXPECT_TRUE(xml.contains("description=\"one\""));
    EXPECT_FALSE(store.Load("Sales_LoadDW", other.versionId, &xml, nullptr, &error));

    // The engine loads from the store with the login of the flags.
    EnginePackage package;
    const int flags = wh->trusted ? DTSSQLStgFlag_UseTrustedConnection : DTSSQLStgFlag_Default;
    ASSERT_TRUE(package.LoadFromSQLServer(wh->server, wh->user, wh->password, flags, {}, {}, {},
                                          "O'Hara_Init", &error))
        << error.toStdString();
    EXPECT_FALSE(package.LoadFromSQLServer(wh->server, wh->user, wh->password, flags, {}, {}, {},
                                           "Nothing", &error));
    EXPECT_TRUE(error.contains("Nothing")) << error.toStdString();
    if (!wh->trusted) {
        EXPECT_FALSE(package.LoadFromSQLServer(wh->server, wh->user, "wrong", DTSSQLStgFlag_Default,
                                               {}, {}, {}, "O'Hara_Init", &error));
    }

    int removed = 0;
    ASSERT_TRUE(store.Remove("SALES_loadDW", &removed, &error));
    EXPECT_EQ(removed, 2);
    EXPECT_FALSE(store.Load("Sales_LoadDW", {}, &xml, nullptr, &error));

    // Letter case counts for no alphabet, on every server; other letters do.
    ASSERT_TRUE(
        store.Store("Ölimport_Straße", "", Document("Ölimport_Straße", {}), &first, &error));
    ASSERT_TRUE(
        store.Store("ÖLIMPORT_STRAẞE", "", Document("ÖLIMPORT_STRAẞE", {}), &second, &error));
    ASSERT_TRUE(
        store.Store("Olimport_Strasse", "", Document("Olimport_Strasse", {}), &other, &error));
    EXPECT_EQ(first.id, second.id);
    EXPECT_NE(first.id, other.id);
    ASSERT_TRUE(store.Versions("ölimport_straße", &versions, &error));
    EXPECT_EQ(versions.size(), 2);
    QStringList names;
    ASSERT_TRUE(store.Names(&names, &error));
    EXPECT_EQ(names, QStringList({"O'Hara_Init", "Olimport_Strasse", "ÖLIMPORT_STRAẞE"}));
    ASSERT_TRUE(store.Remove("öLIMPORT_strasSE", &removed, &error));
    EXPECT_EQ(removed, 0);
    ASSERT_TRUE(store.Remove("öLIMPORT_straße", &removed, &error));
    EXPECT_EQ(removed, 2);
    ASSERT_TRUE(store.Names(&names, &error));
    EXPECT_EQ(names, QStringList({"O'Hara_Init", "Olimport_Strasse"}));
}

TEST_P(Server, ExecuteSqlAndCopyRows) {
    const ResolvedConnection dw = Database(wh->database);
    auto c = Open(dw);
    const bool isPg = !wh->trusted;
    ASSERT_TRUE(c->Execute(QStringLiteral("CREATE TABLE runs (job TEXT, ok %1, n INTEGER)")
                               .arg(isPg ? "BOOLEAN" : "INTEGER")));

    // Parameters bound from variables of each kind; rows affected summed over the statements.
    ExecuteSqlTask sql;
    sql.connection = "DW";
    sql.statements = {{"INSERT INTO runs VALUES (?, ?, ?)", {"JobID", "Flag", "Count"}, 1},
                      {"INSERT INTO runs VALUES (?, ?, 2)", {"JobID", "Flag"}, 2},
                      {"UPDATE runs SET n = n + 1 WHERE job = 'it''s ?'", {}, 3}};
    const QMap<QString, QVariant> vars = {{"JobID", "it's ?"}, {"Flag", true}, {"Count", 7LL}};
    TaskOutcome out = RunExecuteSql(sql, Context({{"DW", dw}}, vars));
    ASSERT_TRUE(out.success) << out.error.toStdString();
    EXPECT_EQ(out.rowsAffected, 4);
    EXPECT_EQ(QueryRows(*c, "SELECT job, n FROM runs ORDER BY n"),
              QStringList({"it's ?|3", "it's ?|8"}));

    // A failing statement fails the step; the statements before it keep their effect.
    sql.statements = {{"DELETE FROM runs WHERE n = 3", {}, 4},
                      {"INSERT INTO nowhere VALUES (1)", {}, 5}};
    out = RunExecuteSql(sql, Context({{"DW", dw}}, vars));
    EXPECT_FALSE(out.success);
    EXPECT_TRUE(out.error.startsWith("Statement 2 (line 5) failed: ")) << out.error.toStdString();
    EXPECT_EQ(QueryRows(*c, "SELECT count(*) FROM runs"), QStringList({"1"}));

    // Rows from the embedded server into this server: types converted, NULLs kept, quotes intact.
    ResolvedConnection src;
    src.name = src.server = "(local)";
    src.database = "copy_source";
    src.trusted = true;
    DbConnection s;
    s.SetConnectionString("Provider=sqloledb;Data Source=(local);Initial Catalog=copy_source");
    s.CreateMissingDatabase = true;
    ASSERT_TRUE(s.Open() && s.Execute("CREATE TABLE src (id INTEGER, name TEXT, amount REAL, "
                                      "flag INTEGER)"));
    ASSERT_TRUE(
        s.Execute("INSERT INTO src VALUES (1, 'O''Brien', 2.5, 1), (2, NULL, NULL, 0), "
                  "(3, '', 1e3, NULL), (4, 'x', -0.125, 1), (5, 'y', 3, 0)"));
    s.Close();
    ASSERT_TRUE(
        c->Execute(QStringLiteral("CREATE TABLE dst (line_id INTEGER NOT NULL, name TEXT, "
                                  "amount %1, flag %2, job TEXT)")
                       .arg(isPg ? "DOUBLE PRECISION" : "REAL", isPg ? "BOOLEAN" : "INTEGER")));
    CopyRowsTask copy;
    copy.source = "Src";
    copy.destination = "DW";
    copy.table = "dst";
    copy.query = {
        "SELECT id, name, amount, flag, ? FROM src WHERE id <= 4 ORDER BY id", {"JobID"}, 1};
    copy.columns = {"line_id", "name", "amount", "flag", "job"};
    copy.batchSize = 3;
    out = RunCopyRows(copy, Context({{"Src", src}, {"DW", dw}}, vars));
    ASSERT_TRUE(out.success) << out.error.toStdString();
    EXPECT_EQ(out.rowsAffected, 4);
    const QString t = isPg ? "true" : "1", f = isPg ? "false" : "0";
    EXPECT_EQ(QueryRows(*c, "SELECT line_id, name, amount, flag, job FROM dst ORDER BY line_id"),
              QStringList({"1|O'Brien|2.5|" + t + "|it's ?", "2|~|~|" + f + "|it's ?",
                           "3||1000|~|it's ?", "4|x|-0.125|" + t + "|it's ?"}));

    // A row the destination refuses fails the step: whole batches before it stay, its own
    // batch is discarded.
    copy.query = {
        "SELECT CASE WHEN id = 5 THEN NULL ELSE id END, name FROM src ORDER BY id", {}, 1};
    copy.columns = {"line_id", "name"};
    copy.batchSize = 2;
    ASSERT_TRUE(c->Execute("DELETE FROM dst"));
    out = RunCopyRows(copy, Context({{"Src", src}, {"DW", dw}}, vars));
    EXPECT_FALSE(out.success);
    EXPECT_EQ(out.rowsAffected, 4);
    EXPECT_TRUE(out.error.startsWith("Row 5 could not be inserted into 'dst'"))
        << out.error.toStdString();
    EXPECT_EQ(QueryRows(*c, "SELECT count(*) FROM dst"), QStringList({"4"}));
}

// A file of every kind of record the reader takes (quoted fields with delimiters, doubled quotes
// and line breaks, quotes inside unquoted fields, carriage returns, CR LF ends, "\.", empty and
// NULL fields, text beyond ASCII, a last line without line feed) loaded in small batches: each
// server stores exactly the fields the reader reads, in every batch, whether a record goes to
// PostgreSQL as it stands in the file or is written anew.
TEST_P(Server, BulkInsertStoresWhatTheReaderReads) {
    const ResolvedConnection dw = Database(wh->database);
    auto c = Open(dw);
    ASSERT_TRUE(c->Execute("CREATE TABLE loaded (id INTEGER, a TEXT, b TEXT, c TEXT)"));
    QRandomGenerator random(1976);
    const QList<QByteArray> pieces = {"x",  "abc", ",", "\"\"",     "\"",  "\r", "\n",
                                      "\\", ".",   " ", "\xC3\xA9", "\\.", "'",  ";"};
    auto text = [&] {
        QByteArray t;
        for (int n = random.bounded(4); n > 0; --n)
            t += pieces[random.bounded(pieces.size())];
        return t;
    };
    auto field = [&]() -> QByteArray {
        const QByteArray t = text();
        switch (random.bounded(4)) {
            case 0:  // quoted, its quotes doubled
                return '"' + QByteArray(t).replace('"', "\"\"") + '"';
            case 1: {  // as it comes: quotes inside stay text, a line end ends the record
                QByteArray plain = QByteArray(t).replace('\n', "").replace('\r', "");
                return plain.startsWith('"') ? "x" + plain : plain;  // not quoted after all
            }
            case 2:
                return "\"\"";
            default:
                return {};
        }
    };
    QByteArray file;
    for (int id = 1; id <= 20000; ++id) {  // more than the reader reads ahead
        const QByteArray first = random.bounded(50) == 0 ? QByteArray("\\.") : field();
        file += first + ',' + QByteArray::number(id) + ',' + field() + ',' + field() +
                (random.bounded(10) == 0 ? "\r\n" : "\n");
    }
    file += "last,20001,no,line feed";
    QTemporaryDir dir;
    QFile out(dir.filePath("hostile.csv"));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly) && out.write(file) == file.size());
    out.close();

    QStringList expected;
    FlatFileReader reader({});
    QString error, reason;
    ASSERT_TRUE(reader.Open(out.fileName(), &error));
    std::vector<BulkField> fields;
    for (FlatFileReader::Status s;
         (s = reader.Next(&fields, &reason)) != FlatFileReader::Status::End;) {
        if (s != FlatFileReader::Status::Record || fields.size() != 4 || fields[1].null)
            continue;
        QStringList row;
        for (size_t i : {1, 0, 2, 3})
            row << (fields[i].null ? QStringLiteral("~") : QString::fromUtf8(fields[i].text));
        expected << row.join('|');
    }
    ASSERT_GT(expected.size(), 15000);

    BulkInsertTask task;
    task.connection = "DW";
    task.table = "loaded";
    task.file = out.fileName();
    task.columns = {"a", "id", "b", "c"};
    task.batchSize = 97;
    task.maxErrors = 100000;
    TaskContext context = Context({{"DW", dw}});
    context.openBulkSink = OpenResolvedBulkSink;
    const TaskOutcome outcome = RunBulkInsert(task, context);
    ASSERT_TRUE(outcome.success) << outcome.error.toStdString();
    EXPECT_EQ(outcome.rowsAffected, expected.size());
    const QStringList stored = QueryRows(*c, "SELECT id, a, b, c FROM loaded ORDER BY id");
    ASSERT_EQ(stored.size(), expected.size());
    for (qsizetype i = 0; i < stored.size(); ++i)
        ASSERT_EQ(stored[i], expected[i]) << "row " << i;
}

PENDRILL_ON_EMBEDDED_AND_POSTGRES(Server);

}  // namespace
