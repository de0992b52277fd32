#pragma once

#include <cstdint>

// Days from 1970-01-01 to a day of the proleptic Gregorian calendar (month 1 to 12); a day past
// the end of its month counts on into the next, as timegm() has it.
constexpr int64_t DaysSince1970(int64_t year, int month, int day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

static_assert(DaysSince1970(1970, 1, 1) == 0 && DaysSince1970(2000, 3, 1) == 11017 &&
              DaysSince1970(1969, 12, 31) == -1);
