#pragma once

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <algorithm>
#include <initializer_list>
#include <memory>

#include "db/BulkRowSink.h"

class DbConnection;
class SqlDialect;

// What the table sinks of every server kind share (src/db/<kind>/ holds each sink).

// The driver's own handle; the type is named as the driver declares it ("sqlite3*", and
// "PGconn*" or its struct name "pg_conn*"). Null when the driver gives another.
template <typename Handle>
Handle* NativeHandle(QSqlDatabase& db, std::initializer_list<const char*> typeNames) {
    const QVariant v = db.driver()->handle();
    if (!v.isValid() || std::none_of(typeNames.begin(), typeNames.end(), [&](const char* name) {
            return qstrcmp(v.typeName(), name) == 0;
        }))
        return nullptr;
    return *static_cast<Handle* const*>(v.constData());
}

// "INSERT INTO table (columns) VALUES (markers)": `marker` is "?" for every value, or "$" for
// numbered ones ($1, $2, ...).
QString InsertSql(const SqlDialect& dialect, const QString& table, const QStringList& columns,
                  const QString& marker);

// The common part of a table sink: the connection it owns, the table and its columns.
class TableSinkBase : public BulkRowSink {
  public:
    TableSinkBase(std::unique_ptr<DbConnection> c, QString table);
    ~TableSinkBase() override;

  protected:
    // The destination columns (`given`, or every column of the table) checked against the table
    // and against the number of fields. False with `error` when they do not match.
    bool prepareColumns(const QStringList& given, int fieldCount, QString* error);

    std::unique_ptr<DbConnection> connection_;
    QString table_;
    QStringList columns_;
};
