#include <gtest/gtest.h>

#include <QDir>
#include <QJsonArray>
#include <QSqlQuery>

#include "history/JobHistoryReader.h"
#include "history/JobRecord.h"
#include "history/Repository.h"
#include "history/RepositoryConnection.h"
#include "support/TestSupport.h"

TEST(JobRecord, CloseStoresPropertiesArgumentsAndEmptyTexts) {
    testsupport::IsolatedHome home;
    JobRecord first;
    first.setJobIdentifier(QString());  // a null text is stored as the empty text
    first.setMessage(QString());
    first.Close(2, "Pendrill");

    JobRecord r;
    const QDateTime start = QDateTime::currentDateTime().addSecs(-60);
    r.setSourcePath("/out/");
    r.setSourceUser("O'Brien");  // a quote must not break the insert
    r.setStartTime(start);
    r.setJobIdentifier("");
    r.setStatus(3);
    r.setQuantity(1234.5);
    ASSERT_TRUE(r.Close(4, "Pendrill", JobRecord::CloseArgumentsFor("DTS", "Sales_Overall")));

    QList<QJsonObject> records;
    QString error;
    ASSERT_TRUE(ReadJobHistory(records, -1, &error)) << error.toStdString();
    ASSERT_EQ(records.size(), 2);
    const QJsonObject o = records.first();  // newest first
    EXPECT_EQ(o.value("SourceUser").toString() + "|" + o.value("SourcePath").toString(),
              "O'Brien|/out/");
    EXPECT_EQ(o.value("Quantity").toDouble(), 1234.5);
    EXPECT_EQ(o.value("Status").toInt(), 3);
    EXPECT_EQ(
        QDateTime::fromString(o.value("StartTime").toString(), Qt::ISODate).toSecsSinceEpoch(),
        start.toSecsSinceEpoch());
    EXPECT_EQ(o.value("CurrentUserName").toString(), r.CurrentUserName());
    EXPECT_FALSE(r.CurrentUserName().isEmpty() || r.ComputerName().isEmpty());
    const QJsonArray a = o.value("Arguments").toArray();
    EXPECT_EQ(a.at(0).toString() + "|" + a.at(1).toString(), "DTS|Sales_Overall");
    EXPECT_EQ(a.at(15 - 3).toString(), "Missing");
    EXPECT_EQ(a.at(20 - 3).toDouble(), 2.0);

    const QJsonObject older = records.last();
    EXPECT_EQ(older.value("Kind").toInt(), 2);
    for (const QJsonObject& rec : {o, older}) {
        EXPECT_TRUE(rec.value("JobIdentifier").isString()) << "set to empty is not unset";
        EXPECT_EQ(rec.value("JobIdentifier").toString(), "");
    }
    EXPECT_EQ(older.value("Message"), QJsonValue(""));
    EXPECT_TRUE(older.value("SourceServer").isNull()) << "never set stays NULL";
    ASSERT_TRUE(ReadJobHistory(records, 1, &error)) << error.toStdString();
    ASSERT_EQ(records.size(), 1) << "the limit keeps the newest";
    EXPECT_EQ(records.first().value("Kind").toInt(), 4);
}

TEST(JobRecord, ProcessMetadataFileRecordsTheFile) {
    testsupport::IsolatedHome home;
    const QString file = home.file("pmd_sales.xml"), missing = home.file("not there.xml");
    ASSERT_TRUE(testsupport::writeAll(file, QByteArray(1234, 'm')));
    JobRecord r;
    r.setJobIdentifier("77");
    ASSERT_TRUE(r.ProcessMetadataFile(file));
    ASSERT_TRUE(r.ProcessMetadataFile(missing));

    Repository::Connection repo;
    ASSERT_TRUE(repo.Open()) << repo.LastError().toStdString();
    QSqlQuery q(repo.Db());
    ASSERT_TRUE(
        q.exec("SELECT FileName, FileSize, RecordedAt, JobIdentifier, CurrentUserName,"
               " ComputerName FROM metadata_files ORDER BY Id"));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(QStringList({q.value(0).toString(), q.value(1).toString(), q.value(3).toString(),
                           q.value(4).toString(), q.value(5).toString()}),
              QStringList({file, "1234", "77", r.CurrentUserName(), r.ComputerName()}));
    const QDateTime at = QDateTime::fromString(q.value(2).toString(), Qt::ISODate);
    EXPECT_LT(qAbs(at.secsTo(QDateTime::currentDateTime())), 60)
        << q.value(2).toString().toStdString();
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toString(), missing);
    EXPECT_TRUE(q.value(1).isNull()) << "a missing file has no size";
    EXPECT_FALSE(q.next());
}

TEST(RepositoryConnection, StatesFollowTheConfiguredLocation) {
    testsupport::IsolatedHome home;
    RepositoryConnection c;
    EXPECT_EQ(c.State(), 3);
    EXPECT_TRUE(QFile::exists(home.dataHome() + "/pendrill/repository.db"));

    QDir().mkpath(home.configHome() + "/pendrill");
    auto locate = [&](const char* key, const QString& location) {
        testsupport::writeAll(home.configHome() + "/pendrill/registry.ini",
                              key + location.toUtf8() + "\r\n");
    };
    const char* key = "[Software\\Tessaly\\Rook\\Repository]\r\nLocation=";
    locate(key, home.file("nowhere/repo.db"));
    EXPECT_EQ(c.State(), 1);
    EXPECT_FALSE(c.LastError().isEmpty());
    testsupport::writeAll(home.file("not a database"), QByteArray(4096, 'z'));
    locate("[software\\tessaly\\rook\\repository]\r\nlocation=", home.file("not a database"));
    EXPECT_EQ(c.State(), 1) << "a file that is no database cannot be opened";
    locate(key, "");
    EXPECT_EQ(c.State(), 0);
    locate(key, home.file("mine.db"));
    EXPECT_EQ(c.State(), 3);
    JobRecord r;
    EXPECT_TRUE(r.Close(4, "Pendrill"));
    EXPECT_TRUE(QFile::exists(home.file("mine.db")));
}
