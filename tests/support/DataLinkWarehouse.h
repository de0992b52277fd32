#pragma once

#include "support/Warehouse.h"

// A warehouse holding the data-link table dwm_data_link (empty).
std::unique_ptr<Warehouse> CreateDataLinkWarehouse(Backend backend, testsupport::IsolatedHome& home,
                                                   QString* skip, QString* error);

// A test run once per kind of server, with its warehouse and data-link table ready in `wh`.
class WarehouseTest : public ::testing::TestWithParam<Backend> {
  protected:
    void SetUp() override {
        QString skip, error;
        wh = CreateDataLinkWarehouse(GetParam(), home, &skip, &error);
        if (!wh && !skip.isEmpty())
            GTEST_SKIP() << skip.toStdString();
        ASSERT_TRUE(wh) << error.toStdString();
    }
    testsupport::IsolatedHome home;
    std::unique_ptr<Warehouse> wh;
};
