#include <gtest/gtest.h>

#include "datasources/ChoiceList.h"
#include "datasources/DataLinkCatalogue.h"
#include "datasources/DataLinks.h"
#include "datasources/WarehouseSession.h"
#include "db/DbConnection.h"
#include "engine/DataLinkResolver.h"
#include "engine/tasks/TaskConnections.h"
#include "support/DataLinkWarehouse.h"
#include "util/RunLog.h"

namespace {

using CaseBlindCatalogue = WarehouseTest;

// Catalogues whose columns compare without regard to case, as SQL Server's default collation
// does: on the embedded server through COLLATE NOCASE, on PostgreSQL through citext and through a
// nondeterministic collation. The server returns the rows of "SALES" and "sales" for "Sales";
// they are loaded, but only exact matches are listed, saved to and resolved.
TEST_P(CaseBlindCatalogue, LoaderAndResolverUseExactNamesOnly) {
    QString modelType = "TEXT COLLATE NOCASE", nameType = modelType;
    if (GetParam() != Backend::Embedded) {
        ASSERT_TRUE(wh->Exec("CREATE EXTENSION IF NOT EXISTS citext"));
        ASSERT_TRUE(
            wh->Exec("CREATE COLLATION blind (provider = icu, locale = 'und-u-ks-level2', "
                     "deterministic = false)"));
        modelType = "citext";
        nameType = "TEXT COLLATE blind";
    }
    ASSERT_TRUE(wh->Exec("DROP TABLE dwm_data_link"));
    QStringList columns;
    for (const char* column : DataLinkColumns)
        columns << QString::fromLatin1(column) + " TEXT";
    columns[0] = "model " + modelType;
    columns[1] = "source_name " + nameType;
    for (int i : {2, 11, 16, 17})  // Type, transfer_data, poll_interval, poll_duration
        columns[i].replace("TEXT", "INTEGER");
    columns[5].replace("TEXT", "BOOLEAN");  // ds_trusted_login
    ASSERT_TRUE(wh->Exec("CREATE TABLE dwm_data_link (" + columns.join(", ") + ")"));
    // The rows differ only in the letter case of their names, so that nothing else can tell
    // them apart when one of them is written.
    const std::vector<std::pair<QString, QString>> rows = {{"Sales", "Mixed"}, {"SALES", "Mixed"},
                                                           {"sales", "Mixed"}, {"Sales", "dup"},
                                                           {"Sales", "DUP"},   {"Other", "Mixed"}};
    for (const auto& [model, name] : rows)
        ASSERT_TRUE(wh->InsertRow({{"model", model}, {"source_name", name}, {"Type", 1}}));
    WarehouseSession session;
    QString error;
    ASSERT_TRUE(
        session.Connect(wh->server, wh->trusted, wh->user, wh->password, wh->database, 20, &error))
        << error.toStdString();

    StringChoiceList list;
    ASSERT_TRUE(LoadDataLinkList(session, "Sales_LoadDW", list));
    EXPECT_EQ(session.Links()->Count(), 5) << "the server's matches are all loaded";
    QStringList listed = list.Items();
    listed.sort();
    EXPECT_EQ(listed, QStringList({"DUP", "Mixed", "dup"}));

    // Each record goes back to its own row, and to no other.
    for (DataLink& ds : session.Links()->All())
        ds.server = "saved " + ds.modelName + "/" + ds.name;
    ASSERT_TRUE(session.SaveAll(&error)) << error.toStdString();
    std::unique_ptr<DbConnection> c = wh->Open();
    DbRecordset rs;
    ASSERT_TRUE(rs.Open("SELECT model, source_name, ds_server FROM dwm_data_link", *c));
    QMap<QString, QString> saved;  // model/name -> ds_server
    for (; !rs.IsEOF(); rs.MoveNext())
        saved.insert(rs.Field(0).toString() + "/" + rs.Field(1).toString(), rs.Field(2).toString());
    for (const auto& [model, name] : rows) {
        const QString key = model + "/" + name;
        EXPECT_EQ(saved.value(key), model == "Other" ? "" : "saved " + key) << key.toStdString();
    }

    DataLink one;
    ASSERT_TRUE(one.Load(*session.Connection(), "sales", "Mixed", &error)) << error.toStdString();
    EXPECT_EQ(one.modelName + "|" + one.server, "sales|saved sales/Mixed");
    EXPECT_FALSE(one.Load(*session.Connection(), "SaLeS", "Mixed"));

    // A package's data link is the row of its own model, whatever order the server returns.
    ASSERT_TRUE(wh->Exec("UPDATE dwm_data_link SET ds_database = 'db'"));
    for (const char* package : {"Sales_LoadDW", "SALES_LoadDW", "sales_LoadDW"}) {
        ResolvedConnection resolved;
        PackageServices::Warehouse where{package,  wh->server,   wh->database,
                                         wh->user, wh->password, wh->trusted};
        ASSERT_TRUE(ResolveDataLinkFromWarehouse("Mixed", where, RunLog(), &resolved, &error))
            << error.toStdString();
        EXPECT_EQ(resolved.server, "saved " + GetEtlModelName(package) + "/Mixed");
    }
}

PENDRILL_ON_ALL_SERVERS(CaseBlindCatalogue);

}  // namespace
