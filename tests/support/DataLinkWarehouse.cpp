#include "support/DataLinkWarehouse.h"

#include "datasources/DataLinkCatalogue.h"
#include "db/DbConnection.h"

std::unique_ptr<Warehouse> CreateDataLinkWarehouse(Backend backend, testsupport::IsolatedHome& home,
                                                   QString* skip, QString* error) {
    std::unique_ptr<Warehouse> w = Warehouse::Create(backend, home, skip, error);
    if (!w)
        return nullptr;
    std::unique_ptr<DbConnection> c = w->Open();
    if (c->State() != 1 || !CreateDataLinkTable(*c)) {
        *error = c->ErrorText();
        return nullptr;
    }
    return w;
}
