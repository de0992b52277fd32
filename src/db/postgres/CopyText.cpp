#include "db/postgres/CopyText.h"

#include <cstring>

namespace {
const char* const kNulInValue = "a value holds a NUL character";

// Grows `buffer` by room for the fields with each byte written twice, three bytes more for each
// field and `extra` for the line end; where the row begins.
char* makeRoom(QByteArray& buffer, const BulkField* fields, int count, qsizetype extra) {
    const qsizetype start = buffer.size();
    qsizetype room = extra;
    for (int i = 0; i < count; ++i)
        room += 2 * fields[i].text.size() + 3;
    buffer.resize(start + room);
    return buffer.data() + start;
}
}  // namespace

bool CopyRowAllowed(const BulkField* fields, int count, QString* reason) {
    for (int i = 0; i < count; ++i) {
        const QByteArrayView text = fields[i].text;
        if (!fields[i].null && !text.isEmpty() &&
            std::memchr(text.data(), 0, size_t(text.size()))) {
            *reason = QString::fromLatin1(kNulInValue);
            return false;
        }
    }
    return true;
}

bool AppendCopyRow(QByteArray& buffer, const BulkField* fields, int count, QString* reason) {
    // Room for the row with every character escaped; the buffer is cut to what was written.
    const qsizetype start = buffer.size();
    char* out = makeRoom(buffer, fields, count, 1);
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            *out++ = '\t';
        const BulkField& f = fields[i];
        if (f.null) {
            *out++ = '\\';
            *out++ = 'N';
            continue;
        }
        // Runs of ordinary characters are copied whole; backslash, TAB, LF and CR are escaped.
        const char* p = f.text.data();
        const char* const end = p + f.text.size();
        const char* run = p;
        for (; p != end; ++p) {
            const char ch = *p;
            if (ch != '\\' && ch != '\t' && ch != '\n' && ch != '\r' && ch != '\0')
                continue;
            memcpy(out, run, size_t(p - run));
            out += p - run;
            run = p + 1;
            if (ch == '\0') {
                buffer.truncate(start);
                *reason = QString::fromLatin1(kNulInValue);
                return false;
            }
            *out++ = '\\';
            *out++ = ch == '\\' ? '\\' : ch == '\t' ? 't' : ch == '\n' ? 'n' : 'r';
        }
        memcpy(out, run, size_t(end - run));
        out += end - run;
    }
    *out++ = '\n';
    buffer.truncate(out - buffer.constData());
    return true;
}

void AppendCsvRow(QByteArray& buffer, const BulkField* fields, int count, char delimiter,
                  char quote, bool crLf) {
    // Room for the row with every value quoted and every character doubled; the buffer is cut to
    // what was written.
    char* out = makeRoom(buffer, fields, count, 2);
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            *out++ = delimiter;
        const BulkField& f = fields[i];
        if (f.null)
            continue;
        const char* const begin = f.text.data();
        const char* const end = begin + f.text.size();
        // Quoted only when read otherwise without quotes: empty (that is NULL), holding the
        // delimiter, the quote or a line end, or beginning with a backslash (a line of "\." ends
        // the data).
        bool plain = begin != end && *begin != '\\';
        for (const char* p = begin; plain && p != end; ++p)
            plain = *p != delimiter && *p != quote && *p != '\n' && *p != '\r';
        if (plain) {
            std::memcpy(out, begin, size_t(end - begin));
            out += end - begin;
            continue;
        }
        *out++ = quote;
        for (const char* p = begin; p != end; ++p) {
            *out++ = *p;
            if (*p == quote)
                *out++ = quote;
        }
        *out++ = quote;
    }
    if (crLf)
        *out++ = '\r';
    *out++ = '\n';
    buffer.truncate(out - buffer.constData());
}

QByteArray CopyCharLiteral(char c) {
    // A backslash as an escape string, so that it means the same whatever the server's
    // standard_conforming_strings says; a quote doubled.
    if (c == '\\')
        return QByteArrayLiteral("E'\\\\'");
    if (c == '\'')
        return QByteArrayLiteral("''''");
    return QByteArray("'") + c + '\'';
}

std::vector<QByteArray> DecodeCopyRow(QByteArrayView row, std::vector<bool>& nulls) {
    if (row.endsWith('\n'))
        row.chop(1);
    std::vector<QByteArray> fields(1);
    nulls.assign(1, false);
    for (qsizetype i = 0; i < row.size(); ++i) {
        const char ch = row.at(i);
        if (ch == '\t') {
            fields.emplace_back();
            nulls.push_back(false);
        } else if (ch == '\\' && i + 1 < row.size()) {
            const char next = row.at(++i);
            if (next == 'N' && fields.back().isEmpty())
                nulls.back() = true;
            else
                fields.back() += next == 't'   ? '\t'
                                 : next == 'n' ? '\n'
                                 : next == 'r' ? '\r'
                                               : next;
        } else {
            fields.back() += ch;
        }
    }
    return fields;
}
