// libFuzzer target for the flat-file reader of bulk loads. The input supplies the format (the
// delimiter, the quote character or none, the code page) and the file's bytes. Checked: every
// field of a record is valid UTF-8 and readable to its end; records follow one another through the
// file (each span after the one before, its line one more than the line feeds before it); the
// fields are those the reader's rules, written out plainly below, give; reading a record again
// from the start of its span gives the same record, as the row-by-row load of a refused batch
// does; skimming gives the same records, and a record only looked through is plain and splits
// into the same fields; the read-ahead on its own thread hands out the same records as the reader
// itself, skimming or not; a record the reader calls plain, and the CSV line the client writes for
// any record, is one line of CSV that PostgreSQL's COPY reads as the same fields (its rules are
// written out below, from its documentation: quoting may start anywhere in a field, an unquoted CR
// or LF ends the line, the data's lines all end in LF or all in CR LF, "\." alone on a line ends
// the data).

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QUtf8StringView>
#include <algorithm>
#include <cstdint>
#include <vector>

#include "FuzzCheck.h"
#include "db/PlainCsvRecord.h"
#include "db/postgres/CopyText.h"
#include "engine/tasks/FlatFileReadAhead.h"
#include "engine/tasks/FlatFileReader.h"

namespace {

struct Field {
    QByteArray text;
    bool null;
    bool operator==(const Field&) const = default;
};

struct Record {
    FlatFileReader::Status status;
    qint64 line;
    FlatFileReader::Span span;
    QString reason;
    std::vector<Field> fields;
    bool plain = false;
};

std::vector<Field> copyOf(const BulkField* fields, int count) {
    std::vector<Field> copy;
    for (int i = 0; i < count; ++i) {
        const QByteArray text(fields[i].text.data(), fields[i].text.size());
        FUZZ_CHECK(QUtf8StringView(text).isValidUtf8());
        FUZZ_CHECK(!fields[i].null || text.isEmpty());
        copy.push_back({text, fields[i].null});
    }
    return copy;
}

// The fields PostgreSQL's COPY in CSV form reads from `bytes` if they are one line of its data;
// empty when they are not (a line end before the last byte, an open quote, the end-of-data mark).
// The line may end with LF or CR LF (the data's lines all ending alike).
std::vector<Field> copyCsvFields(QByteArrayView bytes, char delimiter, char quote) {
    const qsizetype lineEnd = bytes.endsWith("\r\n") ? 2 : bytes.endsWith('\n') ? 1 : 0;
    const QByteArrayView line = bytes.chopped(lineEnd);
    bool inQuote = false;
    for (const char c : line) {
        if (c == quote)
            inQuote = !inQuote;
        else if (!inQuote && (c == '\n' || c == '\r'))
            return {};
    }
    if (inQuote || lineEnd == 0 || line == "\\.")
        return {};
    std::vector<Field> fields;
    qsizetype at = 0;
    for (;;) {
        Field f{{}, false};
        bool sawQuote = false, quoted = false;
        for (; at < line.size(); ++at) {
            const char c = line[at];
            if (quoted) {
                if (c == quote && at + 1 < line.size() && line[at + 1] == quote)
                    f.text += line[++at];
                else if (c == quote)
                    quoted = false;
                else
                    f.text += c;
            } else if (c == delimiter) {
                break;
            } else if (c == quote) {
                quoted = sawQuote = true;
            } else {
                f.text += c;
            }
        }
        f.null = !sawQuote && f.text.isEmpty();
        fields.push_back(f);
        if (at >= line.size())
            return fields;
        ++at;
    }
}

// The fields of a record the reader read, by its rules written out plainly: `bytes` is the record
// with its line end; fields end at the delimiter or the line end, a field that begins with the
// quote character ends at the next single one (two stand for one), a CR before the line end (or
// the end of the file) is not part of the last field, an empty unquoted field is null, Latin-1
// becomes UTF-8.
std::vector<Field> fieldsByTheRules(QByteArrayView bytes, const FlatFileReader::Format& format) {
    if (bytes.endsWith('\n'))
        bytes.chop(1);
    std::vector<Field> fields;
    qsizetype at = 0;
    for (;;) {
        Field f{{}, false};
        if (format.quote != '\0' && at < bytes.size() && bytes[at] == format.quote) {
            for (++at; at < bytes.size(); ++at) {
                if (bytes[at] == format.quote && at + 1 < bytes.size() &&
                    bytes[at + 1] == format.quote)
                    f.text += bytes[++at];
                else if (bytes[at] == format.quote)
                    break;
                else
                    f.text += bytes[at];
            }
            ++at;  // the closing quote; a delimiter, CR or nothing follows in a good record
            if (at < bytes.size() && bytes[at] == '\r')
                ++at;
        } else {
            while (at < bytes.size() && bytes[at] != format.delimiter)
                f.text += bytes[at++];
            if (at >= bytes.size() && f.text.endsWith('\r'))
                f.text.chop(1);
            f.null = f.text.isEmpty();
        }
        if (format.codePage == CodePage::Latin1)
            f.text = QString::fromLatin1(f.text).toUtf8();
        fields.push_back(f);
        if (at >= bytes.size())
            return fields;
        ++at;
    }
}

// A file of this process in the temporary directory, removed when the process exits.
QString scratchPath() {
    static struct Scratch {
        QString path =
            QDir::tempPath() + QStringLiteral("/pendrill-fuzz-flat-%1.csv").arg(::getpid());
        ~Scratch() { QFile::remove(path); }
    } scratch;
    return scratch.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    static const char delimiters[] = {',', ';', '\t', '|', ' ', '"', '\xa7', 'a'};
    static const char quotes[] = {'"', '\'', '\0', ','};
    const std::uint8_t choice = data[0];
    FlatFileReader::Format format;
    format.delimiter = delimiters[choice & 7];
    format.quote = quotes[(choice >> 3) & 3];
    format.codePage = (choice & 0x20) ? CodePage::Latin1 : CodePage::Utf8;
    if (format.delimiter == format.quote)
        return 0;  // the package's validation refuses such a format
    const bool readAhead = choice & 0x40;

    QFile file(scratchPath());
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(file.write(reinterpret_cast<const char*>(data + 1), qint64(size - 1)) ==
               qint64(size - 1));
    file.close();

    FlatFileReader reader(format);
    QString error;
    FUZZ_CHECK(reader.Open(file.fileName(), &error));
    std::vector<Record> records;
    std::vector<BulkField> fields;
    QString reason;
    for (;;) {
        const FlatFileReader::Status status = reader.Next(&fields, &reason);
        if (status == FlatFileReader::Status::End)
            break;
        Record r{status, reader.RecordLine(), reader.RecordSpan(), reason, {}, reader.Plain()};
        if (status == FlatFileReader::Status::Record) {
            r.fields = copyOf(fields.data(), static_cast<int>(fields.size()));
            FUZZ_CHECK(fieldsByTheRules(reader.Bytes(r.span), format) == r.fields);
        } else
            FUZZ_CHECK(!reason.isEmpty() && !reader.Plain());
        if (reader.Plain())
            FUZZ_CHECK(copyCsvFields(reader.Bytes(r.span), format.delimiter, format.quote) ==
                       r.fields);
        // A record that is not sent as it stands is written as CSV by the client instead.
        if (status == FlatFileReader::Status::Record && format.quote != '\0' &&
            CopyRowAllowed(fields.data(), static_cast<int>(fields.size()), &reason)) {
            for (const bool crLf : {false, true}) {
                QByteArray line;
                AppendCsvRow(line, fields.data(), static_cast<int>(fields.size()), format.delimiter,
                             format.quote, crLf);
                FUZZ_CHECK(line.endsWith(crLf ? "\r\n" : "\n"));
                FUZZ_CHECK(copyCsvFields(line, format.delimiter, format.quote) == r.fields);
            }
        }
        FUZZ_CHECK(r.span.begin < r.span.end && r.span.end <= qsizetype(size - 1));
        // A record's line is one more than the line feeds before it.
        FUZZ_CHECK(r.line == 1 + std::count(data + 1, data + 1 + r.span.begin, '\n'));
        if (!records.empty()) {
            FUZZ_CHECK(r.span.begin >= records.back().span.end);
            FUZZ_CHECK(r.line > records.back().line);
        }
        records.push_back(std::move(r));
    }

    // Skimming gives the same records; a record only looked through is plain, and its fields
    // are had again from its bytes.
    FlatFileReader skim(format);
    FUZZ_CHECK(skim.Open(file.fileName(), &error));
    std::string scratch;
    for (const Record& r : records) {
        fields.clear();
        int count = -1;
        bool skimmed = false;
        FUZZ_CHECK(skim.Skim(&fields, &count, &skimmed, &reason) == r.status);
        FUZZ_CHECK(skim.RecordLine() == r.line && skim.RecordSpan().begin == r.span.begin &&
                   skim.RecordSpan().end == r.span.end && skim.Plain() == r.plain);
        if (r.status != FlatFileReader::Status::Record) {
            FUZZ_CHECK(!skimmed && reason == r.reason);
            continue;
        }
        FUZZ_CHECK(count == static_cast<int>(r.fields.size()));
        if (skimmed) {
            FUZZ_CHECK(r.plain && fields.empty());
            SplitPlainRecord(skim.Bytes(r.span), format.delimiter, format.quote, &fields, &scratch);
        }
        FUZZ_CHECK(copyOf(fields.data(), static_cast<int>(fields.size())) == r.fields);
    }
    int endCount = 0;
    bool endSkimmed = false;
    FUZZ_CHECK(skim.Skim(&fields, &endCount, &endSkimmed, &reason) == FlatFileReader::Status::End);

    FlatFileReader again(format);
    FUZZ_CHECK(again.Open(file.fileName(), &error));
    for (const Record& r : records) {
        const FlatFileReader::Status status = again.ReadAt(r.span.begin, &fields, &reason);
        FUZZ_CHECK(status == r.status);
        FUZZ_CHECK(again.RecordSpan().end == r.span.end);
        if (status == FlatFileReader::Status::Record)
            FUZZ_CHECK(copyOf(fields.data(), static_cast<int>(fields.size())) == r.fields);
        else
            FUZZ_CHECK(reason == r.reason);
    }

    if (readAhead) {
        FlatFileReader ahead(format);
        FUZZ_CHECK(ahead.Open(file.fileName(), &error));
        FlatFileReadAhead queue(ahead);
        if (choice & 0x80)  // while the thread may already be reading, as a load does it
            queue.SkimPlainRecords();
        const BulkField* row = nullptr;
        int count = 0;
        for (const Record& r : records) {
            const FlatFileReader::Status status = queue.Next(&row, &count, &reason);
            FUZZ_CHECK(status == r.status && queue.RecordLine() == r.line);
            FUZZ_CHECK(queue.RecordSpan().begin == r.span.begin &&
                       queue.RecordSpan().end == r.span.end);
            if (status == FlatFileReader::Status::Record && row == nullptr) {
                FUZZ_CHECK(r.plain && count == static_cast<int>(r.fields.size()));
                SplitPlainRecord(queue.PlainRecord(), format.delimiter, format.quote, &fields,
                                 &scratch);
                FUZZ_CHECK(copyOf(fields.data(), static_cast<int>(fields.size())) == r.fields);
            } else if (status == FlatFileReader::Status::Record) {
                FUZZ_CHECK(copyOf(row, count) == r.fields);
            } else {
                FUZZ_CHECK(reason == r.reason);
            }
        }
        FUZZ_CHECK(queue.Next(&row, &count, &reason) == FlatFileReader::Status::End);
    }
    return 0;
}
