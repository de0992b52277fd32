#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonValue>
#include <QStringView>

// JSON text written straight into a buffer, byte for byte as QJsonDocument writes it, without
// building a document first: a listing of many records spends its time here.
namespace JsonText {
// A JSON string, quotes included, as UTF-8. Quote, backslash and control characters are
// escaped (\" \\ \b \f \n \r \t, else \u00XX); an unpaired surrogate becomes \uXXXX; every
// other character, also U+2028 and U+2029, is written as it is.
void AppendString(QByteArray& out, QStringView text);
// The same for text given as UTF-8 bytes, which are copied as they are. False, with nothing
// written, when they are not strict UTF-8 or hold U+FFFE or U+FFFF (which the embedded server
// reads back as U+FFFD): such text is written from its UTF-16 form by AppendString.
bool AppendUtf8String(QByteArray& out, QByteArrayView text);
// Any JSON value at nesting depth `indent`: indented, the elements of an array or object are
// written on lines of their own, 4 * (indent + 1) blanks in, the closing bracket 4 * indent
// blanks in; compact, with no blanks and no line breaks.
void AppendJsonValue(QByteArray& out, const QJsonValue& value, int indent, bool compact);
}  // namespace JsonText
