#include "rook/RookTime.h"

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

}  // namespace RookTime
