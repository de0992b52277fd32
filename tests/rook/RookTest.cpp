#include <gtest/gtest.h>

#include <QDir>
#include <QJsonArray>
#include <QSqlQuery>

#include "rook/RookHistoryReader.h"
#include "rook/RookJobHistory.h"
#include "rook/RookRepository.h"
#include "rook/RookRepositoryConnection.h"
#include "support/TestSupport.h"

TEST(RookJobHistory, CloseStoresEveryPropertyAndArgument) {
    testsupport::IsolatedHome home;
    RookJobHistory first;
    first.setStatus(0);
    first.Close(2, "Pendrill");

    RookJobHistory r;
    const QDateTime start = QDateTime::currentDateTime().addSecs(-60);
    r.setSourceServer("ftp.example.org:2121");
    r.setSourcePath("/out/");
    r.setSourceDatabase("DTS Local Packages");
    r.setSourceUser("O'Brien");  // a quote must not break the insert
    r.setTargetServer(r.ComputerName());
    r.setTargetPath("/data/in/");
    r.setTargetDatabase("DW");
    r.setTargetUser(r.CurrentUserName());
    r.setExceptionFile("/var/log/run.log");
    r.setStartTime(start);
    r.setEndTime(start.addSecs(30));
    r.setJobIdentifier("");
    r.setStatus(3);
    r.setMessage("Error: DTS package execute error");
    r.setObjectName("sales.csv");
    r.setQuantity(1234.5);
    r.setQuantityUnit("bytes");
    ASSERT_TRUE(r.Close(4, "Pendrill", RookJobHistory::CloseArgumentsFor("DTS", "Sales_Overall")));

    QList<QJsonObject> records;
    QString error;
    ASSERT_TRUE(ReadJobHistory(records, error)) << error.toStdString();
    ASSERT_EQ(records.size(), 2);
    const QJsonObject o = records.first();  // newest first
    EXPECT_EQ(o.value("SourceUser").toString(), "O'Brien");
    EXPECT_EQ(o.value("SourcePath").toString(), "/out/");
    EXPECT_EQ(o.value("Quantity").toDouble(), 1234.5);
    EXPECT_EQ(o.value("QuantityUnit").toString(), "bytes");
    EXPECT_EQ(o.value("Status").toInt(), 3);
    EXPECT_EQ(o.value("JobIdentifier").toString(), "");
    EXPECT_FALSE(o.value("JobIdentifier").isNull()) << "set to empty is not the same as unset";
    EXPECT_EQ(
        QDateTime::fromString(o.value("StartTime").toString(), Qt::ISODate).toSecsSinceEpoch(),
        start.toSecsSinceEpoch());
    EXPECT_EQ(o.value("CurrentUserName").toString(), r.CurrentUserName());
    EXPECT_FALSE(r.CurrentUserName().isEmpty());
    EXPECT_FALSE(r.ComputerName().isEmpty());
    const QJsonArray a = o.value("Arguments").toArray();
    EXPECT_EQ(a.at(0).toString(), "DTS");
    EXPECT_EQ(a.at(1).toString(), "Sales_Overall");
    EXPECT_EQ(a.at(15 - 3).toString(), "Missing");
    EXPECT_EQ(a.at(20 - 3).toDouble(), 2.0);

    const QJsonObject older = records.last();
    EXPECT_EQ(older.value("Kind").toInt(), 2);
    EXPECT_TRUE(older.value("SourceServer").isNull());
    ASSERT_TRUE(ReadJobHistory(records, error, 1)) << error.toStdString();
    ASSERT_EQ(records.size(), 1) << "the limit keeps the newest";
    EXPECT_EQ(records.first().value("Kind").toInt(), 4);
}

