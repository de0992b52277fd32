#include <gtest/gtest.h>

#include "config/PasswordScrambler.h"
#include "config/SettingsStore.h"
#include "datasources/ChoiceList.h"
#include "datasources/DataLinkCatalogue.h"
#include "datasources/DataLinks.h"
#include "datasources/DataSourceSections.h"
#include "datasources/DatabaseLists.h"
#include "datasources/WarehouseConnection.h"
#include "datasources/WarehouseSession.h"
#include "db/ServerResolver.h"
#include "support/DataLinkWarehouse.h"
#include "support/TestPostgres.h"

namespace {

const QVariant kNull = QVariant(QMetaType::fromType<QString>());

class DataLinkCatalogue : public WarehouseTest {
  protected:
    bool connect() {
        return session.Connect(wh->server, wh->trusted, wh->user, wh->password, wh->database, 20,
                               &connectError);
    }
    QVariantMap row(const QString& model, const QString& name, const QVariant& type) {
        return {{"model", model}, {"source_name", name}, {"Type", type}};
    }
    WarehouseSession session;
    QString connectError;
};

// The conversions of each column are tested with the admin tool's listing, which loads the same
// way (tools/AdminDataTest); here: what the list shows, the rows left out, and the sections of a
// run's configuration file over the catalogue.
TEST_P(DataLinkCatalogue, LoadListsTheModelsRowsAndSectionsOverrideThem) {
    const QString quoted = "O'Brien's \"feed\"; DROP TABLE dwm_data_link; --";
    QVariantMap full = row("Sales", quoted, 3);
    full.insert({{"ds_connect_string", "Provider=Abc;X=1"},
                 {"ftp_password", Rot13("Ftp'Pw")},
                 {"remote_directory", "out"}});
    QVariantMap orders = row("Sales", "Orders", 1);
    orders.insert({{"ds_server", "fromcatalogue"}, {"ds_password", Rot13("old")}});
    for (const QVariantMap& r :
         {full, orders, row("sales", "LowerModel", 1), row("Sales", "NoType", kNull),
          row("Other", "Elsewhere", 1), row("", "Unmodelled", 9)})
        ASSERT_TRUE(wh->InsertRow(r));
    if (GetParam() == Backend::Embedded) {
        ASSERT_TRUE(wh->InsertRow(row("Sales", "TextType", "abc")));
    }

    ASSERT_TRUE(connect());
    StringChoiceList list({"stale"});
    QString error;
    QStringList skipped;
    ASSERT_TRUE(LoadDataLinkList(session, "Sales_Overall", list, &skipped, &error))
        << error.toStdString();
    QStringList listed = list.Items();
    listed.sort();
    EXPECT_EQ(listed, QStringList({quoted, "Orders"}));
    const DataLink* f = session.Find(quoted);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(QStringList({f->connectString, f->ftpPassword, f->remoteDirectory}),
              QStringList({"Provider=Abc;X=1", "Ftp'Pw", "out"}));
    const QString notes = skipped.join('|');
    EXPECT_TRUE(notes.contains("Data link 'NoType' of model 'Sales' skipped: its Type is NULL."))
        << notes.toStdString();
    EXPECT_EQ(notes.contains("'TextType'"), GetParam() == Backend::Embedded) << notes.toStdString();

    // A package without a step suffix lists the rows whose model is empty.
    ASSERT_TRUE(LoadDataLinkList(session, "NoSuffix", list));
    EXPECT_EQ(list.Items(), QStringList({"Unmodelled"}));

    // Sections of the configuration file override the catalogue and are saved back to it.
    const QString file = home.file("run.etl");
    ASSERT_TRUE(testsupport::writeAll(
        file, ("[Data Source::Orders]\r\nName=Orders\r\nModelName=Sales\r\nType=1\r\n"
               "Server=fromfile\r\nPassword=" +
               EncryptPassword("new'pw") + "\r\n[Data Source::Ghost]\r\nName=Ghost\r\n")
                  .toUtf8()));
    ASSERT_TRUE(LoadDataLinkList(session, "Sales_Upload", list));
    ReadDataSourceSections(file, *session.Links());
    ASSERT_TRUE(session.SaveAll());
    DbConnection& dw = *session.Connection();
    DataLink saved;
    ASSERT_TRUE(saved.Load(dw, "Sales", "Orders"));
    EXPECT_EQ(saved.server + "|" + saved.password, "fromfile|new'pw");
    ASSERT_TRUE(saved.Load(dw, "Sales", quoted));
    EXPECT_EQ(saved.server, "");
}

TEST_P(DataLinkCatalogue, SaveNormalisesBindsNamesAndReadsBack) {
    const QString injected = "x' OR '1'='1";
    QVariantMap victim = row("Victim", "y", 1);
    victim.insert("ds_server", "untouched");
    for (const QVariantMap& r : {row("Sales", "Flat'Ftp", 3), row("Sales", "Share", 3),
                                 row("Sales", "Eight", 8), row(injected, "y", 1), victim})
        ASSERT_TRUE(wh->InsertRow(r));
    ASSERT_TRUE(connect());

    DbConnection& dw = *session.Connection();
    auto c = std::make_unique<DataLinks>();
    QString error;
    ASSERT_TRUE(c->Load(dw, "Sales", nullptr, &error)) << error.toStdString();
    ASSERT_TRUE(c->Load(dw, injected, nullptr, &error)) << error.toStdString();
    ASSERT_EQ(c->Count(), 4);
    DataLink& ftp = *c->FindByName("Flat'Ftp");
    std::tie(ftp.transferData, ftp.remoteDirectory, ftp.password, ftp.ftpPassword,
             ftp.pollInterval) = std::tuple(1, "in", "Pa'ss;--", "Zz9'", -3);
    DataLink& share = *c->FindByName("Share");
    std::tie(share.transferData, share.directory, share.remoteDirectory) =
        std::tuple(2, "/data/in", "\\\\host\\share\\");
    DataLink& eight = *c->FindByName("Eight");
    std::tie(eight.transferData, eight.directory, eight.remoteDirectory) = std::tuple(1, "d", "r");
    c->FindByName("y")->server = "changed";
    session.SetLinks(std::move(c));
    ASSERT_TRUE(session.SaveAll(&error)) << error.toStdString();

    EXPECT_EQ(QStringList({ftp.directory, ftp.remoteDirectory, share.directory,
                           share.remoteDirectory, eight.directory, eight.remoteDirectory}),
              QStringList({"/", "in/", "/data/in/", "\\\\host\\share\\", "d", "r"}));

    std::unique_ptr<DbConnection> raw = wh->Open();
    DbRecordset rs;
    ASSERT_TRUE(
        rs.Open("SELECT ds_password, ftp_password, ds_server FROM dwm_data_link "
                "WHERE source_name = ?",
                *raw, {"Flat'Ftp"}));
    EXPECT_EQ(rs.Field(0).toString() + "|" + rs.Field(1).toString(), "Cn'ff;--|Mm9'");
    EXPECT_FALSE(rs.Field(2).isNull()) << "an empty field is saved as an empty text";
    ASSERT_TRUE(rs.Open("SELECT ds_server FROM dwm_data_link WHERE model = ?", *raw, {"Victim"}));
    EXPECT_EQ(rs.Field(0).toString(), "untouched");

    // What was saved reads back as it was saved.
    DataLink again;
    ASSERT_TRUE(again.Load(dw, "Sales", "Flat'Ftp", &error)) << error.toStdString();
    EXPECT_EQ(again.password + "|" + again.remoteDirectory, "Pa'ss;--|in/");
    EXPECT_EQ(again.pollInterval, -3);
    ASSERT_TRUE(again.Load(dw, injected, "y", &error)) << error.toStdString();
    EXPECT_EQ(again.server, "changed");

    // A record without a row: the first column fails, the directories stay normalised.
    DataLink missing;
    std::tie(missing.modelName, missing.name, missing.etlType) = std::tuple("Sales", "Gone", 3);
    EXPECT_FALSE(missing.Save(dw, &error));
    EXPECT_EQ(error, DbRecordset::NoCurrentRecordError);
    EXPECT_EQ(missing.directory, "/");
}

// What a database error says reaches a person and a CR LF run log: one line, the server's own
// words, none of the driver's generic sentences.
void ExpectReadable(const QString& text, const char* what) {
    EXPECT_FALSE(text.isEmpty()) << what;
    for (const char* noise : {"\n", "\r", "Unable to", "QPSQL", "QODBC", "LINE 1", "ERROR:", "(42",
                              "login", "Error while executing the query"})
        EXPECT_FALSE(text.contains(QLatin1String(noise))) << what << ": " << text.toStdString();
}

// The box texts of these failures are tested with the form (app/FormModelTest).
TEST_P(DataLinkCatalogue, ConnectionAndStatementErrorsAndServerBrowsing) {
    const bool embedded = GetParam() == Backend::Embedded;
    const QString prefix = "Error while connecting to : wh\r\n";
    QString error;
    EXPECT_FALSE(session.Connect("nowhere", true, "", "", wh->database, 20, &error));
    EXPECT_TRUE(
        error.startsWith("Error while connecting to : nowhere\r\nServer 'nowhere' not found"))
        << error.toStdString();
    // A database the server does not have, and (on PostgreSQL) a wrong password: the
    // connection's prefix line, then one line per error.
    auto refused = [&](bool trusted, const QString& password, const QString& database,
                       const char* says) {
        EXPECT_FALSE(
            session.Connect(wh->server, trusted, wh->user, password, database, 20, &error));
        EXPECT_TRUE(error.startsWith(prefix) && error.contains(says)) << error.toStdString();
        ExpectReadable(error.mid(prefix.size()), says);
    };
    wh->UseDatabase("no_such_db");
    refused(wh->trusted, wh->password, "no_such_db", embedded ? "no such database" : "no_such_db");
    wh->UseDatabase(wh->database);
    if (!embedded)
        refused(false, "wrong", wh->database, "password authentication failed");
    ASSERT_TRUE(connect()) << connectError.toStdString();
    DbConnection* first = session.Connection();
    EXPECT_TRUE(TableExists(*first, "DWM_DATA_LINK"));
    EXPECT_FALSE(TableExists(*first, "dwm_data_links"));
    // A second call reuses the connection: the first is closed before the second opens.
    EXPECT_FALSE(session.Connect("nowhere", true, "", "", wh->database, 20, &error));
    EXPECT_EQ(session.Connection(), first);
    EXPECT_EQ(first->State(), 0);

    std::unique_ptr<DbConnection> c = wh->Open();
    ASSERT_TRUE(c->Execute("CREATE TABLE once (a INTEGER PRIMARY KEY)"));
    ASSERT_TRUE(c->Execute("INSERT INTO once VALUES (1)"));
    const struct {
        const char* sql;
        const char* says;
    } cases[] = {
        {"SELECT * FROM no_such_table", "no_such_table"},
        {"SELEC 1", "syntax error"},
        {"INSERT INTO once VALUES (1)", embedded ? "UNIQUE constraint failed" : "already exists"},
    };
    for (const auto& k : cases) {
        EXPECT_FALSE(c->Execute(k.sql)) << k.sql;
        EXPECT_EQ(c->Errors().size(), 1) << k.sql;
        ExpectReadable(c->ErrorText(), k.sql);
        EXPECT_TRUE(c->ErrorText().contains(k.says)) << c->ErrorText().toStdString();
        DbRecordset rs;
        EXPECT_FALSE(rs.Open(k.sql, *c, {}));
        EXPECT_EQ(rs.LastError(), c->ErrorText()) << k.sql;
    }

    // Database list: a blank database is not used, the typed name is found in any letter case.
    ASSERT_TRUE(OpenDataSourceConnection(1, wh->server, wh->trusted, wh->user, wh->password, c,
                                         "   ", 20, &error))
        << error.toStdString();
    StringChoiceList databases;
    databases.SetText(wh->database.toUpper());
    ASSERT_TRUE(FillSQLDatabaseList(*c, databases));
    EXPECT_GE(databases.CurrentIndex(), 0);
    databases.SetText("no_such_database");
    ASSERT_TRUE(FillSQLDatabaseList(*c, databases));
    EXPECT_EQ(databases.CurrentIndex(), -1);
    EXPECT_EQ(databases.Text(), "");
    ASSERT_TRUE(
        OpenDataSourceConnection(7, wh->server, false, wh->user, wh->password, c, "", 20, &error));
    StringChoiceList schemas;
    ASSERT_TRUE(FillOracleSchemaList(*c, schemas));
    EXPECT_TRUE(schemas.Items().contains(embedded ? "main" : "public"));

    // File providers and codes without a provider fail cleanly, with the connection released.
    for (int type : {4, 3}) {
        error = "before";
        EXPECT_FALSE(
            OpenDataSourceConnection(type, "/data/x.mdb", false, "", "", c, "", 20, &error));
        EXPECT_EQ(c, nullptr);
        EXPECT_TRUE(error.startsWith("before\r\n") && error.size() > 8) << type;
    }
}

// Values put into an ODBC connection text cannot end their attribute and add others: a
// database or user name holding ";Database=..." or ";Port=..." is one (unknown) name.
TEST(OdbcConnectionText, ValuesCannotRewriteTheConnection) {
    testsupport::TestPostgres* pg = nullptr;
    PENDRILL_SHARED_POSTGRES(pg);
    testsupport::IsolatedHome home;
    QString error;
    for (const char* db : {"odbc_dwa", "odbc_dwh"})
        ASSERT_TRUE(pg->createDatabase(db, &error)) << error.toStdString();
    ASSERT_TRUE(pg->execute("odbc_dwh", "CREATE TABLE secret (x INTEGER)", &error));
    ASSERT_TRUE(WriteRegistryValue(QString::fromLatin1(ServerAliasKey), "odbcpg",
                                   QStringLiteral("odbc:Driver={%1};Server=%2;Port=%3;")
                                       .arg(pg->odbcDriverName(), pg->host())
                                       .arg(pg->port())));
    const QString su = pg->superuser();
    const struct {
        QString database, user;
        bool opens;
    } cases[] = {
        {"odbc_dwa", su, true},
        {"odbc_dwa;Database=odbc_dwh", su, false},
        {"odbc_dwa;Port=1", su, false},
        {"odbc_dwa}", su, false},
        {"odbc_dwa", su + ";Database=odbc_dwh", false},
    };
    for (const auto& k : cases) {
        const std::string label = (k.database + " / " + k.user).toStdString();
        DbConnection c;
        c.Provider = "sqloledb";
        c.SetProperty("Data Source", "odbcpg");
        c.SetProperty("Initial Catalog", k.database);
        c.SetProperty("User ID", k.user);
        c.SetProperty("Password", pg->password());
        EXPECT_EQ(c.Open(), k.opens) << label << ": " << c.ErrorText().toStdString();
        EXPECT_FALSE(c.ErrorText().contains("port 1 failed")) << label;
        if (c.State() == 1) {
            DbRecordset rs;
            ASSERT_TRUE(rs.Open("SELECT current_database()", c)) << label;
            EXPECT_EQ(rs.Field(0).toString(), "odbc_dwa") << label;
        }
    }
}

PENDRILL_ON_ALL_SERVERS(DataLinkCatalogue);

}  // namespace
