#include "datasources/FieldConversions.h"

#include <cmath>
#include <limits>

namespace {

bool IsBlankValue(const QVariant& v) {
    return !v.isValid() || v.isNull();
}

// The value as a number: numbers as they are, true as -1 and false as 0, texts when they read as
// a decimal number (surrounding blanks allowed).
std::optional<double> numberOf(const QVariant& v) {
    if (IsBlankValue(v))
        return std::nullopt;
    switch (v.typeId()) {
        case QMetaType::Bool:
            return v.toBool() ? -1.0 : 0.0;
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Long:
        case QMetaType::ULong:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Double:
        case QMetaType::Float:
        case QMetaType::SChar:
        case QMetaType::UChar:
        case QMetaType::Char:
            return v.toDouble();
        default:
            break;
    }
    if (v.canConvert<QString>()) {
        bool ok = false;
        const double d = v.toString().trimmed().toDouble(&ok);
        if (ok && std::isfinite(d))
            return d;
    }
    return std::nullopt;
}

std::optional<double> roundedWithin(const QVariant& v, double low, double high) {
    const std::optional<double> d = numberOf(v);
    if (!d)
        return std::nullopt;
    const double r = std::nearbyint(*d);
    if (r < low || r > high)
        return std::nullopt;
    return r;
}

}  // namespace

QString GetFieldText(const QVariant& value, const QString& defaultValue) {
    if (IsBlankValue(value))
        return defaultValue;
    if (value.typeId() == QMetaType::Bool)
        return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    return value.toString();
}

short GetFieldInteger(const QVariant& value, short defaultValue) {
    if (!numberOf(value))
        return defaultValue;
    const std::optional<double> r = roundedWithin(value, -32768.0, 32767.0);
    return r ? static_cast<short>(*r) : static_cast<short>(32767);
}

bool GetFieldBoolean(const QVariant& value, bool defaultValue) {
    if (IsBlankValue(value))
        return defaultValue;
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (const std::optional<double> d = numberOf(value))
        return *d != 0.0;
    const QString text = value.toString().trimmed();
    if (text.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0)
        return true;
    if (text.compare(QLatin1String("FALSE"), Qt::CaseInsensitive) == 0)
        return false;
    return defaultValue;
}

std::optional<qint32> FieldToLong(const QVariant& value) {
    const std::optional<double> r =
        roundedWithin(value, static_cast<double>(std::numeric_limits<qint32>::min()),
                      static_cast<double>(std::numeric_limits<qint32>::max()));
    if (!r)
        return std::nullopt;
    return static_cast<qint32>(*r);
}
