#include "config/DataSourceSections.h"

// No data-source collection exists in this version, so there is never anything to write or
// apply; the data-source layer replaces these bodies.
void WriteDataSourceSections(const QString&) {}
void ReadDataSourceSections(const QString&) {}
