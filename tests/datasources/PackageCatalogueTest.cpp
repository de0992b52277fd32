#include <gtest/gtest.h>

#include "Warehouse.h"
#include "datasources/ETLPackages.h"
#include "datasources/ListControl.h"
#include "datasources/modDataLinkInfo.h"
#include "platform/PackageStoreSchema.h"

namespace {

class PackageCatalogue : public ::testing::TestWithParam<Backend> {
  protected:
    void SetUp() override {
        QString skip, error;
        wh = Warehouse::Create(GetParam(), home, &skip, &error);
        if (!wh && !skip.isEmpty())
            GTEST_SKIP() << skip.toStdString();
        ASSERT_TRUE(wh) << error.toStdString();
        wh->CreateDatabase("msdb");  // may exist already on the shared server
        wh->UseDatabase("msdb");
        msdb = wh->Open("msdb");
        ASSERT_EQ(msdb->State(), 1) << msdb->ErrorText().toStdString();
        ASSERT_TRUE(msdb->Execute("DROP TABLE IF EXISTS sysdtspackages"));
    }
    ETLPackages catalogue() const {
        ETLPackages p;
        p.strSQLServer = wh->server;
        p.blnSQLTrustedLogin = wh->trusted;
        p.strSQLUser = wh->user;
        p.strSQLPassword = wh->password;
        return p;
    }
    void store(const QString& name, int version) {
        ASSERT_TRUE(msdb->Execute(
            "INSERT INTO sysdtspackages (name, id, versionid, description, createdate, owner, "
            "packagedata) VALUES (?, ?, ?, '', ?, 'etl', '<package/>')",
            {name, "{" + name + "}", QStringLiteral("{v%1}").arg(version),
             QStringLiteral("2024-01-0%1 10:00:00").arg(version)}))
            << msdb->ErrorText().toStdString();
    }

    testsupport::IsolatedHome home;
    std::unique_ptr<Warehouse> wh;
    std::unique_ptr<DbConnection> msdb;
};

TEST_P(PackageCatalogue, EmptyOrMissingStoreGivesFalseAndNothing) {
    ETLPackages missing = catalogue();
    EXPECT_FALSE(missing.RetrievePackages());
    EXPECT_FALSE(missing.LastError().isEmpty());
    ASSERT_TRUE(EnsurePackageStore(*msdb)) << msdb->ErrorText().toStdString();
    ETLPackages empty = catalogue();
    EXPECT_FALSE(empty.RetrievePackages());
    EXPECT_TRUE(empty.LastError().isEmpty()) << empty.LastError().toStdString();
    EXPECT_TRUE(empty.Packages().isEmpty());
    EXPECT_TRUE(empty.Models().isEmpty());
    StringListControl models({"stale"});
    empty.FillComboBoxWithETLModels(models);
    EXPECT_EQ(models.Count(), 0);
}

TEST_P(PackageCatalogue, ModelsOnceAndPackagesPerModel) {
    ASSERT_TRUE(EnsurePackageStore(*msdb)) << msdb->ErrorText().toStdString();
    for (const char* name : {"Sales_Init", "Sales_LoadDW", "sales_Overall", "Sales_LoadDW_base",
                             "Sales_LoadDW_Base", "Misc", "Fin_Upload", "O'Hara_Init"})
        store(name, 1);
    store("Sales_Init", 2);

    ETLPackages p = catalogue();
    ASSERT_TRUE(p.RetrievePackages()) << p.LastError().toStdString();
    QStringList sorted = p.Packages();
    sorted.sort();
    EXPECT_EQ(sorted,
              QStringList({"Fin_Upload", "Misc", "O'Hara_Init", "Sales_Init", "Sales_LoadDW",
                           "Sales_LoadDW_Base", "Sales_LoadDW_base", "sales_Overall"}));
    // One model for "Sales" and "sales", spelled as in the first of their packages read.
    QString salesModel;
    for (const QString& n : p.Packages())
        if (salesModel.isEmpty() && GetEtlModelName(n).compare("sales", Qt::CaseInsensitive) == 0)
            salesModel = GetEtlModelName(n);
    StringListControl models;
    p.FillComboBoxWithETLModels(models);
    QStringList modelNames = models.Items();
    ASSERT_EQ(modelNames.size(), 3) << modelNames.join(',').toStdString();
    EXPECT_TRUE(modelNames.contains(salesModel));
    EXPECT_TRUE(modelNames.contains("Fin"));
    EXPECT_TRUE(modelNames.contains("O'Hara"));
    EXPECT_TRUE(p.Models().contains("")) << "the model of Misc is kept, but never offered";

    StringListControl packages;
    p.FillComboBoxWithPackageFromETLModel(packages, "Sales");
    QStringList expected;
    for (const QString& n : p.Packages())
        if (n.startsWith("Sales_") && !n.endsWith("_base"))
            expected << n;
    EXPECT_EQ(packages.Items(), expected);
    EXPECT_TRUE(packages.Items().contains("Sales_LoadDW_Base"));
    p.FillComboBoxWithPackageFromETLModel(packages, "sales");
    EXPECT_EQ(packages.Items(), QStringList({"sales_Overall"}));
    p.FillComboBoxWithPackageFromETLModel(packages, "");
    EXPECT_EQ(packages.Count(), 0) << "packages without a model belong to no model";

    if (GetParam() != Backend::Embedded) {
        ETLPackages refused = catalogue();
        refused.strSQLPassword = "wrong";
        EXPECT_FALSE(refused.RetrievePackages());
        EXPECT_FALSE(refused.LastError().isEmpty());
        EXPECT_TRUE(refused.Packages().isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, PackageCatalogue,
                         ::testing::Values(Backend::Embedded, Backend::PostgreSQL, Backend::Odbc),
                         BackendName);

}  // namespace
