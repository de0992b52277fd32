#pragma once

#include <QDateTime>
#include <QString>

// Time stamps in the repository: ISO 8601 local time with its offset from UTC, to the second.
namespace RookTime {
QString ToText(const QDateTime& t);
QDateTime FromText(const QString& text);
}  // namespace RookTime
