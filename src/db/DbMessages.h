#pragma once

#include <QString>

class QSqlError;

// A database error as one line a person can read: the server's own message without the driver's
// generic sentences ("QPSQL: Unable to create query", "Unable to execute statement"), severity
// words, statement positions and error codes, its remaining lines joined. `fallback` when the
// error says nothing beyond such noise.
QString DbErrorMessage(const QSqlError& error, const QString& fallback = QString());
// The same cleaning for a message text of a server or driver.
QString CleanDbMessage(const QString& text);

// `value` as it may stand in an ODBC connection text by the driver manager's rules: a value with
// ";", a brace, or blanks at either end is put in braces with every "}" doubled, so that no value
// can end its attribute and add others ("dw;Database=other" stays one database name). Other
// values stay bare: drivers such as the PostgreSQL one keep braces around a database or user
// name as part of the name.
QString OdbcQuotedValue(const QString& value);
