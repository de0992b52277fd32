#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <memory>
#include <ranges>
#include <vector>

#include "datasources/DataLink.h"

class DbConnection;
class DbRecordset;

// The data sources of an ETL model, in the order they were added.
class DataLinks {
  public:
    DataLinks() = default;
    DataLinks(const DataLinks&) = delete;
    DataLinks& operator=(const DataLinks&) = delete;

    // Appends a record with these fields (remoteDataHandled false), under `key` when that is
    // not empty, and returns it. A key already in use is an error: nothing is added and nullptr
    // returned.
    DataLink* Add(const QString& modelName, const QString& name, qint32 etlType,
                  const QString& server, const QString& database, bool trustedLogin,
                  const QString& user, const QString& password, const QString& file,
                  const QString& directory, const QString& connectString, qint32 transferData,
                  const QString& ftpServer, const QString& ftpUser, const QString& ftpPassword,
                  const QString& remoteDirectory, short pollDuration, short pollInterval,
                  const QString& key = QString());

    // Appends one record per row of the model in dwm_data_link (over the data-warehouse
    // connection), in the order the server returns them, without emptying the collection first.
    // Rows whose model matches only in the server's way of comparing are taken too. A row whose
    // Type is NULL or not a number is left out and named in `skipped` ("Data link 'NAME' of
    // model 'MODEL' skipped: WHY.", the caller logs it). False with `error` set when the query
    // fails or the table lacks a column; the rows read until then stay.
    bool Load(DbConnection& connection, const QString& modelName, QStringList* skipped = nullptr,
              QString* error = nullptr);

    // The record at a 1-based position, or under a key; nullptr when there is none.
    DataLink* Item(int index) const;
    DataLink* Item(const QString& key) const;
    int Count() const { return static_cast<int>(items_.size()); }
    void Clear();
    // The first record whose name equals `name` exactly (letter case counts), or nullptr.
    DataLink* FindByName(const QString& name) const;

    // The records in order, for range-for: `for (DataLink& link : links.All())`.
    auto All() const {
        return items_ |
               std::views::transform(
                   [](const std::unique_ptr<DataLink>& item) -> DataLink& { return *item; });
    }

  private:
    std::vector<std::unique_ptr<DataLink>> items_;
    QHash<QString, DataLink*> keys_;
};

// Reads the current row of a dwm_data_link record set into `ds` with the catalogue's conversions.
// False (the record untouched) when the row's Type is NULL or not a number.
bool ReadDataLinkRow(const DbRecordset& rs, DataLink& ds);

// The columns of dwm_data_link, in table order.
extern const char* const DataLinkColumns[18];
