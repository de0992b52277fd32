#pragma once

#include <QString>

// A count with its noun in the right number: "1 step", "2 steps", "0 steps".
inline QString Counted(qint64 count, const char* singular, const char* plural) {
    return QString::number(count) + QLatin1Char(' ') +
           QLatin1String(count == 1 ? singular : plural);
}
