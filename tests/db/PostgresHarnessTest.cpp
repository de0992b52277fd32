#include <gtest/gtest.h>

#include <QDir>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <functional>

#include "support/TestPostgres.h"

using testsupport::TestPostgres;

namespace {

// Opens a connection under a name of its own, runs `body` on it and returns the open error.
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
    }
    QSqlDatabase::removeDatabase(name);
    return openError;
}

// One server start for the whole check: every other PostgreSQL test relies on the harness too.
TEST(PostgresHarness, StartLoginOdbcReadWrongPasswordAndStop) {
    TestPostgres pg;
    PENDRILL_START_POSTGRES(pg);
    auto tcpLogin = [&](const QString& password) {
        return [&pg, password](QSqlDatabase& db) {
            db.setHostName(pg.host());
            db.setPort(pg.port());
            db.setDatabaseName(QStringLiteral("postgres"));
            db.setUserName(pg.superuser());
            db.setPassword(password);
        };
    };
    QString who;
    QString err =
        withConnection(QStringLiteral("QPSQL"), tcpLogin(pg.password()), [&](QSqlDatabase& db) {
            QSqlQuery q(db);
            ASSERT_TRUE(q.exec(QStringLiteral("SELECT current_user")));
            ASSERT_TRUE(q.next());
            who = q.value(0).toString();
        });
    EXPECT_TRUE(err.isEmpty()) << err.toStdString();
    EXPECT_EQ(who, pg.superuser());

    err = withConnection(QStringLiteral("QPSQL"), tcpLogin(pg.password() + "x"),
                         [](QSqlDatabase&) { ADD_FAILURE() << "a wrong password was accepted"; });
    EXPECT_TRUE(err.contains(QStringLiteral("password authentication failed")))
        << err.toStdString();

    ASSERT_TRUE(pg.createDatabase(QStringLiteral("plain"), &err)) << err.toStdString();
    ASSERT_TRUE(pg.execute(QStringLiteral("plain"),
                           QStringLiteral("CREATE TABLE item (id integer, name varchar(20));"
                                          "INSERT INTO item VALUES (2, NULL), (1, 'O''Brien')"),
                           &err))
        << err.toStdString();
    QStringList rows;
    err = withConnection(
        QStringLiteral("QODBC"),
        [&](QSqlDatabase& db) { db.setDatabaseName(pg.odbcConnectionText("plain")); },
        [&](QSqlDatabase& db) {
            QSqlQuery q(db);
            ASSERT_TRUE(q.exec(QStringLiteral("SELECT name FROM item ORDER BY id")));
            while (q.next())
                rows << (q.value(0).isNull() ? QStringLiteral("NULL") : q.value(0).toString());
        });
    EXPECT_TRUE(err.isEmpty()) << err.toStdString();
    EXPECT_EQ(rows, QStringList({"O'Brien", "NULL"}));

    const QString dir = pg.directory();
    pg.stop();
    EXPECT_FALSE(pg.isRunning());
    EXPECT_FALSE(QDir(dir).exists());
    EXPECT_FALSE(pg.execute(QStringLiteral("postgres"), QStringLiteral("SELECT 1"), &err));
}

}  // namespace
