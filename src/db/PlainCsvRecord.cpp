#include "db/PlainCsvRecord.h"

void SplitPlainRecord(QByteArrayView record, char delimiter, char quote,
                      std::vector<BulkField>* fields, std::string* scratch) {
    fields->clear();
    scratch->clear();
    scratch->reserve(static_cast<size_t>(record.size()));  // never moves while fields point in
    qsizetype end = record.size();
    if (end > 0 && record[end - 1] == '\n')
        --end;
    if (end > 0 && record[end - 1] == '\r')
        --end;
    const char* const data = record.data();
    qsizetype at = 0;
    for (;;) {
        if (at < end && data[at] == quote) {
            const qsizetype first = ++at;
            bool doubled = false;
            while (at < end && !(data[at] == quote && (at + 1 >= end || data[at + 1] != quote))) {
                doubled = doubled || data[at] == quote;
                at += data[at] == quote ? 2 : 1;
            }
            if (!doubled) {
                fields->push_back({QByteArrayView(data + first, at - first), false});
            } else {
                const size_t made = scratch->size();
                for (qsizetype i = first; i < at; i += data[i] == quote ? 2 : 1)
                    scratch->push_back(data[i]);
                fields->push_back(
                    {QByteArrayView(scratch->data() + made, scratch->size() - made), false});
            }
            ++at;  // the closing quote
        } else {
            const qsizetype first = at;
            while (at < end && data[at] != delimiter)
                ++at;
            fields->push_back({QByteArrayView(data + first, at - first), at == first});
        }
        if (at >= end)
            return;
        ++at;  // the delimiter
    }
}
