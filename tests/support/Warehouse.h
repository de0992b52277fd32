#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <QVariantMap>
#include <memory>

#include "db/DbInterface.h"
#include "support/TestSupport.h"

// The kinds of server the database tests run against.
enum class Backend { Embedded, PostgreSQL, Odbc };
std::string BackendName(const ::testing::TestParamInfo<Backend>& info);

// A parameterised suite run on the embedded server and on PostgreSQL.
#define PENDRILL_ON_EMBEDDED_AND_POSTGRES(suite) \
    INSTANTIATE_TEST_SUITE_P(                    \
        Servers, suite, ::testing::Values(Backend::Embedded, Backend::PostgreSQL), BackendName)

// A data-warehouse server for one test, reached through the server alias "wh" in the test's
// private settings store: an embedded server in the private home, or a fresh database on the
// shared PostgreSQL test server, directly or through its ODBC driver. The database is empty
// (support/DataLinkWarehouse.h adds the data-link table).
class Warehouse {
  public:
    // Skips the test (GTEST_SKIP in the caller) when `skip` is set afterwards.
    static std::unique_ptr<Warehouse> Create(Backend backend, testsupport::IsolatedHome& home,
                                             QString* skip, QString* error);

    Backend backend;
    QString server = QStringLiteral("wh");
    QString database;
    bool trusted = true;
    QString user, password;

    // A connection of its own to the warehouse database (or to another database of the server).
    std::unique_ptr<DbConnection> Open(const QString& otherDatabase = QString()) const;
    bool Exec(const QString& sql, const QVariantList& params = {}) const;
    bool InsertRow(const QVariantMap& columns) const;  // into dwm_data_link
    // Another database of the same server (for the package store: "msdb").
    bool CreateDatabase(const QString& name) const;
    // Points the alias at `otherDatabase` where the alias itself names the database (ODBC).
    void UseDatabase(const QString& otherDatabase);

  private:
    QString odbcBase_;
};

// Every row of a query as "a|b|c", NULL shown as "~".
QStringList QueryRows(DbConnection& c, const QString& sql);

// A test run once per kind of server, with its empty warehouse in `wh`.
class EmptyWarehouseTest : public ::testing::TestWithParam<Backend> {
  protected:
    void SetUp() override {
        QString skip, error;
        wh = Warehouse::Create(GetParam(), home, &skip, &error);
        if (!wh && !skip.isEmpty())
            GTEST_SKIP() << skip.toStdString();
        ASSERT_TRUE(wh) << error.toStdString();
    }
    testsupport::IsolatedHome home;
    std::unique_ptr<Warehouse> wh;
};

#define PENDRILL_ON_ALL_SERVERS(suite)                                                            \
    INSTANTIATE_TEST_SUITE_P(                                                                     \
        Servers, suite, ::testing::Values(Backend::Embedded, Backend::PostgreSQL, Backend::Odbc), \
        BackendName)
