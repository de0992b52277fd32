#pragma once

#include <QList>
#include <QPair>
#include <QString>

#include "app/MainFormModel.h"

class DataLink;

// The rules of the data-link editor panels that need no widget.

// Empties the fields of `source` that the panel of kind `panel` does not show (texts become
// empty, the trusted-login flag false). The connection-text panel and the flat-file panel clear
// nothing here.
void ClearFieldsForPanel(MainFormModel::DataLinkPanel panel, DataLink& source);

// Gives versionless provider names their version: a text beginning with "Provider=MSDASQL;",
// "Provider=MSDAORA;" or "Provider=SQLOLEDB;" (exact case) gets ".1" after the name. The three
// rewritings run one after the other on the current text.
QString AddProviderVersion(const QString& connectText);

// Reads a data-link (.udl) file: UTF-16 with a byte-order mark, or UTF-8 (with or without one).
// The connection text is the first line after the "[oledb]" header that is neither empty nor a
// comment (";" first). False when the file cannot be read, has no header or holds no connection
// text; `connectText` is then empty.
bool ReadDataLinkFile(const QString& path, QString& connectText);

// Parses the file's bytes as ReadDataLinkFile does.
bool ParseDataLinkText(const QByteArray& bytes, QString& connectText);

// A provider connection text as name/value pairs, in order ("a=1;b=2" gives (a,1),(b,2)). Values
// in double quotes keep their semicolons; empty parts are skipped.
QList<QPair<QString, QString>> SplitConnectText(const QString& connectText);
// The pairs joined again; values holding ';' or starting with a blank are put in double quotes.
QString JoinConnectText(const QList<QPair<QString, QString>>& pairs);

// The warning for a data-link file without a connection text.
inline constexpr const char* InvalidConnectInfoTitle = "Invalid connect info";
QString InvalidConnectInfoText();