TEST(RookJobHistory, TextSetToANullStringIsStoredAsTheEmptyText) {
    testsupport::IsolatedHome home;
    RookJobHistory r;
    r.setJobIdentifier(QString());
    r.setMessage(QString());
    ASSERT_TRUE(r.Close(4, "Pendrill"));
    QList<QJsonObject> records;
    QString error;
    ASSERT_TRUE(ReadJobHistory(records, error)) << error.toStdString();
    ASSERT_EQ(records.size(), 1);
    for (const char* name : {"JobIdentifier", "Message"}) {
        EXPECT_TRUE(records.first().value(name).isString()) << name;
        EXPECT_EQ(records.first().value(name).toString(), "") << name;
    }
    EXPECT_TRUE(records.first().value("SourceServer").isNull()) << "never set stays NULL";
}

TEST(RookJobHistory, ProcessMetadataFileRecordsTheFile) {
    testsupport::IsolatedHome home;
    const QString file = home.file("pmd_sales.xml");
    ASSERT_TRUE(testsupport::writeAll(file, QByteArray(1234, 'm')));
    RookJobHistory r;
    r.setJobIdentifier("77");
    ASSERT_TRUE(r.ProcessMetadataFile(file));
    ASSERT_TRUE(r.ProcessMetadataFile(home.file("not there.xml")));

    RookRepository::Connection repo;
    ASSERT_TRUE(repo.Open()) << repo.LastError().toStdString();
    QSqlQuery q(repo.Db());
    ASSERT_TRUE(
        q.exec("SELECT FileName, FileSize, RecordedAt, JobIdentifier, CurrentUserName,"
               " ComputerName FROM metadata_files ORDER BY Id"));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toString(), file);
    EXPECT_EQ(q.value(1).toLongLong(), 1234);
    const QDateTime at = QDateTime::fromString(q.value(2).toString(), Qt::ISODate);
    EXPECT_TRUE(at.isValid()) << q.value(2).toString().toStdString();
    EXPECT_LT(qAbs(at.secsTo(QDateTime::currentDateTime())), 60);
    EXPECT_EQ(q.value(3).toString(), "77");
    EXPECT_EQ(q.value(4).toString(), r.CurrentUserName());
    EXPECT_EQ(q.value(5).toString(), r.ComputerName());
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toString(), home.file("not there.xml"));
    EXPECT_TRUE(q.value(1).isNull()) << "a missing file has no size";
    EXPECT_FALSE(q.next());
}

TEST(RookRepositoryConnection, StatesFollowTheConfiguredLocation) {
    testsupport::IsolatedHome home;
    RookRepositoryConnection c;
    EXPECT_EQ(c.State(), 3);
    EXPECT_TRUE(QFile::exists(home.dataHome() + "/pendrill/repository.db"));

    QDir().mkpath(home.configHome() + "/pendrill");
    const QString registry = home.configHome() + "/pendrill/registry.ini";
    testsupport::writeAll(registry, "[Software\\Tessaly\\Rook\\Repository]\r\nLocation=" +
                                        home.file("nowhere/repo.db").toUtf8() + "\r\n");
    EXPECT_EQ(c.State(), 1);
    EXPECT_FALSE(c.LastError().isEmpty());

    testsupport::writeAll(home.file("not a database"), QByteArray(4096, 'z'));
    testsupport::writeAll(registry, "[software\\tessaly\\rook\\repository]\r\nlocation=" +
                                        home.file("not a database").toUtf8() + "\r\n");
    EXPECT_EQ(c.State(), 1) << "a file that is no database cannot be opened";

    testsupport::writeAll(registry, "[Software\\Tessaly\\Rook\\Repository]\r\nLocation=\r\n");
    EXPECT_EQ(c.State(), 0);

    testsupport::writeAll(registry, "[Software\\Tessaly\\Rook\\Repository]\r\nLocation=" +
                                        home.file("mine.db").toUtf8() + "\r\n");
    EXPECT_EQ(c.State(), 3);
    RookJobHistory r;
    EXPECT_TRUE(r.Close(4, "Pendrill"));
    EXPECT_TRUE(QFile::exists(home.file("mine.db")));
}
