#include <gtest/gtest.h>

#include <QDir>
#include <QSqlError>

#include "config/SettingsStore.h"
#include "db/DbInterface.h"
#include "db/ServerResolver.h"
#include "db/SqlDialect.h"
#include "support/TestSupport.h"

namespace {

void openLocal(DbConnection& c, const QString& database) {
    c.Provider = "sqloledb";
    c.ConnectionTimeout = 20;
    c.SetProperty("Data Source", "(local)");
    c.SetProperty("Initial Catalog", database);
    c.SetProperty("Integrated Security", "SSPI");
}

}  // namespace

TEST(ServerResolver, AliasesLocalNamesAndUnknownServers) {
    testsupport::IsolatedHome home;
    // What a name resolves to, as "kind|host|port|user|directory|odbc".
    auto where = [](const QString& name) {
        const auto l = ResolveServer(name);
        return l ? QStringList({QString("EPO").at(int(l->kind)), l->host, QString::number(l->port),
                                l->user, l->directory, l->odbc})
                       .join('|')
                 : QString("none");
    };
    const struct {
        const char *name, *alias, *resolved;
    } aliases[] = {
        {"Warehouse", "postgresql://etl@db.internal:6543", "P|db.internal|6543|etl||"},
        {"Sock", "postgresql://%2Fvar%2Frun%2Fpostgresql:5433", "P|/var/run/postgresql|5433|||"},
        {"Files", "sqlite:/srv/pendrill/files", "E||5432||/srv/pendrill/files|"},
        {"Legacy", "odbc:Driver={FreeTDS};Server=mssql;Port=1433",
         "O||5432|||Driver={FreeTDS};Server=mssql;Port=1433"},
        {"localhost", "sqlite:/srv/other", "E||5432||/srv/other|"},  // an alias comes first
        {"Broken", "mysql://x", "none"},
    };
    for (const auto& a : aliases)
        ASSERT_TRUE(WriteRegistryValue(QString::fromLatin1(ServerAliasKey), a.name, a.alias));
    for (const auto& a : aliases)
        EXPECT_EQ(where(QString(a.name).toUpper()), a.resolved) << a.name;
    for (const char* local : {"(local)", "."})
        EXPECT_EQ(where(local), "E||5432||" + home.dataHome() + "/pendrill/servers/local|");
    QString error;
    EXPECT_FALSE(ResolveServer("SQLPROD01", &error));
    EXPECT_TRUE(error.contains("SQLPROD01")) << error.toStdString();
    EXPECT_TRUE(error.contains("not found"));
    EXPECT_FALSE(ResolveServer("Broken", &error));
    EXPECT_TRUE(error.contains("mysql://x"));
    EXPECT_FALSE(ResolveServer("", &error));
}

TEST(DbConnection, PropertiesAndConnectionString) {
    DbConnection c;
    c.Provider = "SQLOLEDB.1";
    c.SetProperty("Data Source", "srv");
    c.SetProperty("initial catalog", "DW");
    c.SetProperty("Initial Catalog", "Sales");
    c.SetProperty("Persist Security Info", false);
    c.SetProperty("Password", "a;b\"c");
    EXPECT_EQ(c.Property("INITIAL CATALOG").toString(), "Sales");
    const QString text = c.ConnectionString();
    EXPECT_EQ(text,
              "Provider=SQLOLEDB.1;Data Source=srv;initial catalog=Sales;"
              "Persist Security Info=False;Password=\"a;b\"\"c\"");
    DbConnection d;
    d.SetConnectionString(text);
    EXPECT_EQ(d.Provider, "SQLOLEDB.1");
    EXPECT_EQ(d.Property("Password").toString(), "a;b\"c");
    EXPECT_EQ(d.ConnectionString(), text);
}

