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
