#include <gtest/gtest.h>

#include <QDir>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <functional>

#include "support/TestPostgres.h"

using testsupport::TestPostgres;

namespace {

// Opens a connection under a name of its own, hands it to `body`, and removes it afterwards.
QString withConnection(const QString& driver, const std::function<void(QSqlDatabase&)>& setup,
                       const std::function<void(QSqlDatabase&)>& body) {
    static int counter = 0;
    const QString name = QStringLiteral("harness_%1").arg(++counter);
    QString openError;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(driver, name);
        setup(db);
        if (db.open())
            body(db);
        else
            openError = db.lastError().text();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return openError;
}

struct Row {
    int id;
    QVariant name;
};

std::vector<Row> readRows(QSqlDatabase& db) {
    std::vector<Row> rows;
    QSqlQuery q(db);
    EXPECT_TRUE(q.exec(QStringLiteral("SELECT id, name FROM item ORDER BY id")))
        << q.lastError().text().toStdString();
    while (q.next())
        rows.push_back({q.value(0).toInt(), q.value(1)});
    return rows;
}

void expectItemRows(const std::vector<Row>& rows) {
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].id, 1);
    EXPECT_EQ(rows[0].name.toString(), QStringLiteral("O'Brien"));
    EXPECT_EQ(rows[1].id, 2);
    EXPECT_TRUE(rows[1].name.isNull());
    EXPECT_EQ(rows[2].id, 3);
    EXPECT_EQ(rows[2].name.toString(), QStringLiteral("Zoë"));
}

class PostgresHarnessTest : public ::testing::Test {
  protected:
    void SetUp() override { PENDRILL_START_POSTGRES(pg_); }
    void tcpLogin(QSqlDatabase& db, const QString& database, const QString& password) const {
        db.setHostName(pg_.host());
        db.setPort(pg_.port());
        db.setDatabaseName(database);
        db.setUserName(pg_.superuser());
        db.setPassword(password);
    }
    TestPostgres pg_;
};

TEST_F(PostgresHarnessTest, LoginsOverTcpAndSocket) {
    EXPECT_EQ(pg_.host(), QStringLiteral("127.0.0.1"));
    EXPECT_GT(pg_.port(), 0);

    QString who;
    QString err = withConnection(
        QStringLiteral("QPSQL"),
        [&](QSqlDatabase& db) { tcpLogin(db, QStringLiteral("postgres"), pg_.password()); },
        [&](QSqlDatabase& db) {
            QSqlQuery q(db);
            ASSERT_TRUE(q.exec(QStringLiteral("SELECT current_user, inet_server_port()")));
            ASSERT_TRUE(q.next());
            who = q.value(0).toString();
            EXPECT_EQ(q.value(1).toInt(), pg_.port());
        });
    EXPECT_TRUE(err.isEmpty()) << err.toStdString();
    EXPECT_EQ(who, pg_.superuser());

    // Trusted login: no password, the socket's peer credentials decide.
    who.clear();
    err = withConnection(
        QStringLiteral("QPSQL"),
        [&](QSqlDatabase& db) {
            db.setHostName(pg_.socketDir());
            db.setPort(pg_.port());
            db.setDatabaseName(QStringLiteral("postgres"));
            db.setUserName(pg_.osUser());
        },
        [&](QSqlDatabase& db) {
            QSqlQuery q(db);
            ASSERT_TRUE(q.exec(QStringLiteral("SELECT current_user, inet_server_addr() IS NULL")));
            ASSERT_TRUE(q.next());
            who = q.value(0).toString();
            EXPECT_TRUE(q.value(1).toBool()) << "expected a unix-socket session";
        });
    EXPECT_TRUE(err.isEmpty()) << err.toStdString();
    EXPECT_EQ(who, pg_.osUser());

    // Peer authentication must not let the process claim a role other than its own account
    // (or the mapped superuser).
    ASSERT_TRUE(pg_.execute(QStringLiteral("postgres"),
                            QStringLiteral("CREATE ROLE someone_else LOGIN"), &err))
        << err.toStdString();
    err = withConnection(
        QStringLiteral("QPSQL"),
        [&](QSqlDatabase& db) {
            db.setHostName(pg_.socketDir());
            db.setPort(pg_.port());
            db.setDatabaseName(QStringLiteral("postgres"));
            db.setUserName(QStringLiteral("someone_else"));
        },
        [](QSqlDatabase&) { ADD_FAILURE() << "peer login as another role succeeded"; });
    EXPECT_FALSE(err.isEmpty());
}

TEST_F(PostgresHarnessTest, WrongPasswordFailsWithText) {
    for (const QString& wrong : {pg_.password() + QStringLiteral("x"), QString()}) {
        const QString err = withConnection(
            QStringLiteral("QPSQL"),
            [&](QSqlDatabase& db) { tcpLogin(db, QStringLiteral("postgres"), wrong); },
            [](QSqlDatabase&) { ADD_FAILURE() << "login with a wrong password succeeded"; });
        EXPECT_FALSE(err.isEmpty());
        if (!wrong.isEmpty()) {
            EXPECT_TRUE(err.contains(QStringLiteral("password authentication failed")))
                << err.toStdString();
        }
    }
}

