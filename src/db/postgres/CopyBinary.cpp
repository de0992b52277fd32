#include "db/postgres/CopyBinary.h"

#include <QtEndian>
#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

// The server's epoch for dates and time stamps: 2000-01-01.
constexpr int64_t serverEpochDays = 10957;
constexpr int64_t microsPerDay = int64_t(86400) * 1000000;

template <typename T>
char* putBig(char* out, T value) {
    qToBigEndian(value, out);
    return out + sizeof value;
}

bool isDigit(char ch) {
    return ch >= '0' && ch <= '9';
}

// The text without the white space the server's input skips around a value.
QByteArrayView withoutSpaceAround(QByteArrayView text) {
    auto space = [](char ch) {
        return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r' || ch == '\v' || ch == '\f';
    };
    while (!text.isEmpty() && space(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && space(text.back()))
        text.chop(1);
    return text;
}

// An optionally signed run of decimal digits within [low, high].
bool parseInteger(QByteArrayView text, int64_t low, int64_t high, int64_t* value) {
    text = withoutSpaceAround(text);
    bool negative = false;
    if (!text.isEmpty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text = text.sliced(1);
    }
    if (text.isEmpty() || text.size() > 19)
        return false;
    uint64_t magnitude = 0;
    for (const char ch : text) {
        if (!isDigit(ch))
            return false;
        magnitude = magnitude * 10 + uint64_t(ch - '0');
    }
    // 19 digits fit in uint64; the range check below refuses what does not fit the type.
    if (negative ? magnitude > uint64_t(-(low + 1)) + 1 : magnitude > uint64_t(high))
        return false;
    *value = negative ? int64_t(0 - magnitude) : int64_t(magnitude);
    return true;
}

// A decimal number: sign, digits with an optional point, an optional exponent. `digits` gets
// every digit, `pointAt` where the point falls among them once the exponent is applied, `scale`
// the number of digits after the point the server keeps.
struct Decimal {
    bool negative = false;
    char digits[1000];
    int size = 0;
    int pointAt = 0;
    int scale = 0;
};

bool parseDecimal(QByteArrayView text, Decimal* d) {
    text = withoutSpaceAround(text);
    qsizetype i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        d->negative = text[i++] == '-';
    int whole = 0, fraction = 0;
    if (text.size() > qsizetype(sizeof d->digits))
        return false;
    for (; i < text.size() && isDigit(text[i]); ++i, ++whole)
        d->digits[d->size++] = text[i];
    if (i < text.size() && text[i] == '.')
        for (++i; i < text.size() && isDigit(text[i]); ++i, ++fraction)
            d->digits[d->size++] = text[i];
    if (d->size == 0)
        return false;
    int64_t exponent = 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        if (!parseInteger(text.sliced(i + 1), -1000, 1000, &exponent) ||
            withoutSpaceAround(text.sliced(i + 1)).size() != text.size() - i - 1)
            return false;
        i = text.size();
    }
    if (i != text.size())
        return false;
    d->pointAt = whole + int(exponent);
    d->scale = std::max(0, fraction - int(exponent));
    return true;
}

char* putNumeric(char* out, const Decimal& d) {
    // Base-10000 groups aligned on the point: pad the digits to whole groups on both sides.
    const int lead = (4 - ((d.pointAt % 4) + 4) % 4) % 4;
    const int padded = (lead + d.size + 3) / 4 * 4;
    auto digit = [&](int at) {
        return at < lead || at >= lead + d.size ? 0 : d.digits[at - lead] - '0';
    };
    int weight = (d.pointAt + lead) / 4 - 1;
    int first = 0, last = padded / 4;
    auto group = [&](int g) {
        return int16_t(digit(g * 4) * 1000 + digit(g * 4 + 1) * 100 + digit(g * 4 + 2) * 10 +
                       digit(g * 4 + 3));
    };
    while (first < last && group(first) == 0) {
        ++first;
        --weight;
    }
    while (last > first && group(last - 1) == 0)
        --last;
    const bool zero = first == last;
    out = putBig<int32_t>(out, int32_t(8 + 2 * (last - first)));
    out = putBig<int16_t>(out, int16_t(last - first));
    out = putBig<int16_t>(out, int16_t(zero ? 0 : weight));
    out = putBig<uint16_t>(out, d.negative && !zero ? 0x4000 : 0);
    out = putBig<int16_t>(out, int16_t(d.scale));
    for (int g = first; g < last; ++g)
        out = putBig<int16_t>(out, group(g));
    return out;
}