TEST(DbConnection, ProvidersAndServersThatCannotBeReached) {
    testsupport::IsolatedHome home;
    const QString dir = LocalServerDirectory();
    QDir().mkpath(dir);
    testsupport::writeAll(dir + "/junk.db", QByteArray(8192, 'j'));
    const struct {
        const char *provider, *source, *catalog;
        QString error;  // a part of the error text
    } cases[] = {
        {"Microsoft.Jet.OLEDB.4.0", "/data/sales.mdb", "", "Microsoft.Jet.OLEDB.4.0"},
        {"", "(local)", "", ""},
        {"sqloledb", "nowhere", "", "nowhere"},
        {"sqloledb", "(local)", "NoSuchDb",
         "Cannot open database \"NoSuchDb\": server (local) has no such database (no file "
         "NoSuchDb.db in " +
             dir + ")."},
        {"sqloledb", "(local)", "../escape", ""},
        {"sqloledb", "(local)", "junk",
         "Cannot open database \"junk\" (" + dir + "/junk.db): file is not a database"},
    };
    for (const auto& k : cases) {
        DbConnection c;
        c.Provider = k.provider;
        c.SetProperty("Data Source", k.source);
        c.SetProperty("Initial Catalog", k.catalog);
        EXPECT_FALSE(c.Open()) << k.catalog;
        EXPECT_EQ(c.State(), 0);
        EXPECT_FALSE(c.Errors().isEmpty()) << k.catalog;
        EXPECT_TRUE(c.ErrorText().contains(k.error)) << c.ErrorText().toStdString();
    }
}

// Messages as the drivers give them (QSqlError's database and driver texts), and what a person
// reads of them.
TEST(DbErrorMessage, KeepsTheServersWordsOnOneLine) {
    const struct {
        const char *database, *driver, *expected;
    } cases[] = {
        {"ERROR:  relation \"missing\" does not exist\nLINE 1: SELECT * FROM missing\n"
         "                      ^\n(42P01)",
         "QPSQL: Unable to create query", "relation \"missing\" does not exist"},
        {"ERROR:  duplicate key value violates unique constraint \"t_pkey\"\nDETAIL:  Key "
         "(a)=(1) already exists.\n(23505)",
         "QPSQL: Unable to create query",
         "duplicate key value violates unique constraint \"t_pkey\"; Key (a)=(1) already "
         "exists."},
        {"connection to server at \"127.0.0.1\", port 5432 failed: FATAL:  password "
         "authentication failed for user \"etl\"\n",
         "QPSQL: Unable to connect",
         "connection to server at \"127.0.0.1\", port 5432 failed: password authentication "
         "failed for user \"etl\""},
        {"connection to server at \"127.0.0.1\", port 1 failed: Connection refused\n\tIs the "
         "server running on that host and accepting TCP/IP connections?\n",
         "QPSQL: Unable to connect",
         "connection to server at \"127.0.0.1\", port 1 failed: Connection refused; Is the "
         "server running on that host and accepting TCP/IP connections?"},
        {"ERROR: relation \"missing\" does not exist;\nError while executing the query ",
         "QODBC: Unable to execute statement", "relation \"missing\" does not exist"},
        {"[unixODBC][Driver Manager]Can't open lib 'Nope' : file not found",
         "QODBC: Unable to connect", "Can't open lib 'Nope' : file not found"},
        {"no such table: missing", "Unable to execute statement", "no such table: missing"},
        {"UNIQUE constraint failed: t.a", "Unable to fetch row", "UNIQUE constraint failed: t.a"},
        {"", "Parameter count mismatch", "Parameter count mismatch"},
        {"", "QPSQL: Unable to create query", "fallback"},
        {"", "", "fallback"},
    };
    for (const auto& k : cases)
        EXPECT_EQ(DbErrorMessage(QSqlError(k.driver, k.database), "fallback"), k.expected)
            << k.database << " | " << k.driver;
}