TEST_F(PostgresHarnessTest, RowsWithNullThroughQpsqlAndOdbc) {
    QString err;
    const QString dbName = QStringLiteral("Ware \"house\"");
    ASSERT_TRUE(pg_.createDatabase(dbName, &err)) << err.toStdString();
    ASSERT_TRUE(pg_.execute(dbName,
                            QStringLiteral("CREATE TABLE item (id integer PRIMARY KEY, name text);"
                                           "INSERT INTO item VALUES (3, 'Zoë'), (1, 'O''Brien'), "
                                           "(2, NULL)"),
                            &err))
        << err.toStdString();
    EXPECT_FALSE(pg_.execute(dbName, QStringLiteral("SELECT * FROM missing_table"), &err));
    EXPECT_TRUE(err.contains(QStringLiteral("missing_table"))) << err.toStdString();

    err = withConnection(
        QStringLiteral("QPSQL"), [&](QSqlDatabase& db) { tcpLogin(db, dbName, pg_.password()); },
        [](QSqlDatabase& db) { expectItemRows(readRows(db)); });
    EXPECT_TRUE(err.isEmpty()) << err.toStdString();

    ASSERT_TRUE(QSqlDatabase::isDriverAvailable(QStringLiteral("QODBC")))
        << "Qt's ODBC driver is missing (libqt6sql6-odbc)";
    // Database names with quotes do not survive an ODBC connection text; use a plain one.
    ASSERT_TRUE(pg_.createDatabase(QStringLiteral("plain"), &err)) << err.toStdString();
    ASSERT_TRUE(pg_.execute(QStringLiteral("plain"),
                            QStringLiteral("CREATE TABLE item (id integer, name varchar(20));"
                                           "INSERT INTO item VALUES (1, 'O''Brien'), (2, NULL), "
                                           "(3, 'Zoë')"),
                            &err))
        << err.toStdString();
    err = withConnection(
        QStringLiteral("QODBC"),
        [&](QSqlDatabase& db) { db.setDatabaseName(pg_.odbcConnectionText("plain")); },
        [](QSqlDatabase& db) { expectItemRows(readRows(db)); });
    EXPECT_TRUE(err.isEmpty()) << err.toStdString();
}

TEST(PostgresHarness, TwoServersAtOnceAndStopCleansUp) {
    TestPostgres a, b;
    PENDRILL_START_POSTGRES(a);
    PENDRILL_START_POSTGRES(b);
    EXPECT_NE(a.port(), b.port());
    EXPECT_NE(a.directory(), b.directory());
    QString err;
    EXPECT_TRUE(
        a.execute(QStringLiteral("postgres"), QStringLiteral("CREATE TABLE only_a (x int)"), &err))
        << err.toStdString();
    EXPECT_FALSE(
        b.execute(QStringLiteral("postgres"), QStringLiteral("SELECT * FROM only_a"), &err));

    const QString dir = a.directory();
    const int port = a.port();
    ASSERT_TRUE(QDir(dir).exists());
    a.stop();
    EXPECT_FALSE(a.isRunning());
    EXPECT_FALSE(QDir(dir).exists());
    EXPECT_FALSE(a.execute(QStringLiteral("postgres"), QStringLiteral("SELECT 1"), &err));
    a.stop();  // twice is harmless

    // The stopped server's port no longer answers.
    const QString openError = withConnection(
        QStringLiteral("QPSQL"),
        [&](QSqlDatabase& db) {
            db.setHostName(QStringLiteral("127.0.0.1"));
            db.setPort(port);
            db.setDatabaseName(QStringLiteral("postgres"));
            db.setUserName(QStringLiteral("nobody"));
            db.setConnectOptions(QStringLiteral("connect_timeout=5"));
        },
        [](QSqlDatabase&) { ADD_FAILURE() << "stopped server still answers"; });
    EXPECT_FALSE(openError.isEmpty());

    // Restarting after a stop gives a fresh, working cluster.
    ASSERT_TRUE(a.start(&err)) << err.toStdString();
    EXPECT_TRUE(a.execute(QStringLiteral("postgres"), QStringLiteral("SELECT 1"), &err))
        << err.toStdString();
    EXPECT_TRUE(b.isRunning());
}

TEST(PostgresHarness, SharedServerIsReused) {
    QString err;
    if (!TestPostgres::available(&err))
        GTEST_SKIP() << err.toStdString();
    TestPostgres* first = TestPostgres::shared(&err);
    ASSERT_NE(first, nullptr) << err.toStdString();
    EXPECT_EQ(TestPostgres::shared(&err), first);
    EXPECT_TRUE(first->execute(QStringLiteral("postgres"), QStringLiteral("SELECT 1"), &err))
        << err.toStdString();
}

}  // namespace
