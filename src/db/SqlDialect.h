// The database access layer: DbConnection and DbRecordset (src/db/DbInterface.h) over
// Qt Sql, with servers resolved by ServerResolver and per-server-kind SqlDialect.
#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

class DbConnection;

// What differs between the kinds of server behind a connection: how to list databases and
// columns, and how a few SQL pieces are written.
class SqlDialect {
  public:
    // AutoKey: a primary key the server numbers itself (the whole column definition after the
    // column's name).
    enum class Type { Text, Integer, SmallInt, BigInt, Boolean, Double, Blob, Timestamp, AutoKey };

    virtual ~SqlDialect() = default;
    virtual QString Name() const = 0;
    virtual QString TypeName(Type type) const = 0;
    virtual QString QuoteIdentifier(const QString& name) const;
    // A condition true when the column equals the one bound parameter, NULL included; `binds`
    // tells how often the value must be bound.
    virtual QString NullSafeEquals(const QString& quotedColumn, int& binds) const = 0;
    // A condition true when the column's text equals the one bound text parameter character for
    // character, whatever the column's collation or type makes "=" mean (a case-insensitive
    // collation, citext, SQL Server's default collation).
    virtual QString ExactTextEquals(const QString& quotedColumn) const = 0;
    // An expression for the seconds since 1970 UTC of the ISO 8601 time text `expression`; empty
    // when the server kind leaves that conversion to the program.
    virtual QString StoredTimeSeconds(const QString& expression) const;
    virtual bool ListDatabases(DbConnection& c, QStringList& names) const = 0;
    // Rows of (TABLE_CATALOG, TABLE_SCHEMA, TABLE_NAME, COLUMN_NAME, ORDINAL_POSITION, DATA_TYPE)
    // for the table (all tables when empty).
    virtual bool Columns(DbConnection& c, const QString& table,
                         QVector<QVariantList>& rows) const = 0;
    virtual bool Schemata(DbConnection& c, QStringList& names) const = 0;

    static const SqlDialect& Embedded();
    static const SqlDialect& PostgreSQL();
    static const SqlDialect& SqlServer();
};
