#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QSqlDatabase>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <memory>

// A forward-only walk over the rows of one query that gives a field without making a QVariant
// of it: as the stored UTF-8 bytes, an integer or null. On the embedded server it reads the
// statement of the connection's own handle; on the others it reads a forward-only QSqlQuery.
class RowCursor {
  public:
    enum class Kind { Null, Integer, Real, Text, Other };

    virtual ~RowCursor() = default;
    // Moves to the next row; false at the end or on an error (then Error() is not empty).
    virtual bool Next() = 0;
    // What the field holds; Other for anything else, and for every field that is not null on a
    // server other than the embedded one: read it with Value().
    virtual Kind FieldKind(int column) const = 0;
    // The bytes of a text field as stored, valid until the next Next() or Value() (which may
    // convert them); they may be any bytes, not only UTF-8.
    virtual QByteArrayView Utf8(int column) const = 0;
    virtual qint64 Integer(int column) const = 0;
    // The field as a QVariant, exactly as Qt's driver of the connection gives it.
    virtual QVariant Value(int column) const = 0;
    virtual const QString& Error() const = 0;
};

// Runs `sql` with the positional values `binds` on `db`, ready for the first Next(). Null with
// `error` set (the server's words) when the statement cannot be prepared or run.
std::unique_ptr<RowCursor> OpenRowCursor(QSqlDatabase& db, const QString& sql,
                                         const QVariantList& binds, QString* error = nullptr);
