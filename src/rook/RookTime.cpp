#include "rook/RookTime.h"

#include <QRegularExpression>
#include <QTimeZone>

namespace RookTime {

QString ToText(const QDateTime& t) {
    if (!t.isValid())
        return QString();
    const QDateTime local = t.toLocalTime();
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODate);
}

QDateTime FromText(const QString& text) {
    return QDateTime::fromString(text, Qt::ISODate);
}

QString DisplayText(const QString& stored) {
    const QDateTime t = FromText(stored);
    if (!t.isValid())
        return stored;
    const QDateTime local = t.toLocalTime();
    const int offset = local.offsetFromUtc();
    const int minutes = qAbs(offset) / 60;
    return local.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss ")) +
           QLatin1Char(offset < 0 ? '-' : '+') +
           QStringLiteral("%1:%2")
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

std::optional<QDateTime> ParseCommandLineTime(const QString& text, bool* dateOnly) {
    static const QRegularExpression pattern(QStringLiteral(
        R"(^(\d{4})-(\d{2})-(\d{2})(?:[T ](\d{2}):(\d{2})(?::(\d{2}))?(Z|[+-]\d{2}:\d{2})?)?$)"));
    const QRegularExpressionMatch m = pattern.match(text.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    const bool timeGiven = m.hasCaptured(4);
    const QTime time = timeGiven ? QTime(m.captured(4).toInt(), m.captured(5).toInt(),
                                         m.hasCaptured(6) ? m.captured(6).toInt() : 0)
                                 : QTime(0, 0);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    if (dateOnly != nullptr)
        *dateOnly = !timeGiven;
    const QString zone = m.captured(7);
    if (zone.isEmpty())
        return QDateTime(date, time);  // local time
    int offset = 0;
    if (zone != QLatin1String("Z")) {
        const int hours = zone.mid(1, 2).toInt();
        const int mins = zone.mid(4, 2).toInt();
        if (hours > 14 || mins > 59)
            return std::nullopt;
        offset = (hours * 3600 + mins * 60) * (zone.startsWith(QLatin1Char('-')) ? -1 : 1);
    }
    return QDateTime(date, time, QTimeZone(offset));
}

}  // namespace RookTime
