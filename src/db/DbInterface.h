#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>
#include <memory>

#include "db/DbMessages.h"
#include "db/ServerResolver.h"

class SqlDialect;
class DbBackend;
class DbRecordset;
namespace StopCutter {
class Registration;
}

// A database connection described by a provider and named properties, as the callers of the
// catalogue and data-link code describe it: "Data Source" (server name), "Initial Catalog"
// (database), "User ID", "Password", "Integrated Security" ("SSPI": the operating-system
// account), "Persist Security Info". Property names compare without regard to case.
//
// The server is resolved by ResolveServer: an embedded server (SQLite files in a directory),
// PostgreSQL, or any ODBC server. Nothing here throws; every failure leaves its text in Errors().
class DbConnection {
  public:
    DbConnection();
    ~DbConnection();
    DbConnection(const DbConnection&) = delete;
    DbConnection& operator=(const DbConnection&) = delete;

    QString Provider;
    int ConnectionTimeout = 15;  // seconds
    // Open an embedded database whose file does not exist yet by creating it (the package store
    // "msdb" is always created on demand).
    bool CreateMissingDatabase = false;

    // Describes a connection to `database` on `server` through the "sqloledb" provider: the
    // operating-system account when `trusted` ("Integrated Security" = "SSPI"), else "User ID"
    // and "Password". Other properties already set are kept.
    void Describe(const QString& server, const QString& database, bool trusted, const QString& user,
                  const QString& password);

    void SetProperty(const QString& name, const QVariant& value);
    QVariant Property(const QString& name) const {
        for (const auto& p : props_)
            if (p.first.compare(name.trimmed(), Qt::CaseInsensitive) == 0)
                return p.second;
        return QVariant();
    }
    // "Provider=...;Data Source=...;Initial Catalog=...;..." and back.
    QString ConnectionString() const;
    void SetConnectionString(const QString& text);

    // Opens the connection; State() then tells whether it worked.
    bool Open();
    // 1 open, 0 closed.
    int State() const;
    void Close();
    // One description per error of the last failed operation.
    const QStringList& Errors() const { return errors_; }
    QString ErrorText() const { return errors_.join(QStringLiteral("\r\n")); }

    // --- for the code of this program (not part of the property interface) ---
    const ServerLocation& Server() const { return server_; }
    // Whether the server holds typed columns: a value bound for it must have the column's type,
    // and exact decimals come back exactly only when asked for. False on the embedded server,
    // which keeps every value as it is given.
    bool TypedColumns() const { return server_.kind != ServerLocation::Kind::Embedded; }
    QString DatabaseName() const;  // the "Initial Catalog" opened
    QSqlDatabase& Database() { return db_; }
    const SqlDialect& Dialect() const;
    // The backend of the server kind (the embedded one before the first Open).
    const DbBackend& Backend() const;

    // Runs one statement with `?` parameters; rows affected in `rowsAffected` when given.
    bool Execute(const QString& sql, const QVariantList& params = {}, int* rowsAffected = nullptr);
    // Schema 4 (columns; restrictions catalog, schema, table, column) or 17 (schemata).
    std::unique_ptr<DbRecordset> OpenSchema(int schema, const QVariantList& restrictions = {});
    // The databases of the server, by name.
    bool ListDatabases(QStringList& names);

    // Runs `sql` on `query`: directly without parameters, else prepared with them bound in order.
    static bool RunQuery(QSqlQuery& query, const QString& sql, const QVariantList& params) {
        if (params.isEmpty())
            return query.exec(sql);
        if (!query.prepare(sql))
            return false;
        for (const QVariant& p : params)
            query.addBindValue(p);
        return query.exec();
    }

    void SetError(const QString& text) { errors_ << text; }
    // Adds the error `e` as one line (DbErrorMessage), `fallback` when it says nothing.
    void TakeError(const QSqlError& e, const QString& fallback) {
        errors_ << DbErrorMessage(e, fallback);
    }
    void ClearErrors() { errors_.clear(); }

    // --- for the backends that open the connection (DbBackend::Open) ---
    // The name under which the backend adds its QSqlDatabase.
    const QString& ConnectionName() const { return connectionName_; }
    void SetDialect(const SqlDialect& dialect) { dialect_ = &dialect; }
    void SetDatabaseName(const QString& name) { database_ = name; }

  private:
    QVector<QPair<QString, QVariant>> props_;  // in the order first set, first spelling kept
    QStringList errors_;
    QString connectionName_;
    QSqlDatabase db_;
    ServerLocation server_;
    QString database_;
    const SqlDialect* dialect_ = nullptr;
    const DbBackend* backend_ = nullptr;
    std::unique_ptr<StopCutter::Registration> stopCut_;  // the backend's StopCut, until Close
};

// The rows of a query, fetched whole (a client-side snapshot), with a current row, Null values
// visible as null QVariants, and Update of the current row back into its table.
class DbRecordset {
  public:
    // Runs the query. For a single-table SELECT (SELECT ... FROM table [WHERE ...]) the rows
    // can later be updated.
    bool Open(const QString& sql, DbConnection& connection, const QVariantList& params = {});
    // A record set over rows made here (schema queries).
    static std::unique_ptr<DbRecordset> FromRows(const QStringList& columns,
                                                 const QVector<QVariantList>& rows);

    bool IsEOF() const { return current_ < 0 || current_ >= rows_.size(); }
    void MoveFirst() { current_ = 0; }
    void MoveNext() {
        if (current_ < rows_.size())
            ++current_;
    }
    int RecordCount() const { return static_cast<int>(rows_.size()); }
    int FieldCount() const { return static_cast<int>(columns_.size()); }
    QString FieldName(int index) const { return columns_.value(index); }
    // Index of a column by name (any letter case), -1 when there is none.
    int FieldIndex(const QString& name) const;
    // Value of the current row; an invalid QVariant at EOF or for an unknown column, a null one
    // for SQL NULL.
    QVariant Field(int index) const;
    QVariant Field(const QString& name) const;

    // Sets a column of the current row. False (with LastError) at EOF or for an unknown column.
    bool SetField(const QString& name, const QVariant& value);
    // Writes the changed columns of the current row back.
    bool Update();
    void Close();
    const QString& LastError() const { return error_; }

    static const QString NoCurrentRecordError;

  private:
    DbConnection* connection_ = nullptr;
    QString table_;
    QStringList columns_;
    QVector<QVariantList> rows_;
    QVector<QVariantList> original_;
    QVector<QVector<bool>> changed_;
    qsizetype current_ = 0;
    QString error_;
};
