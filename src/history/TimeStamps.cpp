#include "history/TimeStamps.h"

#include <QRegularExpression>
#include <QTimeZone>
#include <cstdio>
#include <ctime>
#include <limits>

#include "util/CalendarDays.h"

namespace TimeStamps {

// Through the C library's local time, as LocalText: Qt's own conversion reads the zone files
// again for every value, and a copy of many files stores two times for each.
QString ToText(const QDateTime& t) {
    if (!t.isValid())
        return QString();
    const qint64 ms = t.toMSecsSinceEpoch();
    return LocalText(ms / 1000 - (ms % 1000 < 0 ? 1 : 0));
}

QDateTime FromText(const QString& text) {
    return QDateTime::fromString(text, Qt::ISODate);
}

namespace {

// The broken-down local time of `secs`. The time zone is read once; QDateTime::toLocalTime looks
// at the zone files again for every value, which dominates a listing of many records.
struct tm localParts(qint64 secs) {
    static const bool zoneRead = [] {
        ::tzset();
        return true;
    }();
    Q_UNUSED(zoneRead);
    const time_t t = static_cast<time_t>(secs);
    struct tm parts {};
    ::localtime_r(&t, &parts);
    return parts;
}

// localtime_r's offset from UTC at `secs`.
long zoneOffset(qint64 secs) {
    return localParts(secs).tm_gmtoff;
}

// The period of `secs` as Qt's time zone data bounds it, kept only when the C library gives the
// same offset at both of its ends and at `secs`, so that a zone the two read differently is
// never cached. Empty when it cannot be bounded.
LocalTimes::Period periodAround(const QTimeZone& zone, qint64 secs, long offset) {
    LocalTimes::Period period;
    const QTimeZone::OffsetData before =
        zone.previousTransition(QDateTime::fromSecsSinceEpoch(secs + 1, QTimeZone::utc()));
    const QTimeZone::OffsetData after =
        zone.nextTransition(QDateTime::fromSecsSinceEpoch(secs, QTimeZone::utc()));
    if (!before.atUtc.isValid() || !after.atUtc.isValid())
        return period;
    const qint64 from = before.atUtc.toSecsSinceEpoch();
    const qint64 until = after.atUtc.toSecsSinceEpoch();
    if (from > secs || until <= secs || before.offsetFromUtc != offset ||
        zoneOffset(from) != offset || zoneOffset(until - 1) != offset ||
        zoneOffset(until) == offset)
        return period;
    period.from = from;
    period.until = until;
    period.offset = offset;
    return period;
}

void putDigits(char*& to, long value, int width) {
    for (int i = width - 1; i >= 0; --i) {
        to[i] = char('0' + value % 10);
        value /= 10;
    }
    to += width;
}

// "yyyy-MM-ddThh:mm:ss" (separator `sep`) followed by the offset: "Z" for 0 when `zulu`, else
// "+hh:mm" after `offsetSep`.
QString format(const struct tm& p, char sep, bool zulu, const char* offsetSep) {
    const long offset = p.tm_gmtoff;
    const long minutes = (offset < 0 ? -offset : offset) / 60;
    const int year = p.tm_year + 1900;
    if (year < 0 || year > 9999) {  // beyond four digits: as printf writes it
        char text[96];
        if (zulu && offset == 0) {
            std::snprintf(text, sizeof text, "%04d-%02d-%02d%c%02d:%02d:%02dZ", year, p.tm_mon + 1,
                          p.tm_mday, sep, p.tm_hour, p.tm_min, p.tm_sec);
        } else {
            std::snprintf(text, sizeof text, "%04d-%02d-%02d%c%02d:%02d:%02d%s%c%02ld:%02ld", year,
                          p.tm_mon + 1, p.tm_mday, sep, p.tm_hour, p.tm_min, p.tm_sec, offsetSep,
                          offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
        }
        return QString::fromLatin1(text);
    }
    char text[48];
    char* to = text;
    putDigits(to, year, 4);
    *to++ = '-';
    putDigits(to, p.tm_mon + 1, 2);
    *to++ = '-';
    putDigits(to, p.tm_mday, 2);
    *to++ = sep;
    putDigits(to, p.tm_hour, 2);
    *to++ = ':';
    putDigits(to, p.tm_min, 2);
    *to++ = ':';
    putDigits(to, p.tm_sec, 2);
    if (zulu && offset == 0) {
        *to++ = 'Z';
    } else {
        for (const char* c = offsetSep; *c != '\0'; ++c)
            *to++ = *c;
        *to++ = offset < 0 ? '-' : '+';
        putDigits(to, minutes / 60 % 100, 2);
        *to++ = ':';
        putDigits(to, minutes % 60, 2);
    }
    return QString::fromLatin1(text, to - text);
}

int digits(QStringView s, qsizetype from, qsizetype count) {
    int v = 0;
    for (qsizetype i = from; i < from + count; ++i) {
        if (i >= s.size() || !s.at(i).isDigit())
            return -1;
        v = v * 10 + s.at(i).digitValue();
    }
    return v;
}

}  // namespace

std::optional<qint64> StoredSeconds(QStringView s) {
    if (s.size() < 20 || s.at(4) != u'-' || s.at(7) != u'-' ||
        (s.at(10) != u'T' && s.at(10) != u' ') || s.at(13) != u':' || s.at(16) != u':')
        return std::nullopt;
    struct tm p {};
    p.tm_year = digits(s, 0, 4) - 1900;
    p.tm_mon = digits(s, 5, 2) - 1;
    p.tm_mday = digits(s, 8, 2);
    p.tm_hour = digits(s, 11, 2);
    p.tm_min = digits(s, 14, 2);
    p.tm_sec = digits(s, 17, 2);
    if (p.tm_year < -1900 || p.tm_mon < 0 || p.tm_mon > 11 || p.tm_mday < 1 || p.tm_mday > 31 ||
        p.tm_hour < 0 || p.tm_hour > 23 || p.tm_min < 0 || p.tm_min > 59 || p.tm_sec < 0 ||
        p.tm_sec > 60)
        return std::nullopt;
    qsizetype i = 19;
    if (s.at(i) == u'.') {  // fractions of a second
        ++i;
        while (i < s.size() && s.at(i).isDigit())
            ++i;
    }
    int offset = 0;
    const QStringView zone = s.mid(i);
    if (zone == u"Z") {
        offset = 0;
    } else if ((zone.size() == 6 && zone.at(3) == u':') || zone.size() == 5) {
        const int hours = digits(zone, 1, 2);
        const int mins = digits(zone, zone.size() - 2, 2);
        if ((zone.at(0) != u'+' && zone.at(0) != u'-') || hours < 0 || hours > 23 || mins < 0 ||
            mins > 59)
            return std::nullopt;
        offset = (hours * 3600 + mins * 60) * (zone.at(0) == u'-' ? -1 : 1);
    } else {
        return std::nullopt;
    }
    return DaysSince1970(p.tm_year + 1900, p.tm_mon + 1, p.tm_mday) * 86400 + p.tm_hour * 3600 +
           p.tm_min * 60 + p.tm_sec - offset;
}

QString LocalText(qint64 secs) {
    return format(localParts(secs), 'T', true, "");
}

QString LocalTimes::Text(qint64 secs) {
    struct tm parts {};
    if (secs >= period_.from && secs < period_.until) {
        const time_t shifted = static_cast<time_t>(secs + period_.offset);
        ::gmtime_r(&shifted, &parts);
        parts.tm_gmtoff = period_.offset;
        return format(parts, 'T', true, "");
    }
    parts = localParts(secs);
    // A zone whose periods cannot be bounded (UTC, no data) is not asked again and again.
    if (misses_ < 8) {
        if (!zone_)
            zone_ = QTimeZone::systemTimeZone();
        if (zone_->isValid() && zone_->hasTransitions()) {
            period_ = periodAround(*zone_, secs, parts.tm_gmtoff);
        } else if (zone_->isValid() && ::daylight == 0 && parts.tm_gmtoff == -::timezone) {
            // A zone that never changes its offset (UTC): one period for all times.
            period_ = {std::numeric_limits<qint64>::min() / 2,
                       std::numeric_limits<qint64>::max() / 2, parts.tm_gmtoff};
        }
        misses_ = period_.until > period_.from ? 0 : misses_ + 1;
    }
    return format(parts, 'T', true, "");
}

QString DisplayText(const QString& stored) {
    if (const std::optional<qint64> secs = StoredSeconds(stored))
        return format(localParts(*secs), ' ', false, " ");
    const QDateTime t = FromText(stored);
    if (!t.isValid())
        return stored;
    return format(localParts(t.toSecsSinceEpoch()), ' ', false, " ");
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

}  // namespace TimeStamps
