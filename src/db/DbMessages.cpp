#include "db/DbMessages.h"

#include <QRegularExpression>
#include <QSqlError>
#include <QStringList>

QString OdbcQuotedValue(const QString& value) {
    const bool plain = !value.contains(';') && !value.contains('{') && !value.contains('}') &&
                       value == value.trimmed();
    if (plain)
        return value;
    return '{' + QString(value).replace('}', QStringLiteral("}}")) + '}';
}

QString CleanDbMessage(const QString& text) {
    // Lines that only point into the statement or name the error code: "LINE 1: SELECT ...",
    // "        ^", "(42P01)"; and the ODBC driver's "Error while executing the query".
    static const QRegularExpression positionOrCode(
        QStringLiteral(R"(^(LINE \d+:.*|\^|\([0-9A-Z]{5}\)|Error while executing the query)$)"));
    static const QRegularExpression driverName(QStringLiteral(R"(^Q[A-Z0-9]+: )"));
    static const QRegularExpression bracketTags(QStringLiteral(R"(^(\[[^\]]*\])+)"));
    static const QRegularExpression label(
        QStringLiteral(R"(\b(ERROR|FATAL|PANIC|WARNING|DETAIL|HINT|CONTEXT):\s+)"));
    static const QRegularExpression blanks(QStringLiteral(R"(\s+)"));
    QString joined;
    for (QString line : text.split(QRegularExpression(QStringLiteral("[\r\n]+")))) {
        line = line.trimmed();
        line.remove(driverName);
        line.remove(bracketTags);
        line.replace(label, QString());
        line = line.replace(blanks, QStringLiteral(" ")).trimmed();
        while (line.endsWith(';'))
            line.chop(1);
        if (line.isEmpty() || positionOrCode.match(line).hasMatch() ||
            line.startsWith(QLatin1String("Unable to ")))
            continue;
        if (!joined.isEmpty()) {
            const QChar last = joined.back();
            joined +=
                QStringView(u".?!:").contains(last) ? QStringLiteral(" ") : QStringLiteral("; ");
        }
        joined += line;
    }
    return joined;
}

QString DbErrorMessage(const QSqlError& error, const QString& fallback) {
    QString text = CleanDbMessage(error.databaseText());
    if (text.isEmpty())
        text = CleanDbMessage(error.driverText());
    return text.isEmpty() ? fallback : text;
}
