#include "JsonText.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QLocale>
#include <QVariant>
#include <cmath>

namespace {

char hexDigit(unsigned v) {
    return char(v < 10 ? '0' + v : 'a' + v - 10);
}

void appendBlanks(QByteArray& out, int indent) {
    out.append(qsizetype(4) * indent, ' ');
}

}  // namespace

namespace JsonText {

void AppendString(QByteArray& out, QStringView text) {
    // At most six bytes per UTF-16 unit (\uXXXX), and the two quotes.
    const qsizetype start = out.size();
    out.resize(start + text.size() * 6 + 2);
    char* to = out.data() + start;
    *to++ = '"';
    const char16_t* from = text.utf16();
    const char16_t* const end = from + text.size();
    while (from != end) {
        const char16_t u = *from++;
        if (u >= 0x20 && u < 0x80 && u != '"' && u != '\\') {
            *to++ = char(u);
        } else if (u < 0x80) {
            *to++ = '\\';
            switch (u) {
                case '"':
                    *to++ = '"';
                    break;
                case '\\':
                    *to++ = '\\';
                    break;
                case '\b':
                    *to++ = 'b';
                    break;
                case '\f':
                    *to++ = 'f';
                    break;
                case '\n':
                    *to++ = 'n';
                    break;
                case '\r':
                    *to++ = 'r';
                    break;
                case '\t':
                    *to++ = 't';
                    break;
                default:
                    *to++ = 'u';
                    *to++ = '0';
                    *to++ = '0';
                    *to++ = hexDigit(u >> 4);
                    *to++ = hexDigit(u & 0xf);
            }
        } else if (u < 0x800) {
            *to++ = char(0xc0 | (u >> 6));
            *to++ = char(0x80 | (u & 0x3f));
        } else if (!QChar::isSurrogate(u)) {
            *to++ = char(0xe0 | (u >> 12));
            *to++ = char(0x80 | ((u >> 6) & 0x3f));
            *to++ = char(0x80 | (u & 0x3f));
        } else if (QChar::isHighSurrogate(u) && from != end && QChar::isLowSurrogate(*from)) {
            const char32_t c = QChar::surrogateToUcs4(u, *from++);
            *to++ = char(0xf0 | (c >> 18));
            *to++ = char(0x80 | ((c >> 12) & 0x3f));
            *to++ = char(0x80 | ((c >> 6) & 0x3f));
            *to++ = char(0x80 | (c & 0x3f));
        } else {  // half of a pair, alone: no UTF-8 for it
            *to++ = '\\';
            *to++ = 'u';
            for (int shift = 12; shift >= 0; shift -= 4)
                *to++ = hexDigit((u >> shift) & 0xf);
        }
    }
    *to++ = '"';
    out.truncate(to - out.constData());
}

bool AppendUtf8String(QByteArray& out, QByteArrayView text) {
    // At most six bytes per byte (\u00XX), and the two quotes.
    const qsizetype start = out.size();
    out.resize(start + text.size() * 6 + 2);
    char* to = out.data() + start;
    *to++ = '"';
    const auto* from = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* const end = from + text.size();
    while (from != end) {
        const unsigned char b = *from;
        if (b >= 0x20 && b < 0x80 && b != '"' && b != '\\') {
            *to++ = char(b);
            ++from;
            continue;
        }
        if (b < 0x80) {  // the escapes of AppendString, for one unit
            const char16_t unit = b;
            QByteArray escaped;
            AppendString(escaped, QStringView(&unit, 1));
            escaped.chop(1);
            for (qsizetype i = 1; i < escaped.size(); ++i)
                *to++ = escaped.at(i);
            ++from;
            continue;
        }
        // A whole sequence of 2 to 4 bytes: no overlong form, no surrogate, at most U+10FFFF.
        const int length = b >= 0xf0 ? 4 : b >= 0xe0 ? 3 : b >= 0xc2 ? 2 : 0;
        if (length == 0 || b > 0xf4 || end - from < length) {
            out.truncate(start);
            return false;
        }
        char32_t c = b & (0x7f >> length);
        for (int i = 1; i < length; ++i) {
            if ((from[i] & 0xc0) != 0x80) {
                out.truncate(start);
                return false;
            }
            c = (c << 6) | (from[i] & 0x3f);
        }
        const char32_t least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
        if (c < least || c > 0x10ffff || (c >= 0xd800 && c <= 0xdfff) || c == 0xfffe ||
            c == 0xffff) {
            out.truncate(start);
            return false;
        }
        for (int i = 0; i < length; ++i)
            *to++ = char(*from++);
    }
    *to++ = '"';
    out.truncate(to - out.constData());
    return true;
}

void AppendJsonValue(QByteArray& out, const QJsonValue& value, int indent, bool compact) {
    switch (value.type()) {
        case QJsonValue::Bool:
            out += value.toBool() ? "true" : "false";
            break;
        case QJsonValue::Double:
            // A whole number read or stored as one stays one; a double in its shortest form.
            if (value.toVariant().typeId() == QMetaType::LongLong) {
                out += QByteArray::number(value.toInteger());
            } else {
                const double d = value.toDouble();
                out += std::isfinite(d) ? QByteArray::number(d, 'g', QLocale::FloatingPointShortest)
                                        : QByteArray("null");
            }
            break;
        case QJsonValue::String:
            AppendString(out, value.toString());
            break;
        case QJsonValue::Array: {
            const QJsonArray array = value.toArray();
            out += compact ? "[" : "[\n";
            for (qsizetype i = 0; i < array.size(); ++i) {
                if (!compact)
                    appendBlanks(out, indent + 1);
                AppendJsonValue(out, array.at(i), indent + 1, compact);
                if (i + 1 < array.size())
                    out += compact ? "," : ",\n";
                else if (!compact)
                    out += '\n';
            }
            if (!compact)
                appendBlanks(out, indent);
            out += ']';
            break;
        }
        case QJsonValue::Object: {
            const QJsonObject object = value.toObject();
            out += compact ? "{" : "{\n";
            for (auto it = object.begin(); it != object.end(); ++it) {
                if (!compact)
                    appendBlanks(out, indent + 1);
                AppendString(out, it.key());
                out += compact ? ":" : ": ";
                AppendJsonValue(out, it.value(), indent + 1, compact);
                if (std::next(it) != object.end())
                    out += compact ? "," : ",\n";
                else if (!compact)
                    out += '\n';
            }
            if (!compact)
                appendBlanks(out, indent);
            out += '}';
            break;
        }
        default:
            out += "null";
    }
}

}  // namespace JsonText
