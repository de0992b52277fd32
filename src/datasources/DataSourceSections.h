#pragma once

#include <QString>

// The "Data Source::<name>" sections of a configuration file, one per data source of the loaded
// data-source collection. Both do nothing while no collection is loaded.

// Writes the sections of every loaded data source into the file.
void WriteDataSourceSections(const QString& file);
// Applies the file's sections to the loaded data sources of the same name.
void ReadDataSourceSections(const QString& file);
