#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "config/SettingsStore.h"
#include "db/DbInterface.h"
#include "db/ServerResolver.h"
#include "support/DataLinkWarehouse.h"
#include "support/TestSupport.h"

using testsupport::admin;
using testsupport::err;

namespace {

TEST(AdminServer, AddListRemoveAndDatabases) {
    testsupport::IsolatedHome home;
    EXPECT_EQ(admin({"server", "add", "Files", "sqlite:" + home.file("files")}).exitCode, 0);
    EXPECT_EQ(
        admin({"server", "add", "legacy", "odbc:Driver={FreeTDS};Server=m;PWD={s;e}x;"}).exitCode,
        0);
    EXPECT_EQ(admin({"server", "add", "FILES", "sqlite:" + home.file("other")}).exitCode, 0)
        << "an alias is replaced, whatever the letter case";
    auto list = admin({"server", "list"});
    ASSERT_EQ(list.exitCode, 0);
    EXPECT_EQ(QString::fromUtf8(list.out),
              "legacy\todbc:Driver={FreeTDS};Server=m;PWD=********x;\n"
              "FILES\tsqlite:" +
                  home.file("other") + "\n");
    EXPECT_EQ(ReadRegistryValue(QString::fromLatin1(ServerAliasKey), "legacy"),
              "odbc:Driver={FreeTDS};Server=m;PWD={s;e}x;")
        << "the listing hides the password, the store keeps it";

    // The databases of a server, through the same connection code as the editor panels.
    for (const char* db : {"Beta", "alpha"})
        ASSERT_EQ(admin({"datalink", "init", "--server", "files", "--database", db, "--trusted"})
                      .exitCode,
                  0);
    auto dbs = admin({"server", "databases", "files"});
    EXPECT_EQ(dbs.exitCode, 0) << dbs.err.constData();
    EXPECT_EQ(QString::fromUtf8(dbs.out), "alpha\nBeta\n");
    auto unknown = admin({"server", "databases", "nowhere"});
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_TRUE(err(unknown).startsWith("pendrill-admin: Error while connecting to : nowhere\n"));

    EXPECT_EQ(admin({"server", "remove", "files"}).exitCode, 0);
    EXPECT_EQ(admin({"server", "remove", "files"}).exitCode, 1);
}

class AdminDatalink : public WarehouseTest {
  protected:
    void SetUp() override {
        WarehouseTest::SetUp();
        if (!wh->trusted)
            login = {"--user", wh->user, "--password", wh->password};
    }
    testsupport::ProcessResult datalink(const QString& verb, const QStringList& more) {
        return admin(QStringList{"datalink", verb, "--server", "wh", "--database", wh->database} +
                     more + login);
    }
    QStringList login;
};

// One test per server: each start of the shared PostgreSQL server costs seconds. The catalogue
// is made to compare its names without regard to case (as SQL Server's default collation does),
// so that every exact-name rule is tried where the server's "=" would not keep it.
TEST_P(AdminDatalink, InitAddSetListAndFailures) {
    ASSERT_TRUE(wh->Exec("DROP TABLE dwm_data_link"));
    auto init = datalink("init", {});
    ASSERT_EQ(init.exitCode, 0) << init.err.constData();
    EXPECT_TRUE(init.out.contains("created table dwm_data_link"));
    EXPECT_TRUE(datalink("init", {}).out.contains("already exists"));

    std::unique_ptr<DbConnection> connection = wh->Open();
    DbConnection& c = *connection;
    ASSERT_EQ(c.State(), 1) << c.ErrorText().toStdString();
    if (GetParam() == Backend::Embedded) {
        ASSERT_TRUE(c.Execute("ALTER TABLE dwm_data_link RENAME TO old_link"));
        ASSERT_TRUE(c.Execute(
            "CREATE TABLE dwm_data_link (model TEXT COLLATE NOCASE, source_name TEXT COLLATE "
            "NOCASE, Type INTEGER, ds_server TEXT, ds_database TEXT, ds_trusted_login BOOLEAN, "
            "ds_user TEXT, ds_password TEXT, ds_file TEXT, ds_directory TEXT, "
            "ds_connect_string TEXT, transfer_data INTEGER, ftp_server TEXT, ftp_user TEXT, "
            "ftp_password TEXT, remote_directory TEXT, poll_interval INTEGER, poll_duration "
            "INTEGER)"));
    } else {
        ASSERT_TRUE(c.Execute("CREATE EXTENSION IF NOT EXISTS citext"));
        ASSERT_TRUE(
            c.Execute("ALTER TABLE dwm_data_link ALTER model TYPE citext, ALTER "
                      "source_name TYPE citext"))
            << c.ErrorText().toStdString();
    }

    const QString quoted = "O'Brien \"x\"'; DELETE FROM dwm_data_link; --";
    auto add =
        datalink("add", {"--model", "Sales", "--name", quoted, "--type", "3", "--ds-password",
                         "Secret'1", "--ftp-password", "Ftp-Pw", "--poll-interval", "32767",
                         "--ds-directory", "incoming", "--ds-trusted-login", "yes"});
    ASSERT_EQ(add.exitCode, 0) << add.err.constData();
    ASSERT_EQ(datalink("add", {"--model", "Sales", "--name", "Nulls", "--type", "1"}).exitCode, 0);
    // Numbers beyond 16 bits are refused by the tool; written by another one, they read as 32767.
    ASSERT_TRUE(c.Execute("UPDATE dwm_data_link SET poll_interval = 40000 WHERE source_name = ?",
                          {quoted}));
    ASSERT_TRUE(
        c.Execute("UPDATE dwm_data_link SET transfer_data = 70000 WHERE source_name = 'Nulls'"));
    // Exit status, then the arguments, separated by '|'. One row per model and name, found by
    // their exact names.
    for (const char* line :
         {"1|add|--model|Sales|--name|O'Brien \"x\"'; DELETE FROM dwm_data_link; --|--type|1",
          "0|add|--model|Sales|--name|NoType|--null|Type",
          "0|add|--model|SALES|--name|Upper|--type|1",
          "0|set|--model|Sales|--name|Nulls|--ds-server|srv",
          "1|set|--model|sales|--name|Nulls|--ds-user|u",
          "1|set|--model|Sales|--name|NULLS|--ds-user|u",
          "0|add|--model|sales|--name|Nulls|--type|8", "0|add|--model|Sales|--name|NULLS|--type|8",
          "0|set|--model|sales|--name|Nulls|--ds-server|lower",
          "0|set|--model|Sales|--name|NULLS|--ds-server|upper name"}) {
        const QStringList args = QString(line).split('|');
        const auto r = datalink(args.at(1), args.mid(2));
        EXPECT_EQ(r.exitCode, args.at(0).toInt()) << line << r.err.constData();
    }

    // Stored as Pendrill stores it: passwords rotated.
    DbRecordset rs;
    ASSERT_TRUE(
        rs.Open("SELECT ds_password FROM dwm_data_link WHERE source_name = ?", c, {quoted}));
    EXPECT_EQ(rs.Field(0).toString(), "Frperg'1");

    auto list = datalink("list", {"--model", "Sales", "--json"});
    ASSERT_EQ(list.exitCode, 0) << list.err.constData();
    EXPECT_TRUE(err(list).contains("'NoType' of model 'Sales' skipped: its Type is NULL"))
        << list.err.constData();
    const QJsonArray rows = QJsonDocument::fromJson(list.out).array();
    ASSERT_EQ(rows.size(), 3) << "the rows of SALES and sales are not shown: "
                              << list.out.constData();
    QMap<QString, QJsonObject> byName;
    for (const QJsonValue& v : rows)
        byName.insert(v["strName"].toString(), v.toObject());
    const QJsonObject full = byName.value(quoted), nulls = byName.value("Nulls");
    EXPECT_EQ(byName.value("NULLS")["strDSServer"].toString(), "upper name");
    EXPECT_EQ(full["strDSPassword"].toString(), "Secret'1");
    EXPECT_EQ(full["intPollInterval"].toInt(), 32767);
    EXPECT_TRUE(full["blnDSTrustedLogin"].toBool());
    EXPECT_EQ(nulls["strDSServer"].toString(), "srv") << "not changed through sales or NULLS";
    EXPECT_EQ(nulls["intTransferData"].toInt(), 32767);
    EXPECT_FALSE(nulls["blnDSTrustedLogin"].toBool());

    auto text = datalink("list", {"--model", "SALES"});
    ASSERT_EQ(text.exitCode, 0);
    EXPECT_EQ(QString::fromUtf8(text.out).section('\n', 0, 2), "[Upper]\nModelName=SALES\nType=1");
    EXPECT_EQ(text.out.count("["), 1) << text.out.constData();
    auto lower = datalink("list", {"--model", "sales"});
    EXPECT_EQ(QString::fromUtf8(lower.out).section('\n', 0, 3),
              "[Nulls]\nModelName=sales\nType=8\nServer=lower");
    EXPECT_EQ(lower.out.count("["), 1) << lower.out.constData();
    // Rows another program stored with an empty model are listed; writing one is refused.
    ASSERT_TRUE(c.Execute(
        "INSERT INTO dwm_data_link (model, source_name, Type) VALUES ('', 'NoModel', 1)"));
    auto noModel = datalink("list", {"--model", ""});
    EXPECT_EQ(noModel.exitCode, 0) << noModel.err.constData();
    EXPECT_TRUE(noModel.out.startsWith("[NoModel]\nModelName=\nType=1\n"))
        << noModel.out.constData();

    // Wrong usage: AdminRefusalTest.
    EXPECT_EQ(admin({"datalink", "list", "--server", "nowhere", "--database", "d", "--model", "M"})
                  .exitCode,
              1);
    if (GetParam() == Backend::PostgreSQL) {
        auto refused =
            admin(QStringList{"datalink", "list", "--server", "wh", "--database", wh->database,
                              "--model", "M", "--user", login.at(1), "--password", "wrong"});
        EXPECT_EQ(refused.exitCode, 1);
        EXPECT_TRUE(err(refused).startsWith("pendrill-admin: Error while connecting to : wh\n"))
            << refused.err.constData();
    }
}

PENDRILL_ON_EMBEDDED_AND_POSTGRES(AdminDatalink);

TEST(AdminPackageList, ModelsAndPackagesOfTheStore) {
    testsupport::IsolatedHome home;
    ASSERT_EQ(admin({"server", "add", "dts", "sqlite:" + home.file("dts")}).exitCode, 0);
    EXPECT_EQ(admin({"package", "list", "--server", "dts"}).exitCode, 1) << "no store table";
    // (An empty store lists nothing: AdminPackageRun.)
    for (const char* name : {"Sales_Init", "sales_LoadDW", "Sales_LoadDW_base", "Misc"}) {
        testsupport::writeAll(home.file("p.xml"),
                              QString(R"(<Package name="%1"><Steps><Step name="A"><RunProgram )"
                                      R"(program="true"/></Step></Steps></Package>)")
                                  .arg(name)
                                  .toUtf8());
        ASSERT_EQ(admin({"package", "import", home.file("p.xml"), "--server", "dts"}).exitCode, 0);
    }
    auto models = admin({"package", "list", "--server", "dts", "--models"});
    EXPECT_EQ(models.out.split('\n').size(), 2) << models.out.constData();
    EXPECT_EQ(admin({"package", "list", "--server", "dts", "--model", "Sales"}).out,
              "Sales_Init\n");
}

}  // namespace
