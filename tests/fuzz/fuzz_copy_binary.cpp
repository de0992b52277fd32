// libFuzzer target for the client's writer of PostgreSQL's binary COPY. The input supplies a
// column type and the text of a value, as a hostile file may hold it. Checked: the writer stays
// within the room MaxBinaryFieldSize gives it (the buffer is exactly that large, so
// AddressSanitizer sees any byte beyond it); what it writes starts with the length of the rest,
// which fits the type; texts and JSON keep their bytes; an integer written is the value of its
// text; a numeric's digits are base-10000 digits.

#include <QtEndian>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <memory>

#include "FuzzCheck.h"
#include "db/postgres/CopyBinary.h"

namespace {

// The text as the server's integer input reads it, when it is a plain optionally signed run of
// digits with white space around it; false otherwise.
bool plainInteger(QByteArrayView text, int64_t* value) {
    auto space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (!text.isEmpty() && space(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && space(text.back()))
        text.chop(1);
    if (!text.isEmpty() && text.front() == '+')
        text = text.sliced(1);
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
    return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    static const BinaryType types[] = {
        BinaryType::Bool,      BinaryType::Int2,        BinaryType::Int4,
        BinaryType::Int8,      BinaryType::Float4,      BinaryType::Float8,
        BinaryType::Numeric,   BinaryType::Text,        BinaryType::Date,
        BinaryType::Timestamp, BinaryType::TimestampTz, BinaryType::TimestampTzUtc,
        BinaryType::Time,      BinaryType::Uuid,        BinaryType::Jsonb};
    const BinaryType type = types[data[0] % (sizeof types / sizeof types[0])];
    const QByteArrayView text(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    const qsizetype room = MaxBinaryFieldSize(text.size());
    const std::unique_ptr<char[]> buffer(new char[size_t(room)]);
    char* const start = buffer.get();
    const char* const end = WriteBinaryField(start, type, text);
    if (type == BinaryType::Text || type == BinaryType::Jsonb)
        FUZZ_CHECK(end != nullptr);
    if (end == nullptr)
        return 0;
    FUZZ_CHECK(end >= start + 4 && end <= start + room);
    const int32_t length = qFromBigEndian<int32_t>(start);
    FUZZ_CHECK(length == end - start - 4);
    const char* value = start + 4;

    int64_t integer = 0;
    switch (type) {
        case BinaryType::Bool:
            FUZZ_CHECK(length == 1 && (value[0] == 0 || value[0] == 1));
            break;
        case BinaryType::Int2:
            FUZZ_CHECK(length == 2 && plainInteger(text, &integer) &&
                       qFromBigEndian<int16_t>(value) == integer);
            break;
        case BinaryType::Int4:
            FUZZ_CHECK(length == 4 && plainInteger(text, &integer) &&
                       qFromBigEndian<int32_t>(value) == integer);
            break;
        case BinaryType::Int8:
            FUZZ_CHECK(length == 8 && plainInteger(text, &integer) &&
                       qFromBigEndian<int64_t>(value) == integer);
            break;
        case BinaryType::Float4:
        case BinaryType::Date:
            FUZZ_CHECK(length == 4);
            break;
        case BinaryType::Float8:
        case BinaryType::Timestamp:
        case BinaryType::TimestampTz:
        case BinaryType::TimestampTzUtc:
        case BinaryType::Time:
            FUZZ_CHECK(length == 8);
            break;
        case BinaryType::Uuid:
            FUZZ_CHECK(length == 16);
            break;
        case BinaryType::Text:
            FUZZ_CHECK(length == text.size() &&
                       std::memcmp(value, text.data(), size_t(length)) == 0);
            break;
        case BinaryType::Jsonb:
            FUZZ_CHECK(length == text.size() + 1 && value[0] == 1 &&
                       std::memcmp(value + 1, text.data(), size_t(text.size())) == 0);
            break;
        case BinaryType::Numeric: {
            const int16_t digits = qFromBigEndian<int16_t>(value);
            const uint16_t sign = qFromBigEndian<uint16_t>(value + 4);
            FUZZ_CHECK(digits >= 0 && length == 8 + 2 * digits);
            FUZZ_CHECK(sign == 0 || sign == 0x4000);
            FUZZ_CHECK(qFromBigEndian<int16_t>(value + 6) >= 0);
            for (int i = 0; i < digits; ++i) {
                const int16_t digit = qFromBigEndian<int16_t>(value + 8 + 2 * i);
                FUZZ_CHECK(digit >= 0 && digit < 10000);
            }
            FUZZ_CHECK(digits == 0 || (qFromBigEndian<int16_t>(value + 8) != 0 &&
                                       qFromBigEndian<int16_t>(value + 6 + 2 * digits) != 0));
            break;
        }
        case BinaryType::None:
            FUZZ_CHECK(false);
    }
    return 0;
}
