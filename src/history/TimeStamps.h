#pragma once

#include <QDateTime>
#include <QString>
#include <QTimeZone>
#include <optional>

// Time stamps in the repository: ISO 8601 local time with its offset from UTC, to the second.
namespace TimeStamps {
QString ToText(const QDateTime& t);
QDateTime FromText(const QString& text);

// Seconds since 1970 of a stored time stamp (ISO 8601 with Z or an offset); nothing when the text
// is no such time stamp. Cheap enough to be called for every record of a long listing.
std::optional<qint64> StoredSeconds(QStringView text);
// Seconds since 1970 as this computer's local time with its offset, in the stored form
// ("2026-12-05T23:10:04+01:00"; "Z" when local time is UTC).
QString LocalText(qint64 secs);

// LocalText for the many times of one listing, while the time zone stays as it is: times within
// one period of the same offset from UTC (between two changes to or from daylight saving time)
// are converted without asking the C library each time.
class LocalTimes {
  public:
    QString Text(qint64 secs);

    struct Period {
        qint64 from = 0;   // first second
        qint64 until = 0;  // first second after; empty: none known
        long offset = 0;
    };

  private:
    std::optional<QTimeZone> zone_;
    Period period_;
    int misses_ = 0;
};

// A stored time as people read it: this computer's local time with its offset, in the run log's
// "yyyy-MM-dd hh:mm:ss" followed by the offset ("2026-12-05 23:10:04 +01:00"). A text that is no
// time stamp comes back as it is.
QString DisplayText(const QString& stored);

// A date or date-time given on a command line: YYYY-MM-DD, or YYYY-MM-DDTHH:MM[:SS] (a blank for
// the T is accepted), optionally followed by Z or an offset +HH:MM / -HH:MM; without an offset it
// is local time. A date alone is the start of that day. Nothing when the text is none of these
// or names no real day or time. `*dateOnly` tells whether a date alone was given.
std::optional<QDateTime> ParseCommandLineTime(const QString& text, bool* dateOnly = nullptr);
}  // namespace TimeStamps
