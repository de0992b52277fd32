// `pendrill-admin history prune` killed (SIGKILL) at random moments: the repository stays whole
// and the older records are either all there or all gone. PENDRILL_CRASH_ROUNDS sets the number
// of rounds (a few by default; bench/history.sh runs many).
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QThread>

#include "rook/RookRepository.h"
#include "support/TestSupport.h"

namespace {

const qint64 kOld = QDateTime::fromString("2025-01-01T00:00:00Z", Qt::ISODate).toSecsSinceEpoch();
const qint64 kNew = QDateTime::fromString("2026-06-01T00:00:00Z", Qt::ISODate).toSecsSinceEpoch();

void insertRecords(int count, qint64 recordTime) {
    RookRepository::Connection repo;
    ASSERT_TRUE(repo.Open()) << repo.LastError().toStdString();
    ASSERT_TRUE(repo.Db().transaction());
    QSqlQuery q(repo.Db());
    ASSERT_TRUE(
        q.prepare("INSERT INTO job_history (Kind, ApplicationName, JobIdentifier, Status, Message,"
                  " EndTime, RecordTime, Arguments) VALUES (4, 'Pendrill', ?, 0, ?, ?, ?, '[]')"));
    const QString end = QDateTime::fromSecsSinceEpoch(recordTime).toString(Qt::ISODate);
    for (int i = 0; i < count; ++i) {
        q.addBindValue(QString::number(i % 17));
        q.addBindValue(QString("a message of some length for record %1").arg(i));
        q.addBindValue(end);
        q.addBindValue(recordTime);
        ASSERT_TRUE(q.exec());
    }
    ASSERT_TRUE(repo.Db().commit());
}

struct Check {
    QString integrity;
    qint64 older = -1, newer = -1;
};

// Read with a plain connection, as any SQLite client would find the file.
Check check(const QString& path) {
    Check c;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "crash-check");
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec("PRAGMA integrity_check") && q.next())
                c.integrity = q.value(0).toString();
            if (q.exec(
                    QString("SELECT count(*) FROM job_history WHERE RecordTime < %1").arg(kNew)) &&
                q.next())
                c.older = q.value(0).toLongLong();
            if (q.exec(
                    QString("SELECT count(*) FROM job_history WHERE RecordTime >= %1").arg(kNew)) &&
                q.next())
                c.newer = q.value(0).toLongLong();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase("crash-check");
    return c;
}

}  // namespace

TEST(AdminHistoryFaults, PruneKilledAtRandomMomentsDeletesAllOrNothing) {
    testsupport::IsolatedHome home;
    const QString path = RookRepository::DefaultPath();
    const int rounds = qMax(3, qEnvironmentVariableIntValue("PENDRILL_CRASH_ROUNDS"));
    const int older = 20000, newer = 25;
    insertRecords(newer, kNew);

    // How long a whole prune takes: the kills fall anywhere in that time.
    insertRecords(older, kOld);
    QElapsedTimer timer;
    timer.start();
    auto r = testsupport::admin({"history", "prune", "--before", "2026-01-01"});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    const int span = qMax<int>(20, int(timer.elapsed()));

    const quint32 seed = QRandomGenerator::global()->generate();
    QRandomGenerator random(seed);
    int killedEarly = 0, killedLate = 0;
    for (int round = 0; round < rounds; ++round) {
        if (check(path).older == 0)
            insertRecords(older, kOld);
        const int delay = random.bounded(span + span / 2);
        QProcess p;
        p.start(QString(PENDRILL_BIN_DIR) + "/pendrill-admin",
                {"history", "prune", "--before", "2026-01-01"});
        ASSERT_TRUE(p.waitForStarted());
        QThread::msleep(delay);
        p.kill();
        p.waitForFinished();
        const Check c = check(path);
        const std::string where = QString("round %1, kill after %2 ms (seed %3)")
                                      .arg(round)
                                      .arg(delay)
                                      .arg(seed)
                                      .toStdString();
        ASSERT_EQ(c.integrity, "ok") << where;
        ASSERT_EQ(c.newer, newer) << where;
        ASSERT_TRUE(c.older == 0 || c.older == older) << where << ": " << c.older << " left";
        (c.older == 0 ? killedLate : killedEarly)++;
    }
    // Shown so that a long run tells whether the kills fell on both sides of the commit.
    std::printf("prune killed %d times before its commit, %d times after (span %d ms)\n",
                killedEarly, killedLate, span);
}
