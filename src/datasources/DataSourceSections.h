#pragma once

#include <QString>

class DataLinks;

// The "Data Source::<name>" sections of a configuration file, one per data link of a collection
// (the loaded data links of a WarehouseSession).

// Writes the sections of every data link of `sources` into the file.
void WriteDataSourceSections(const QString& file, const DataLinks& sources);
// Applies the file's sections to the data links of `sources` of the same name (a section applies
// only to the data link of its name, model and type).
void ReadDataSourceSections(const QString& file, DataLinks& sources);
