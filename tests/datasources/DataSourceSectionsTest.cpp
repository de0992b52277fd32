#include <gtest/gtest.h>

#include "config/IniFiles.h"
#include "config/PasswordScrambler.h"
#include "config/RunSettings.h"
#include "datasources/DataLinks.h"
#include "datasources/DataSourceSections.h"
#include "support/TestSupport.h"

namespace {

// Puts a collection of two sources in place of the held one and returns it.
DataLinks& loadTwo(std::unique_ptr<DataLinks>& held) {
    held = std::make_unique<DataLinks>();
    DataLinks* c = held.get();
    c->Add("Sales", "Orders", 1, "srv1", "OrdersDb", true, "ord", "p=w;d", "", "", "Provider=X;", 0,
           "", "", "", "", 0, 0);
    c->Add("Sales", "Feed", 3, "", "", false, "", "", "", "/in/", "", 1, "ftp.example", "bob",
           "ftp'pw", "/out/", 30, -5);
    return *c;
}

class DataSourceSectionsTest : public ::testing::Test {
  protected:
    testsupport::IsolatedHome home;
    std::unique_ptr<DataLinks> links;
    QString file = home.file("run.etl");
};

// Every printable character of a scrambled value surviving the file is tested with the
// configuration files (config/IniFilesTest).
TEST_F(DataSourceSectionsTest, WrittenAfterFixedSectionsInKeyOrderWithScrambledSecrets) {
    loadTwo(links);
    RunSettings s;
    s.PendrillConfigFile = file;
    ASSERT_TRUE(s.WriteConfigFile());
    WriteDataSourceSections(file, *links);
    const QString text = QString::fromUtf8(testsupport::readAll(file));
    EXPECT_LT(text.indexOf("[Datawarehouse Server Info]"), text.indexOf("[Data Source::Orders]"));
    EXPECT_LT(text.indexOf("[Data Source::Orders]"), text.indexOf("[Data Source::Feed]"));
    EXPECT_EQ(
        ReadIniKeyNames("Data Source::Feed", file),
        QStringList({"Name", "ModelName", "Type", "Server", "Database", "TrustedLogin", "User",
                     "Password", "File", "Directory", "ConnectString", "TransferData", "FTPServer",
                     "FTPUSer", "FTPPassword", "RemoteDir", "PollDuration", "PollInterval"}));
    EXPECT_TRUE(text.contains("TrustedLogin=TRUE"));
    EXPECT_FALSE(text.contains("p=w;d") || text.contains("Provider=X;"));
    EXPECT_EQ(DecryptPassword(ReadIniValue("Data Source::Orders", "Password", "", file)), "p=w;d");
    EXPECT_EQ(DecryptPassword(ReadIniValue("Data Source::Feed", "FTPPassword", "", file)),
              "ftp'pw");
}

TEST_F(DataSourceSectionsTest, AppliedOnlyWhenModelAndTypeMatch) {
    DataLinks& c = loadTwo(links);
    WriteDataSourceSections(file, c);
    // Change the catalogue's values, then edit the file by hand.
    DataLink& orders = *c.Item(1);
    DataLink& feed = *c.Item(2);
    orders.server = "catalogue";
    feed.ftpServer = "catalogue";
    feed.pollDuration = 1;
    auto set = [&](const char* section, const char* key, const QString& value) {
        ASSERT_NE(WriteIniValue(section, key, value, file), 0);
    };
    set("Data Source::Orders", "Server", "fromfile");
    set("Data Source::Orders", "TrustedLogin", "false");
    set("Data Source::Feed", "FTPServer", "fromfile");

    ReadDataSourceSections(file, c);
    EXPECT_EQ(orders.server, "fromfile");
    EXPECT_FALSE(orders.trustedLogin);
    EXPECT_EQ(orders.connectString, "Provider=X;");
    EXPECT_EQ(feed.ftpServer, "fromfile");
    EXPECT_EQ(feed.pollDuration, 30);
    EXPECT_EQ(feed.ftpPassword, "ftp'pw");

    // Sections that do not match take over the name alone.
    const struct {
        const char* key;
        const char* value;
    } mismatches[] = {
        {"ModelName", "sales"},  // letter case counts
        {"Type", "8"},          {"Type", "x"}, {"TransferData", "many"}, {"PollInterval", "40000"},
    };
    for (const auto& m : mismatches) {
        DataLinks& again = loadTwo(links);
        WriteDataSourceSections(file, again);
        DataLink& ds = *again.Item(2);
        set("Data Source::Feed", "Name", "Renamed");
        set("Data Source::Feed", "FTPServer", "fromfile");
        set("Data Source::Feed", m.key, m.value);
        ReadDataSourceSections(file, again);
        EXPECT_EQ(ds.name + "|" + ds.ftpServer, "Renamed|ftp.example") << m.key << "=" << m.value;
    }

    // A source without a section, or with an empty Name, keeps its values.
    loadTwo(links);
    ASSERT_NE(DeleteIniSection("Data Source::Orders", file), 0);
    set("Data Source::Feed", "Name", "");
    ReadDataSourceSections(file, *links);
    EXPECT_EQ(links->Item(1)->server, "srv1");
    EXPECT_EQ(links->Item(2)->name, "Feed");
}

}  // namespace
