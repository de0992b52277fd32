#include <gtest/gtest.h>

#include <tuple>

#include "datasources/ChoiceList.h"
#include "datasources/DataLinkCatalogue.h"
#include "datasources/PackageCatalogue.h"
#include "db/PackageStoreSchema.h"
#include "support/DataLinkWarehouse.h"

namespace {

using PackageCatalogueTest = WarehouseTest;

// One test per server: each start of the shared PostgreSQL server costs seconds. The empty
// store and the command line's listing are tested with the admin tool (tools/AdminDataTest).
TEST_P(PackageCatalogueTest, MissingAndFilledStore) {
    wh->CreateDatabase("msdb");  // may exist already on the shared server
    wh->UseDatabase("msdb");
    std::unique_ptr<DbConnection> msdb = wh->Open("msdb");
    ASSERT_EQ(msdb->State(), 1) << msdb->ErrorText().toStdString();
    ASSERT_TRUE(msdb->Execute("DROP TABLE IF EXISTS sysdtspackages"));
    PackageCatalogue p;
    std::tie(p.server, p.trustedLogin, p.user, p.password) =
        std::tuple(wh->server, wh->trusted, wh->user, wh->password);
    EXPECT_FALSE(p.RetrievePackages());
    EXPECT_FALSE(p.LastError().isEmpty());

    ASSERT_TRUE(EnsurePackageStore(*msdb)) << msdb->ErrorText().toStdString();
    int version = 0;
    for (const char* name :
         {"Sales_Init", "Sales_LoadDW", "sales_Overall", "Sales_LoadDW_base", "Sales_LoadDW_Base",
          "Misc", "Fin_Upload", "O'Hara_Init", "Sales_Init"})
        ASSERT_TRUE(msdb->Execute(
            "INSERT INTO sysdtspackages (name, id, versionid, description, createdate, owner, "
            "packagedata) VALUES (?, ?, ?, '', ?, 'etl', '<package/>')",
            {name, QStringLiteral("{%1}").arg(name), QStringLiteral("{v%1}").arg(++version),
             QStringLiteral("2024-01-%1 10:00:00").arg(version, 2, 10, QChar('0'))}))
            << msdb->ErrorText().toStdString();
    ASSERT_TRUE(p.RetrievePackages()) << p.LastError().toStdString();
    EXPECT_EQ(p.Packages().size(), 8) << "one entry per name, whatever its versions";
    // One model for "Sales" and "sales"; packages without a model are never offered.
    StringChoiceList models({"stale"}), packages;
    p.FillComboBoxWithETLModels(models);
    EXPECT_EQ(models.Count(), 3) << models.Items().join(',').toStdString();
    EXPECT_TRUE(models.Items().contains("O'Hara"));
    p.FillComboBoxWithPackageFromETLModel(packages, "Sales");
    QStringList sorted = packages.Items();
    sorted.sort();
    EXPECT_EQ(sorted, QStringList({"Sales_Init", "Sales_LoadDW", "Sales_LoadDW_Base"}))
        << "_base is left out, _Base is not";
    p.FillComboBoxWithPackageFromETLModel(packages, "sales");
    EXPECT_EQ(packages.Items(), QStringList({"sales_Overall"}));
    p.FillComboBoxWithPackageFromETLModel(packages, "");
    EXPECT_EQ(packages.Count(), 0) << "packages without a model belong to no model";

    if (GetParam() != Backend::Embedded) {
        p.password = "wrong";
        EXPECT_FALSE(p.RetrievePackages());
        EXPECT_FALSE(p.LastError().isEmpty());
    }
}

PENDRILL_ON_ALL_SERVERS(PackageCatalogueTest);

}  // namespace
