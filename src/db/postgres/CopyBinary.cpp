#include "db/postgres/CopyBinary.h"

#include <QtEndian>
#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>

#include "util/CalendarDays.h"

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
    *days = DaysSince1970(y, m, d) - serverEpochDays;
    return true;
}

// HH:MM:SS and up to six digits of fraction at the start of `text`: microseconds since
// midnight, and in `used` how many bytes they took.
bool parseClock(QByteArrayView text, int64_t* micros, qsizetype* used) {
    int h = 0, mi = 0, s = 0;
    if (text.size() < 8 || text[2] != ':' || text[5] != ':' || !fixedNumber(text, 0, 2, &h) ||
        !fixedNumber(text, 3, 2, &mi) || !fixedNumber(text, 6, 2, &s) || h > 23 || mi > 59 ||
        s > 59)
        return false;
    qsizetype at = 8;
    int64_t fraction = 0;
    if (at < text.size() && text[at] == '.') {
        int digits = 0;
        for (++at; at < text.size() && isDigit(text[at]); ++at, ++digits)
            if (digits < 6)
                fraction = fraction * 10 + (text[at] - '0');
        if (digits < 1 || digits > 6)
            return false;
        for (int i = digits; i < 6; ++i)
            fraction *= 10;
    }
    *micros = ((int64_t(h) * 60 + mi) * 60 + s) * 1000000 + fraction;
    *used = at;
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
    int64_t clock = 0;
    qsizetype used = 0;
    if ((text[10] != ' ' && text[10] != 'T') || !parseClock(text.sliced(11), &clock, &used) ||
        11 + used != text.size())
        return false;
    *micros += clock;
    return true;
}

// An offset from UTC as the whole of `text`: Z, or a sign and HH, HH:MM or HHMM (up to 15:59).
bool parseOffset(QByteArrayView text, int64_t* micros) {
    if (text == "Z") {
        *micros = 0;
        return true;
    }
    int h = 0, m = 0;
    const qsizetype n = text.size();
    if ((n != 3 && n != 5 && n != 6) || (text[0] != '+' && text[0] != '-') ||
        !fixedNumber(text, 1, 2, &h) || (n == 6 && text[3] != ':') ||
        (n > 3 && !fixedNumber(text, n - 2, 2, &m)) || h > 15 || m > 59)
        return false;
    *micros = (int64_t(h) * 60 + m) * 60 * 1000000 * (text[0] == '-' ? -1 : 1);
    return true;
}

// A time stamp as parseTimestamp reads it, followed by its offset from UTC; without one only
// when `utcSession`: microseconds since the server's epoch, in UTC.
bool parseTimestampTz(QByteArrayView text, bool utcSession, int64_t* micros) {
    text = withoutSpaceAround(text);
    qsizetype end = text.size();
    for (qsizetype i = 19; i < text.size(); ++i)
        if (text[i] == '+' || text[i] == '-' || text[i] == 'Z') {
            end = i;
            break;
        }
    int64_t offset = 0;
    if (end == text.size() ? !utcSession : !parseOffset(text.sliced(end), &offset))
        return false;
    if (!parseTimestamp(text.first(end), micros))
        return false;
    *micros -= offset;
    return true;
}

// 8-4-4-4-12 hexadecimal digits, or 32 in a row.
bool parseUuid(QByteArrayView text, unsigned char* bytes) {
    const bool hyphens = text.size() == 36;
    if (!hyphens && text.size() != 32)
        return false;
    int nibble = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char ch = text[i];
        if (hyphens && (i == 8 || i == 13 || i == 18 || i == 23)) {
            if (ch != '-')
                return false;
            continue;
        }
        int v;
        if (isDigit(ch))
            v = ch - '0';
        else if (ch >= 'a' && ch <= 'f')
            v = ch - 'a' + 10;
        else if (ch >= 'A' && ch <= 'F')
            v = ch - 'A' + 10;
        else
            return false;
        bytes[nibble / 2] = (nibble % 2 == 0) ? (unsigned char)(v << 4) : bytes[nibble / 2] | v;
        ++nibble;
    }
    return true;
}

bool parseBool(QByteArrayView text, bool* value) {
    const QByteArrayView word = withoutSpaceAround(text);
    static const char* const yes[] = {"t", "true", "y", "yes", "on", "1"};
    static const char* const no[] = {"f", "false", "n", "no", "off", "0"};
    for (const char* w : yes)
        if (word.compare(w, Qt::CaseInsensitive) == 0) {
            *value = true;
            return true;
        }
    for (const char* w : no)
        if (word.compare(w, Qt::CaseInsensitive) == 0) {
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
        case 114:   // json
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
        case 1184:
            return BinaryType::TimestampTz;
        case 1083:
            return BinaryType::Time;
        case 2950:
            return BinaryType::Uuid;
        case 3802:
            return BinaryType::Jsonb;
        default:
            return BinaryType::None;
    }
}

bool IsUtcZoneName(QByteArrayView name) {
    static constexpr const char* utc[] = {"UTC",   "UCT",       "GMT",       "GMT0", "GMT+0",
                                          "GMT-0", "Greenwich", "Universal", "Zulu"};
    QByteArrayView rest = name;
    if (rest.size() > 4 && QByteArrayView(rest.first(4)).compare("Etc/", Qt::CaseInsensitive) == 0)
        rest = rest.sliced(4);
    for (const char* n : utc)
        if (rest.compare(n, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

void AppendBinaryCopyHeader(QByteArray& buffer) {
    // The signature, then flags and the length of the header extension (none).
    buffer.append("PGCOPY\n\377\r\n\0\0\0\0\0\0\0\0\0", 19);
}

void AppendBinaryCopyTrailer(QByteArray& buffer) {
    buffer.append("\xff\xff", 2);
}

char* WriteBinaryField(char* out, BinaryType type, QByteArrayView text) {
    int64_t n = 0;
    switch (type) {
        case BinaryType::Text:
            return WriteBinaryText(out, text);
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
        case BinaryType::TimestampTz:
        case BinaryType::TimestampTzUtc:
            if (!parseTimestampTz(text, type == BinaryType::TimestampTzUtc, &n))
                return nullptr;
            return putBig<int64_t>(putBig<int32_t>(out, 8), n);
        case BinaryType::Time: {
            qsizetype used = 0;
            const QByteArrayView clock = withoutSpaceAround(text);
            if (!parseClock(clock, &n, &used) || used != clock.size())
                return nullptr;
            return putBig<int64_t>(putBig<int32_t>(out, 8), n);
        }
        case BinaryType::Uuid: {
            unsigned char bytes[16];
            if (!parseUuid(text, bytes))
                return nullptr;
            out = putBig<int32_t>(out, 16);
            memcpy(out, bytes, sizeof bytes);
            return out + sizeof bytes;
        }
        case BinaryType::Jsonb:
            out = putBig<int32_t>(out, int32_t(text.size() + 1));
            *out++ = 1;
            memcpy(out, text.data(), size_t(text.size()));
            return out + text.size();
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
