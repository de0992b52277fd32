#include <gtest/gtest.h>

#include <QDir>
#include <QJsonArray>

#include "rook/RookHistoryReader.h"
#include "rook/RookJobHistory.h"
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
    EXPECT_TRUE(records.size() == 2 && ReadJobHistory(records, error, 1) && records.size() == 1);

    EXPECT_TRUE(r.ProcessMetadataFile("/data/in/pmd_sales.xml"));
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
