#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtEndian>
#include <cstdint>
#include <cstring>

// The binary format of PostgreSQL's COPY for the column types whose form the client writes
// itself, so that the server stores the values without parsing text. Only plain forms are
// encoded (the ones the server reads to the same value whatever its settings); anything else is
// left to the server's text input.

enum class BinaryType {
    None,  // written as text by the server's own input
    Bool,
    Int2,
    Int4,
    Int8,
    Float4,
    Float8,
    Numeric,
    Text,  // text, varchar, char and json (which the server checks): the bytes as they are
    Date,
    Timestamp,       // without time zone
    TimestampTz,     // with time zone: written when the value gives its offset from UTC
    TimestampTzUtc,  // the same where the session's time zone is UTC: a value without one is UTC
    Time,            // without time zone
    Uuid,
    Jsonb,  // the text behind the format's version; the server checks it
};

// The type of a column by its type OID; None for a type this encoder does not write.
BinaryType BinaryTypeOf(unsigned typeOid);
// Whether the server's time zone setting `name` (its TimeZone) is UTC under one of its names.
bool IsUtcZoneName(QByteArrayView name);

// The signature and header that start a binary COPY, and the mark that ends it.
void AppendBinaryCopyHeader(QByteArray& buffer);
void AppendBinaryCopyTrailer(QByteArray& buffer);

// The most bytes a field of `textSize` bytes of text takes in binary form (with its length).
constexpr qsizetype MaxBinaryFieldSize(qsizetype textSize) {
    return textSize + 16;
}
constexpr qsizetype binaryRowStartSize = 2;

// The writers below put their bytes at `out` (room for them is the caller's) and return the end
// of what they wrote.
// The start of a row of `fieldCount` fields.
inline char* WriteBinaryRowStart(char* out, int fieldCount) {
    qToBigEndian(int16_t(fieldCount), out);
    return out + 2;
}
// A NULL field.
inline char* WriteBinaryNull(char* out) {
    qToBigEndian(int32_t(-1), out);
    return out + 4;
}
// A field of type Text: its length, then its bytes. Rows are mostly text, so this is inline
// rather than behind the switch of WriteBinaryField.
inline char* WriteBinaryText(char* out, QByteArrayView text) {
    qToBigEndian(int32_t(text.size()), out);
    std::memcpy(out + 4, text.data(), size_t(text.size()));
    return out + 4 + text.size();
}
// One field of `type` (not None) written from `text`. Null when the text is not a plain form of
// the type or its value is out of range: the server then reads the row as text and decides.
char* WriteBinaryField(char* out, BinaryType type, QByteArrayView text);
