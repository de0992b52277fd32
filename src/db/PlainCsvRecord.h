#pragma once

#include <QByteArrayView>
#include <string>
#include <vector>

#include "db/BulkRowSink.h"

// The fields of a plain CSV record, as the flat-file reader reads them (FlatFileReader::Plain
// says which records are plain): fields end at `delimiter` or at the line end (LF or CR LF); a
// field that begins with `quote` runs to the next single one, two standing for one; an empty
// unquoted field is null. `fields` is replaced by them; a field points into `record`, or into
// `scratch` when its quotes were doubled (valid until the next call with the same `scratch`).
void SplitPlainRecord(QByteArrayView record, char delimiter, char quote,
                      std::vector<BulkField>* fields, std::string* scratch);

// Appends the text between a field's quotes, where every `quote` is the first of a doubled one,
// with each pair taken for one quote.
void AppendUndoubled(QByteArrayView quoted, char quote, std::string* out);
