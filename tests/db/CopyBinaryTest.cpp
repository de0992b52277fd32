#include <gtest/gtest.h>

#include "db/postgres/CopyBinary.h"

namespace {

struct Case {
    BinaryType type;
    const char* text;
    QByteArray encoded;  // empty: left to the server's text input
};

}  // namespace

// Plain forms are written in binary; anything the client might read otherwise than the server
// (other forms, values out of the type's range) is left to the server, never wrapped or cut.
TEST(CopyBinary, FieldsWrittenOrLeftToTheServer) {
    using B = QByteArray;
    const Case cases[] = {
        {BinaryType::Int2, "-32768", B("\0\0\0\2\x80\0", 6)},
        {BinaryType::Int2, "32768", {}},
        {BinaryType::Int4, " +42\t", B("\0\0\0\4\0\0\0\x2a", 8)},
        {BinaryType::Int4, "2147483648", {}},
        {BinaryType::Int4, "-2147483649", {}},
        {BinaryType::Int4, "1e3", {}},
        {BinaryType::Int4, "0x10", {}},
        {BinaryType::Int8, "-9223372036854775808", B("\0\0\0\x08\x80\0\0\0\0\0\0\0", 12)},
        {BinaryType::Int8, "9223372036854775808", {}},
        {BinaryType::Int8, "99999999999999999999", {}},
        // ndigits, weight, sign, scale, then base-10000 digits
        {BinaryType::Numeric, "123.45", B("\0\0\0\x0c\0\2\0\0\0\0\0\2\0\x7b\x11\x94", 16)},
        {BinaryType::Numeric, "-1.5e-3", B("\0\0\0\x0a\0\1\xff\xff\x40\0\0\4\0\x0f", 14)},
        {BinaryType::Numeric, "-000.000", B("\0\0\0\x08\0\0\0\0\0\0\0\3", 12)},
        {BinaryType::Numeric, "2E+4", B("\0\0\0\x0a\0\1\0\1\0\0\0\0\0\2", 14)},
        {BinaryType::Numeric, "NaN", {}},
        {BinaryType::Numeric, "1e1001", {}},
        {BinaryType::Numeric, "1.2.3", {}},
        {BinaryType::Numeric, ".", {}},
        {BinaryType::Float8, "1e400", {}},
        {BinaryType::Float8, "Infinity", {}},
        {BinaryType::Float8, "-0.5", B("\0\0\0\x08\xbf\xe0\0\0\0\0\0\0", 12)},
        {BinaryType::Date, "2000-01-01", B("\0\0\0\4\0\0\0\0", 8)},
        {BinaryType::Date, "1999-12-31", B("\0\0\0\4\xff\xff\xff\xff", 8)},
        {BinaryType::Date, "2023-02-29", {}},
        {BinaryType::Date, "01/02/2026", {}},
        {BinaryType::Timestamp, "2000-01-01T00:00:01.5", B("\0\0\0\x08\0\0\0\0\0\x16\xe3\x60", 12)},
        {BinaryType::Timestamp, "2000-01-01 24:00:00", {}},
        {BinaryType::Timestamp, "2000-01-01 00:00:00.1234567", {}},
        {BinaryType::Bool, "Off", B("\0\0\0\1\0", 5)},
        {BinaryType::Bool, "tr", {}},
        {BinaryType::Text, "a\tb\\N", B("\0\0\0\5a\tb\\N", 9)},
        // 1.5 s after the epoch, given in UTC-01:30 and in UTC
        {BinaryType::TimestampTz, "1999-12-31T22:30:01.5-01:30",
         B("\0\0\0\x08\0\0\0\0\0\x16\xe3\x60", 12)},
        {BinaryType::TimestampTzUtc, "2000-01-01 00:00:01.5",
         B("\0\0\0\x08\0\0\0\0\0\x16\xe3\x60", 12)},
        {BinaryType::TimestampTz, "2000-01-01 00:00:01.5", {}},
        {BinaryType::TimestampTz, "2000-01-01 00:00:01 CET", {}},
        {BinaryType::TimestampTz, "2000-01-01 00:00:01+16", {}},
        {BinaryType::Time, "00:00:01.5", B("\0\0\0\x08\0\0\0\0\0\x16\xe3\x60", 12)},
        {BinaryType::Time, "00:00:01.00000000000000000000001", {}},
        {BinaryType::Uuid, "000102030405060708090A0B0C0D0e0f",
         B("\0\0\0\x10\0\1\2\3\4\5\6\7\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f", 20)},
        {BinaryType::Uuid, "00010203-0405-0607-0809-0a0b0c0d0e0g", {}},
        {BinaryType::Jsonb, "[1]", B("\0\0\0\4\1[1]", 8)},
    };
    for (const Case& c : cases) {
        QByteArray buffer(1 + MaxBinaryFieldSize(qstrlen(c.text)), 'x');
        const char* end = WriteBinaryField(buffer.data() + 1, c.type, c.text);
        const bool written = end != nullptr;
        buffer.truncate(written ? end - buffer.constData() : 1);
        EXPECT_EQ(written, !c.encoded.isEmpty()) << c.text;
        EXPECT_EQ(buffer, QByteArray("x") + (written ? c.encoded : QByteArray())) << c.text;
    }
}
