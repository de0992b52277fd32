#pragma once

#include <QString>
#include <QVariant>
#include <optional>

// Conversions of column values read from the data-link catalogue. A null QVariant is SQL NULL; an
// invalid one (no such value) counts as NULL too.

// NULL gives `defaultValue`; any other value its text (booleans as "True"/"False").
QString GetFieldText(const QVariant& value, const QString& defaultValue);

// A number, or a text that reads as one, rounded to a 16-bit integer (halves to even); a value
// outside -32768..32767 gives 32767. NULL or anything else gives `defaultValue`. True counts
// as -1.
short GetFieldInteger(const QVariant& value, short defaultValue);

// NULL gives `defaultValue`; numbers (and texts that read as numbers) are true when not zero; the
// texts "TRUE" and "FALSE" in any letter case give true and false; other texts the default.
bool GetFieldBoolean(const QVariant& value, bool defaultValue);

// The text to bind for a text column: an empty text even when `text` is a null QString, which the
// database drivers would send as NULL (an empty model name must match '' rows, and a record's
// empty fields are stored as empty texts).
inline QString TextParameter(const QString& text) {
    return text.isNull() ? QStringLiteral("") : text;
}

// A value as a 32-bit integer (rounded, halves to even); nothing for NULL, a text that is not a
// number, or a value out of range.
std::optional<qint32> FieldToLong(const QVariant& value);