// A plain decimal floating-point number (no NaN or Infinity) read as the server's input reads it.
template <typename Float>
bool parseFloat(QByteArrayView text, Float* value) {
    text = withoutSpaceAround(text);
    Decimal shape;
    if (!parseDecimal(text, &shape))
        return false;
    if (text.front() == '+')
        text = text.sliced(1);
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
    return ec == std::errc() && end == text.data() + text.size();
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t daysFromCivil(int64_t y, int m, int d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

bool fixedNumber(QByteArrayView text, qsizetype at, int width, int* value) {
    *value = 0;
    for (int i = 0; i < width; ++i) {
        if (!isDigit(text[at + i]))
            return false;
        *value = *value * 10 + (text[at + i] - '0');
    }
    return true;
}

// YYYY-MM-DD (years 1 to 9999): days since the server's epoch.
bool parseDate(QByteArrayView text, int64_t* days) {
    int y = 0, m = 0, d = 0;
    if (text.size() != 10 || text[4] != '-' || text[7] != '-' || !fixedNumber(text, 0, 4, &y) ||
        !fixedNumber(text, 5, 2, &m) || !fixedNumber(text, 8, 2, &d))
        return false;
    static constexpr int monthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (y < 1 || m < 1 || m > 12 || d < 1 || d > monthDays[m - 1] || (m == 2 && d == 29 && !leap))
        return false;
    *days = daysFromCivil(y, m, d) - serverEpochDays;
    return true;
}

// YYYY-MM-DD, optionally followed by (space or T) HH:MM:SS and up to six digits of fraction:
// microseconds since the server's epoch.
bool parseTimestamp(QByteArrayView text, int64_t* micros) {
    text = withoutSpaceAround(text);
    int64_t days = 0;
    if (!parseDate(text.first(std::min<qsizetype>(10, text.size())), &days))
        return false;
    *micros = days * microsPerDay;
    if (text.size() == 10)
        return true;
    int h = 0, mi = 0, s = 0;
    if (text.size() < 19 || (text[10] != ' ' && text[10] != 'T') || text[13] != ':' ||
        text[16] != ':' || !fixedNumber(text, 11, 2, &h) || !fixedNumber(text, 14, 2, &mi) ||
        !fixedNumber(text, 17, 2, &s) || h > 23 || mi > 59 || s > 59)
        return false;
    int64_t fraction = 0;
    if (text.size() > 19) {
        const qsizetype digits = text.size() - 20;
        if (text[19] != '.' || digits < 1 || digits > 6)
            return false;
        for (qsizetype i = 20; i < text.size(); ++i) {
            if (!isDigit(text[i]))
                return false;
            fraction = fraction * 10 + (text[i] - '0');
        }
        for (qsizetype i = digits; i < 6; ++i)
            fraction *= 10;
    }
    *micros += ((int64_t(h) * 60 + mi) * 60 + s) * 1000000 + fraction;
    return true;
}

bool parseBool(QByteArrayView text, bool* value) {
    const QByteArray word = withoutSpaceAround(text).toByteArray().toLower();
    static const char* const yes[] = {"t", "true", "y", "yes", "on", "1"};
    static const char* const no[] = {"f", "false", "n", "no", "off", "0"};
    for (const char* w : yes)
        if (word == w) {
            *value = true;
            return true;
        }
    for (const char* w : no)
        if (word == w) {
            *value = false;
            return true;
        }
    return false;
}

}  // namespace

BinaryType BinaryTypeOf(unsigned typeOid) {
    switch (typeOid) {
        case 16:
            return BinaryType::Bool;
        case 20:
            return BinaryType::Int8;
        case 21:
            return BinaryType::Int2;
        case 23:
            return BinaryType::Int4;
        case 25:    // text
        case 1042:  // char(n)
        case 1043:  // varchar(n)
            return BinaryType::Text;
        case 700:
            return BinaryType::Float4;
        case 701:
            return BinaryType::Float8;
        case 1082:
            return BinaryType::Date;
        case 1114:
            return BinaryType::Timestamp;
        case 1700:
            return BinaryType::Numeric;
        default:
            return BinaryType::None;
    }
}

void AppendBinaryCopyHeader(QByteArray& buffer) {
    // The signature, then flags and the length of the header extension (none).
    buffer.append("PGCOPY\n\377\r\n\0\0\0\0\0\0\0\0\0", 19);
}

void AppendBinaryCopyTrailer(QByteArray& buffer) {
    buffer.append("\xff\xff", 2);
}

char* WriteBinaryRowStart(char* out, int fieldCount) {
    return putBig<int16_t>(out, int16_t(fieldCount));
}

char* WriteBinaryNull(char* out) {
    return putBig<int32_t>(out, -1);
}

char* WriteBinaryField(char* out, BinaryType type, QByteArrayView text) {
    int64_t n = 0;
    switch (type) {
        case BinaryType::Text:
            out = putBig<int32_t>(out, int32_t(text.size()));
            memcpy(out, text.data(), size_t(text.size()));
            return out + text.size();
        case BinaryType::Int2:
            if (!parseInteger(text, std::numeric_limits<int16_t>::min(),
                              std::numeric_limits<int16_t>::max(), &n))
                return nullptr;
            return putBig<int16_t>(putBig<int32_t>(out, 2), int16_t(n));
        case BinaryType::Int4:
            if (!parseInteger(text, std::numeric_limits<int32_t>::min(),
                              std::numeric_limits<int32_t>::max(), &n))
                return nullptr;
            return putBig<int32_t>(putBig<int32_t>(out, 4), int32_t(n));
        case BinaryType::Int8:
            if (!parseInteger(text, std::numeric_limits<int64_t>::min(),
                              std::numeric_limits<int64_t>::max(), &n))
                return nullptr;
            return putBig<int64_t>(putBig<int32_t>(out, 8), n);
        case BinaryType::Numeric: {
            Decimal d;
            return parseDecimal(text, &d) ? putNumeric(out, d) : nullptr;
        }
        case BinaryType::Float4: {
            float f = 0;
            if (!parseFloat(text, &f))
                return nullptr;
            return putBig<uint32_t>(putBig<int32_t>(out, 4), std::bit_cast<uint32_t>(f));
        }
        case BinaryType::Float8: {
            double f = 0;
            if (!parseFloat(text, &f))
                return nullptr;
            return putBig<uint64_t>(putBig<int32_t>(out, 8), std::bit_cast<uint64_t>(f));
        }
        case BinaryType::Date:
            if (!parseDate(withoutSpaceAround(text), &n))
                return nullptr;
            return putBig<int32_t>(putBig<int32_t>(out, 4), int32_t(n));
        case BinaryType::Timestamp:
            if (!parseTimestamp(text, &n))
                return nullptr;
            return putBig<int64_t>(putBig<int32_t>(out, 8), n);
        case BinaryType::Bool: {
            bool b = false;
            if (!parseBool(text, &b))
                return nullptr;
            out = putBig<int32_t>(out, 1);
            *out = char(b ? 1 : 0);
            return out + 1;
        }
        case BinaryType::None:
            break;
    }
    return nullptr;
}