TEST(OdbcQuotedValue, BracesWhatCouldEndTheAttribute) {
    const struct {
        const char *value, *quoted;
    } cases[] = {
        {"dwh", "dwh"},
        {"Sales DW", "Sales DW"},
        {"a=b", "a=b"},
        {"dwa;Database=dwh", "{dwa;Database=dwh}"},
        {"pa}ss;x", "{pa}}ss;x}"},
        {"{x}", "{{x}}}"},
        {" lead", "{ lead}"},
        {"trail ", "{trail }"},
    };
    for (const auto& k : cases)
        EXPECT_EQ(OdbcQuotedValue(k.value), k.quoted) << k.value;
}

TEST(DbConnection, EmbeddedDatabasesRecordsetsAndUpdate) {
    testsupport::IsolatedHome home;
    DbConnection c;
    openLocal(c, "DW");
    c.CreateMissingDatabase = true;
    ASSERT_TRUE(c.Open()) << c.ErrorText().toStdString();
    EXPECT_EQ(c.State(), 1);
    ASSERT_TRUE(
        c.Execute("CREATE TABLE dwm_data_link (model TEXT, source_name TEXT, Type INTEGER,"
                  " ds_password TEXT, poll_interval INTEGER)"));
    ASSERT_TRUE(c.Execute("INSERT INTO dwm_data_link VALUES (?,?,?,?,?)",
                          {"Sales", "O'Hara's \"files\"", 3, QVariant(), 40000}));
    ASSERT_TRUE(c.Execute("INSERT INTO dwm_data_link VALUES ('Sales','Other',1,'x',5)"));
    int affected = -1;
    ASSERT_TRUE(
        c.Execute("UPDATE dwm_data_link SET Type = Type WHERE model = ?", {"Sales"}, &affected));
    EXPECT_EQ(affected, 2);
    EXPECT_FALSE(c.Execute("SELECT * FROM missing_table"));
    EXPECT_FALSE(c.Errors().isEmpty());

    DbRecordset rs;
    ASSERT_TRUE(rs.Open("SELECT * FROM dwm_data_link WHERE model = ? AND source_name = ?", c,
                        {"Sales", "O'Hara's \"files\""}));
    ASSERT_FALSE(rs.IsEOF());
    EXPECT_TRUE(rs.Field("DS_PASSWORD").isNull()) << "NULL stays visible";
    EXPECT_TRUE(rs.Field("DS_PASSWORD").isValid());
    EXPECT_FALSE(rs.Field("no_such_column").isValid());
    EXPECT_EQ(rs.Field(4).toInt(), 40000);
    ASSERT_TRUE(rs.SetField("ds_password", "Frperg"));
    ASSERT_TRUE(rs.Update()) << rs.LastError().toStdString();
    rs.MoveNext();
    EXPECT_TRUE(rs.IsEOF());
    EXPECT_FALSE(rs.SetField("ds_password", "x"));
    EXPECT_EQ(rs.LastError(), DbRecordset::NoCurrentRecordError);
    rs.Close();

    ASSERT_TRUE(rs.Open("SELECT ds_password FROM dwm_data_link ORDER BY source_name", c));
    EXPECT_EQ(rs.RecordCount(), 2);
    EXPECT_EQ(rs.Field(0).toString(), "Frperg");
    rs.MoveNext();
    EXPECT_EQ(rs.Field(0).toString(), "x") << "the other row is untouched";

    auto cols = c.OpenSchema(4, {QVariant(), QVariant(), "DWM_DATA_LINK"});
    ASSERT_TRUE(cols);
    EXPECT_EQ(cols->RecordCount(), 5);
    EXPECT_EQ(cols->Field("COLUMN_NAME").toString(), "model");
    auto none = c.OpenSchema(4, {QVariant(), QVariant(), "nothing_here"});
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->IsEOF());

    DbConnection other;
    openLocal(other, "dw");  // database names in any letter case
    ASSERT_TRUE(other.Open()) << other.ErrorText().toStdString();
    DbConnection msdb;
    openLocal(msdb, "msdb");
    ASSERT_TRUE(msdb.Open()) << "the package store is created on demand";
    QStringList names;
    ASSERT_TRUE(msdb.ListDatabases(names));
    EXPECT_EQ(names, QStringList({"DW", "msdb"}));
}
