#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <vector>

#include "db/BulkRowSink.h"

// The text format of PostgreSQL's COPY: fields separated by TAB, rows ended by LF, NULL as \N,
// and backslash, TAB, LF and CR escaped with a backslash.

// Appends one row of `count` fields to `buffer`. False, with `buffer` as it was and `reason`
// set, when a value holds a NUL character (COPY text cannot carry it).
bool AppendCopyRow(QByteArray& buffer, const BulkField* fields, int count, QString* reason);
// Whether AppendCopyRow takes the row (no value holds a NUL character); `reason` when not.
bool CopyRowAllowed(const BulkField* fields, int count, QString* reason);

// Appends one row in COPY's CSV form with `delimiter` and `quote` (never equal): a NULL as
// nothing, a value quoted (its quote characters doubled) where it would not read as itself
// without quotes, the row ended by LF, or CR LF when `crLf` (the lines of one COPY in CSV form
// all end alike). The values hold no NUL character (CopyRowAllowed).
void AppendCsvRow(QByteArray& buffer, const BulkField* fields, int count, char delimiter,
                  char quote, bool crLf);
// The COPY option that makes `c` the delimiter or quote character: a string literal of it.
QByteArray CopyCharLiteral(char c);

// The fields of one row as AppendCopyRow wrote it (`row` without or with its final LF); `nulls`
// tells which were NULL.
std::vector<QByteArray> DecodeCopyRow(QByteArrayView row, std::vector<bool>& nulls);
