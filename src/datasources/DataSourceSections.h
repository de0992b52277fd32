#pragma once

#include <QString>

class DataLinks;

// The "Data Source::<name>" sections of a configuration file, one per data source of the loaded
// data-source collection. The first two do nothing while no collection is loaded.

// Writes the sections of every loaded data source into the file.
void WriteDataSourceSections(const QString& file);
// Applies the file's sections to the loaded data sources of the same name.
void ReadDataSourceSections(const QString& file);
// Applies the file's sections to the data sources of `sources` of the same name (the same rules:
// a section applies only to the source of its name, model and type).
void ReadDataSourceSections(const QString& file, DataLinks& sources);
