#include "db/PlainCsvRecord.h"

#include <cstring>

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
                AppendUndoubled(QByteArrayView(data + first, at - first), quote, scratch);
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

void AppendUndoubled(QByteArrayView quoted, char quote, std::string* out) {
    // The text up to each quote and the quote are kept, the quote's second left out.
    for (const char *p = quoted.data(), *e = p + quoted.size(); p < e;) {
        const auto* q = static_cast<const char*>(std::memchr(p, quote, static_cast<size_t>(e - p)));
        const char* upTo = q != nullptr ? q + 1 : e;
        out->append(p, static_cast<size_t>(upTo - p));
        p = upTo + 1;
    }
}
